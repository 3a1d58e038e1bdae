-- The part of Oracle's data dictionary that the installation self-test reads, as views in a
-- schema SYS on a PostgreSQL test database, made from PostgreSQL's own catalogue: so that the
-- self-test's Oracle texts (SYS.ALL_TAB_COLUMNS, ...) run unchanged through the test driver and
-- report what the test installation declares. Names are in upper case, as Oracle keeps them.
--
-- PostgreSQL has no byte-length text column: a varchar or char column whose comment is 'BYTE'
-- stands for Oracle's VARCHAR2(n BYTE) or CHAR(n BYTE) (CHAR_USED 'B'); every other one counts
-- characters (CHAR_USED 'C'). The database character set follows the server encoding;
-- OPEN_CURSORS is Oracle's default, 50, as the test driver's.
CREATE SCHEMA sys;

-- Oracle's name of a PostgreSQL encoding.
CREATE FUNCTION sys.oracle_character_set() RETURNS varchar LANGUAGE sql STABLE AS $$
  SELECT CASE pg_encoding_to_char(encoding)
           WHEN 'UTF8' THEN 'AL32UTF8' WHEN 'WIN1252' THEN 'WE8MSWIN1252'
           WHEN 'LATIN1' THEN 'WE8ISO8859P1' WHEN 'LATIN9' THEN 'WE8ISO8859P15'
           WHEN 'SQL_ASCII' THEN 'US7ASCII' ELSE pg_encoding_to_char(encoding) END
  FROM pg_database WHERE datname = current_database()
$$;

CREATE VIEW sys.all_tab_columns AS
SELECT upper(n.nspname)::varchar(128) AS owner,
       upper(c.relname)::varchar(128) AS table_name,
       upper(a.attname)::varchar(128) AS column_name,
       (CASE t.typname WHEN 'varchar' THEN 'VARCHAR2' WHEN 'bpchar' THEN 'CHAR'
          WHEN 'text' THEN 'CLOB' WHEN 'int2' THEN 'NUMBER' WHEN 'int4' THEN 'NUMBER'
          WHEN 'int8' THEN 'NUMBER' WHEN 'numeric' THEN 'NUMBER' WHEN 'timestamp' THEN 'DATE'
          WHEN 'date' THEN 'DATE' ELSE upper(t.typname) END)::varchar(128) AS data_type,
       (CASE WHEN t.typname IN ('varchar', 'bpchar') THEN
               (a.atttypmod - 4) * CASE WHEN col_description(c.oid, a.attnum) = 'BYTE'
                                             OR sys.oracle_character_set() <> 'AL32UTF8'
                                        THEN 1 ELSE 4 END
             WHEN t.typname IN ('timestamp', 'date') THEN 7 ELSE 22 END)::integer AS data_length,
       (CASE t.typname WHEN 'int2' THEN 5 WHEN 'int4' THEN 10 WHEN 'int8' THEN 19
          WHEN 'numeric' THEN nullif((a.atttypmod - 4) >> 16, -1) END)::integer AS data_precision,
       (CASE WHEN t.typname IN ('int2', 'int4', 'int8') THEN 0
             WHEN t.typname = 'numeric' AND a.atttypmod > 0 THEN (a.atttypmod - 4) & 65535
        END)::integer AS data_scale,
       (CASE WHEN a.attnotnull THEN 'N' ELSE 'Y' END)::varchar(1) AS nullable,
       a.attnum::integer AS column_id,
       (CASE WHEN t.typname IN ('varchar', 'bpchar') THEN a.atttypmod - 4 ELSE 0 END)::integer
         AS char_length,
       (CASE WHEN t.typname NOT IN ('varchar', 'bpchar') THEN NULL
             WHEN col_description(c.oid, a.attnum) = 'BYTE' THEN 'B' ELSE 'C' END)::varchar(1)
         AS char_used
FROM pg_attribute a
JOIN pg_class c ON c.oid = a.attrelid
JOIN pg_namespace n ON n.oid = c.relnamespace
JOIN pg_type t ON t.oid = a.atttypid
WHERE a.attnum > 0 AND NOT a.attisdropped AND c.relkind IN ('r', 'p', 'v');

CREATE VIEW sys.all_indexes AS
SELECT upper(n.nspname)::varchar(128) AS owner,
       upper(ic.relname)::varchar(128) AS index_name,
       upper(n.nspname)::varchar(128) AS table_owner,
       upper(tc.relname)::varchar(128) AS table_name,
       (CASE WHEN i.indisunique THEN 'UNIQUE' ELSE 'NONUNIQUE' END)::varchar(9) AS uniqueness
FROM pg_index i
JOIN pg_class ic ON ic.oid = i.indexrelid
JOIN pg_class tc ON tc.oid = i.indrelid
JOIN pg_namespace n ON n.oid = tc.relnamespace;

-- An expression stands as Oracle names the hidden column of a function-based index.
CREATE VIEW sys.all_ind_columns AS
SELECT upper(n.nspname)::varchar(128) AS index_owner,
       upper(ic.relname)::varchar(128) AS index_name,
       upper(n.nspname)::varchar(128) AS table_owner,
       upper(tc.relname)::varchar(128) AS table_name,
       (CASE WHEN k.attnum = 0 THEN 'SYS_NC' || lpad(k.position::text, 5, '0') || '$'
             ELSE upper(a.attname) END)::varchar(4000) AS column_name,
       k.position::integer AS column_position
FROM pg_index i
JOIN pg_class ic ON ic.oid = i.indexrelid
JOIN pg_class tc ON tc.oid = i.indrelid
JOIN pg_namespace n ON n.oid = tc.relnamespace
CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, position)
LEFT JOIN pg_attribute a ON a.attrelid = tc.oid AND a.attnum = k.attnum
WHERE k.position <= i.indnkeyatts;

CREATE VIEW sys.nls_database_parameters AS
SELECT 'NLS_CHARACTERSET'::varchar(128) AS parameter, sys.oracle_character_set() AS value
UNION ALL SELECT 'NLS_NCHAR_CHARACTERSET', 'AL16UTF16'
UNION ALL SELECT 'NLS_LENGTH_SEMANTICS', 'BYTE';

-- Oracle's V$PARAMETER is a synonym of SYS.V_$PARAMETER, on which the grants are made. Here a
-- table: a test that gives the driver another ZARVELT_ORA_OPEN_CURSORS changes the row alike.
CREATE TABLE sys.v_$parameter (name varchar(80) PRIMARY KEY, value varchar(4000));
INSERT INTO sys.v_$parameter VALUES ('open_cursors', '50');
