-- What the program's Oracle statement texts need from a PostgreSQL database beyond what both
-- take alike: for src/db/oracle_texts_test.cc, which runs those texts here renaming only the
-- placeholders (:n to $n) and SYSDATE (localtimestamp(0)), and for the test-only ODBC driver
-- with Oracle's personality (tests/oracle_odbc_driver/), whose search path is the session
-- schema, this schema, pg_catalog. Either way the schema comes ahead of pg_catalog (which
-- PostgreSQL otherwise searches first), so that its to_date is the one taken, and a name not
-- found in the session schema is looked for here next, as Oracle's public synonyms are.
-- Nothing here may let a wrong Oracle text pass: where it cannot do what Oracle does, it
-- refuses more, never less. to_char, rpad, regexp_like, || and CASE are PostgreSQL's own: they
-- take the texts' arguments as Oracle does.
CREATE SCHEMA oracle_compat;

-- Oracle's one-row table, for the select of the server time.
CREATE VIEW oracle_compat.dual AS SELECT 'X'::varchar(1) AS dummy;

-- Oracle's to_date(text, mask) gives a moment with its time of day and refuses what is no
-- moment of the calendar, each with its own ORA number; PostgreSQL's to_date drops the time,
-- and its to_timestamp is lenient (month or day 00 taken as 01, year 0000 as 0001). So the text
-- is read here element by element of the mask (yyyy, mm, dd, hh24, mi, ss and the separators;
-- any other element fails with SQLSTATE ZX001, which no backend maps: status -600), each
-- element checked as Oracle checks it while it reads, in the mask's order: year 0 ORA-01841,
-- month ORA-01843, day ORA-01847 (and a day beyond its month ORA-01839), hour ORA-01850,
-- minute ORA-01851, second ORA-01852, a non-digit ORA-01858, a text longer than the mask
-- ORA-01830. Oracle also takes a text shorter than its mask; the program's texts never pass
-- one, and here it fails (ORA-01840). Every refusal has SQLSTATE 22008, as the PostgreSQL
-- texts' refusals; the test driver of tests/oracle_odbc_driver/ passes the ORA number on.
-- One element's number as Oracle checks it while it reads the text.
CREATE FUNCTION oracle_compat.date_element(element text, number integer) RETURNS integer
LANGUAGE plpgsql IMMUTABLE STRICT AS $$
BEGIN
  IF element = 'yyyy' AND number = 0 THEN
    RAISE EXCEPTION 'ORA-01841: (full) year must be between -4713 and +9999, and not be 0'
      USING ERRCODE = '22008';
  ELSIF element = 'mm' AND (number < 1 OR number > 12) THEN
    RAISE EXCEPTION 'ORA-01843: not a valid month' USING ERRCODE = '22008';
  ELSIF element = 'dd' AND (number < 1 OR number > 31) THEN
    RAISE EXCEPTION 'ORA-01847: day of month must be between 1 and last day of month'
      USING ERRCODE = '22008';
  ELSIF element = 'hh24' AND number > 23 THEN
    RAISE EXCEPTION 'ORA-01850: hour must be between 0 and 23' USING ERRCODE = '22008';
  ELSIF element = 'mi' AND number > 59 THEN
    RAISE EXCEPTION 'ORA-01851: minutes must be between 0 and 59' USING ERRCODE = '22008';
  ELSIF element = 'ss' AND number > 59 THEN
    RAISE EXCEPTION 'ORA-01852: seconds must be between 0 and 59' USING ERRCODE = '22008';
  END IF;
  RETURN number;
END
$$;

-- The moment, once every element has passed: a day beyond its month is refused last.
CREATE FUNCTION oracle_compat.date_moment(year integer, month integer, day integer,
                                          hour integer, minute integer, second integer)
RETURNS timestamp LANGUAGE plpgsql IMMUTABLE STRICT AS $$
BEGIN
  IF day > extract(day FROM make_date(year, month, 1) + interval '1 month - 1 day') THEN
    RAISE EXCEPTION 'ORA-01839: date not valid for month specified' USING ERRCODE = '22008';
  END IF;
  RETURN make_timestamp(year, month, day, hour, minute, second);
END
$$;

CREATE FUNCTION oracle_compat.to_date(value text, mask text) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE STRICT AS $$
DECLARE
  rest text := lower(mask);
  at integer := 1;
  element text;
  width integer;
  piece text;
  number integer;
  year integer := 1;
  month integer := 1;
  day integer := 1;
  hour integer := 0;
  minute integer := 0;
  second integer := 0;
BEGIN
  -- The program's mask and 14 digits, the common case, without reading element by element.
  IF rest = 'yyyymmddhh24miss' AND value ~ '^[0-9]{14}$' THEN
    RETURN oracle_compat.date_moment(
      oracle_compat.date_element('yyyy', substr(value, 1, 4)::integer),
      oracle_compat.date_element('mm', substr(value, 5, 2)::integer),
      oracle_compat.date_element('dd', substr(value, 7, 2)::integer),
      oracle_compat.date_element('hh24', substr(value, 9, 2)::integer),
      oracle_compat.date_element('mi', substr(value, 11, 2)::integer),
      oracle_compat.date_element('ss', substr(value, 13, 2)::integer));
  END IF;
  WHILE rest <> '' LOOP
    element := substring(rest FROM '^(yyyy|mm|dd|hh24|mi|ss|[-/.,:; ])');
    IF element IS NULL THEN
      RAISE EXCEPTION 'to_date: format mask "%" has an element not mapped here at "%"', mask, rest
        USING ERRCODE = 'ZX001';
    END IF;
    rest := substr(rest, length(element) + 1);
    IF at > length(value) THEN
      RAISE EXCEPTION 'ORA-01840: input value not long enough for date format'
        USING ERRCODE = '22008';
    END IF;
    IF length(element) = 1 THEN
      IF substr(value, at, 1) <> element THEN
        RAISE EXCEPTION 'ORA-01861: literal does not match format string' USING ERRCODE = '22008';
      END IF;
      at := at + 1;
      CONTINUE;
    END IF;
    width := CASE element WHEN 'yyyy' THEN 4 ELSE 2 END;
    piece := substr(value, at, width);
    IF piece !~ '^[0-9]+$' OR length(piece) < width THEN
      RAISE EXCEPTION 'ORA-01858: a non-numeric character was found where a numeric was expected'
        USING ERRCODE = '22008';
    END IF;
    at := at + width;
    number := oracle_compat.date_element(element, piece::integer);
    CASE element
      WHEN 'yyyy' THEN year := number;
      WHEN 'mm' THEN month := number;
      WHEN 'dd' THEN day := number;
      WHEN 'hh24' THEN hour := number;
      WHEN 'mi' THEN minute := number;
      ELSE second := number;
    END CASE;
  END LOOP;
  IF at <= length(value) THEN
    RAISE EXCEPTION 'ORA-01830: date format picture ends before converting entire input string'
      USING ERRCODE = '22008';
  END IF;
  RETURN oracle_compat.date_moment(year, month, day, hour, minute, second);
END
$$;
