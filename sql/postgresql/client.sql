-- One client schema: run with search_path set to that schema (created beforehand).

CREATE TABLE KVS131FCD (
  FCDNUM varchar(19) NOT NULL,
  FCDTYP smallint,
  CONSTRAINT kvs131fcd_key PRIMARY KEY (FCDNUM)
);

CREATE TABLE KVS131FCDUEB (
  FCDOLD varchar(19) NOT NULL,
  FCDNEW varchar(3),
  CONSTRAINT kvs131fcdueb_key PRIMARY KEY (FCDOLD)
);
