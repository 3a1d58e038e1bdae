-- Central schema: run with search_path set to the schema kvsystem (created beforehand).
-- Dates are timestamp(0): the production database's DATE has seconds and no fraction.

CREATE TABLE KVS112MND (
  MNDLIZ integer NOT NULL,
  MNDNUM integer NOT NULL,
  MNDSCH varchar(20),
  CONSTRAINT kvs112mnd_key PRIMARY KEY (MNDLIZ, MNDNUM)
);

CREATE TABLE KVS301ASW (
  ASWNUM varchar(50) NOT NULL,
  ASWLIZ integer NOT NULL,
  ASWMND integer NOT NULL,
  ASWPNR varchar(8),
  ASWGVO timestamp(0),
  ASWGBI timestamp(0)
);
CREATE INDEX kvs301asw_badge ON KVS301ASW (ASWNUM);

CREATE TABLE KVS405ZZS (
  ZZSTCD varchar(19) NOT NULL,
  ZZSNUM integer NOT NULL
);
CREATE INDEX kvs405zzs_key ON KVS405ZZS (ZZSTCD);

CREATE TABLE KVS402ZPK (
  ZpkTrm varchar(255) NOT NULL,
  ZpkLes integer NOT NULL,
  ZpkDtm timestamp(0),
  ZpkUhr timestamp(0) NOT NULL,
  ZpkAsw varchar(19),
  ZpkZus integer,
  ZpkFcd varchar(5),
  ZpkMld varchar(255),
  ZpkDat timestamp(0),
  ZpkLfd varchar(3) NOT NULL,
  -- NULLS NOT DISTINCT: rows whose non-NULL key columns agree are duplicates, as in the
  -- production database (an access booking without a badge has ZpkAsw NULL).
  CONSTRAINT kvs402zpk_key UNIQUE NULLS NOT DISTINCT (ZpkTrm, ZpkLes, ZpkUhr, ZpkAsw, ZpkLfd)
);

CREATE TABLE O2009BUCHPROT (
  BPRTRM varchar(255) NOT NULL,
  BPRZLS integer NOT NULL,
  BPRAWV varchar(50) NOT NULL,
  BPRDAT timestamp(0),
  BPRDTE timestamp(0) NOT NULL,
  BPRFCD varchar(5),
  BPRERG integer,
  BPRVAR varchar(2000),
  CONSTRAINT o2009buchprot_key UNIQUE NULLS NOT DISTINCT (BPRTRM, BPRZLS, BPRAWV, BPRDTE, BPRFCD)
);
