-- Central schema KVSYSTEM as an SQLite file (KVSYSTEM.db).
-- SQLite neither checks text lengths nor knows a date type: dates are texts
-- 'YYYY-MM-DD HH:MM:SS', and named CHECK constraints stand in for the column limits. The
-- client layer turns a failed "length_*" check into ORA-12899 and a failed "date_*" check
-- into ORA-01861, as the production database would report them. The '+0 days' modifier makes
-- strftime normalise the date, so 2024-02-30 no longer equals itself and is refused.

CREATE TABLE KVS112MND (
  MNDLIZ INTEGER NOT NULL,
  MNDNUM INTEGER NOT NULL,
  MNDSCH TEXT CONSTRAINT length_mndsch CHECK (length(MNDSCH) <= 20),
  CONSTRAINT kvs112mnd_key PRIMARY KEY (MNDLIZ, MNDNUM)
);

CREATE TABLE KVS301ASW (
  ASWNUM TEXT NOT NULL CONSTRAINT length_aswnum CHECK (length(ASWNUM) <= 50),
  ASWLIZ INTEGER NOT NULL,
  ASWMND INTEGER NOT NULL,
  ASWPNR TEXT CONSTRAINT length_aswpnr CHECK (length(ASWPNR) <= 8),
  ASWGVO TEXT CONSTRAINT date_aswgvo
    CHECK (ASWGVO IS NULL OR ASWGVO IS strftime('%Y-%m-%d %H:%M:%S', ASWGVO, '+0 days')),
  ASWGBI TEXT CONSTRAINT date_aswgbi
    CHECK (ASWGBI IS NULL OR ASWGBI IS strftime('%Y-%m-%d %H:%M:%S', ASWGBI, '+0 days'))
);
CREATE INDEX kvs301asw_badge ON KVS301ASW (ASWNUM);

CREATE TABLE KVS405ZZS (
  ZZSTCD TEXT NOT NULL CONSTRAINT length_zzstcd CHECK (length(ZZSTCD) <= 19),
  ZZSNUM INTEGER NOT NULL
);
CREATE INDEX kvs405zzs_key ON KVS405ZZS (ZZSTCD);

CREATE TABLE KVS402ZPK (
  ZpkTrm TEXT NOT NULL CONSTRAINT length_zpktrm CHECK (length(ZpkTrm) <= 255),
  ZpkLes INTEGER NOT NULL,
  ZpkDtm TEXT CONSTRAINT date_zpkdtm
    CHECK (ZpkDtm IS NULL OR ZpkDtm IS strftime('%Y-%m-%d %H:%M:%S', ZpkDtm, '+0 days')),
  ZpkUhr TEXT NOT NULL CONSTRAINT date_zpkuhr
    CHECK (ZpkUhr IS strftime('%Y-%m-%d %H:%M:%S', ZpkUhr, '+0 days')),
  ZpkAsw TEXT CONSTRAINT length_zpkasw CHECK (length(ZpkAsw) <= 19),
  ZpkZus INTEGER,
  ZpkFcd TEXT CONSTRAINT length_zpkfcd CHECK (length(ZpkFcd) <= 5),
  ZpkMld TEXT CONSTRAINT length_zpkmld CHECK (length(ZpkMld) <= 255),
  ZpkDat TEXT CONSTRAINT date_zpkdat
    CHECK (ZpkDat IS NULL OR ZpkDat IS strftime('%Y-%m-%d %H:%M:%S', ZpkDat, '+0 days')),
  ZpkLfd TEXT NOT NULL CONSTRAINT length_zpklfd CHECK (length(ZpkLfd) <= 3)
);
-- An access booking without a badge is stored with ZpkAsw NULL. The production database's
-- unique keys treat rows whose non-NULL key columns agree as duplicates; indexing the NULL as
-- '' gives the same, so a booking file transferred twice stores each such row once.
CREATE UNIQUE INDEX kvs402zpk_key
  ON KVS402ZPK (ZpkTrm, ZpkLes, ZpkUhr, ifnull(ZpkAsw, ''), ZpkLfd);

CREATE TABLE O2009BUCHPROT (
  BPRTRM TEXT NOT NULL CONSTRAINT length_bprtrm CHECK (length(BPRTRM) <= 255),
  BPRZLS INTEGER NOT NULL,
  BPRAWV TEXT NOT NULL CONSTRAINT length_bprawv CHECK (length(BPRAWV) <= 50),
  BPRDAT TEXT CONSTRAINT date_bprdat
    CHECK (BPRDAT IS NULL OR BPRDAT IS strftime('%Y-%m-%d %H:%M:%S', BPRDAT, '+0 days')),
  BPRDTE TEXT NOT NULL CONSTRAINT date_bprdte
    CHECK (BPRDTE IS strftime('%Y-%m-%d %H:%M:%S', BPRDTE, '+0 days')),
  BPRFCD TEXT CONSTRAINT length_bprfcd CHECK (length(BPRFCD) <= 5),
  BPRERG INTEGER,
  BPRVAR TEXT CONSTRAINT length_bprvar CHECK (length(BPRVAR) <= 2000)
);
CREATE UNIQUE INDEX o2009buchprot_key
  ON O2009BUCHPROT (BPRTRM, BPRZLS, BPRAWV, BPRDTE, ifnull(BPRFCD, ''));
