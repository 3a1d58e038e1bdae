-- What the program's Oracle statement texts need from a PostgreSQL database beyond what both
-- take alike, so that src/db/oracle_texts_test.cc can run those texts here. The test renames
-- only placeholders (:n to $n) and SYSDATE (localtimestamp(0)); everything else the texts say
-- runs as written. The schema stands first in the search path, ahead of pg_catalog (which
-- PostgreSQL otherwise searches before the path), so that its to_date is the one taken.
-- Nothing here may let a wrong Oracle text pass: where it cannot do what Oracle does, it
-- refuses more, never less. to_char, rpad, regexp_like, || and CASE are PostgreSQL's own: they
-- take the texts' arguments as Oracle does.
CREATE SCHEMA oracle_compat;

-- Oracle's one-row table, for the select of the server time.
CREATE VIEW oracle_compat.dual AS SELECT 'X'::varchar(1) AS dummy;

-- Oracle's to_date(text, mask) gives a moment with its time of day and refuses what is no
-- moment of the calendar; PostgreSQL's to_date drops the time, and its to_timestamp is lenient
-- (month or day 00 taken as 01, year 0000 as 0001). So the mask is mapped element by element
-- (only the elements whose meaning is the same in both; any other fails the statement with
-- SQLSTATE ZX001, which no backend maps: status -600), the text read with it, and the moment
-- must give the text back: a text longer than the mask, a month, day or year 0, a day beyond
-- its month or an hour 24 fails with 22008, as the PostgreSQL texts' refusals do. Oracle also
-- takes a text shorter than its mask; the program's texts never pass one, and here it fails.
-- Read in UTC, so that no wall-clock time falls into a daylight saving gap.
CREATE FUNCTION oracle_compat.to_date(value text, mask text) RETURNS timestamp
LANGUAGE plpgsql STABLE STRICT SET timezone = 'UTC' AS $$
DECLARE
  rest text := lower(mask);
  element text;
  template text := '';
  moment timestamp;
BEGIN
  WHILE rest <> '' LOOP
    element := substring(rest FROM '^(yyyy|mm|dd|hh24|hh12|hh|mi|ss|[-/.,:; ])');
    IF element IS NULL THEN
      RAISE EXCEPTION 'to_date: format mask "%" has an element not mapped here at "%"', mask, rest
        USING ERRCODE = 'ZX001';
    END IF;
    template := template || CASE element WHEN 'hh' THEN 'HH12' ELSE upper(element) END;
    rest := substr(rest, length(element) + 1);
  END LOOP;
  moment := to_timestamp(value, template)::timestamp;
  IF to_char(moment, template) <> value THEN
    RAISE EXCEPTION 'to_date: "%" is no moment of the format mask "%"', value, mask
      USING ERRCODE = '22008';
  END IF;
  RETURN moment;
END
$$;
