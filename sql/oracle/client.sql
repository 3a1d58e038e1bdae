-- One client schema on the production database (reference; run as that schema's owner).
-- The program reads these tables only.

CREATE TABLE KVS131FCD (
  FCDNUM VARCHAR2(19 CHAR) NOT NULL,
  FCDTYP NUMBER(5),
  CONSTRAINT kvs131fcd_key PRIMARY KEY (FCDNUM)
);

CREATE TABLE KVS131FCDUEB (
  FCDOLD VARCHAR2(19 CHAR) NOT NULL,
  FCDNEW VARCHAR2(3 CHAR),
  CONSTRAINT kvs131fcdueb_key PRIMARY KEY (FCDOLD)
);
