// libpq, loaded when the first PostgreSQL connection is made instead of at program start: the
// library and the two dozen it pulls in (TLS, Kerberos, LDAP) cost a run on SQLite more time
// to load than its whole transfer of a small booking file.
#pragma once

#include <libpq-fe.h>

namespace zarvelt::db {

// The libpq functions the PostgreSQL backend calls, under their own names.
struct Libpq {
  decltype(&::PQclear) PQclear;
  decltype(&::PQcmdStatus) PQcmdStatus;
  decltype(&::PQcmdTuples) PQcmdTuples;
  decltype(&::PQconnectdbParams) PQconnectdbParams;
  decltype(&::PQconsumeInput) PQconsumeInput;
  decltype(&::PQenterPipelineMode) PQenterPipelineMode;
  decltype(&::PQerrorMessage) PQerrorMessage;
  decltype(&::PQexitPipelineMode) PQexitPipelineMode;
  decltype(&::PQfinish) PQfinish;
  decltype(&::PQgetResult) PQgetResult;
  decltype(&::PQgetisnull) PQgetisnull;
  decltype(&::PQgetlength) PQgetlength;
  decltype(&::PQgetvalue) PQgetvalue;
  decltype(&::PQisBusy) PQisBusy;
  decltype(&::PQnfields) PQnfields;
  decltype(&::PQntuples) PQntuples;
  decltype(&::PQpipelineSync) PQpipelineSync;
  decltype(&::PQresultErrorField) PQresultErrorField;
  decltype(&::PQresultStatus) PQresultStatus;
  decltype(&::PQsendPrepare) PQsendPrepare;
  decltype(&::PQsendQuery) PQsendQuery;
  decltype(&::PQsendQueryParams) PQsendQueryParams;
  decltype(&::PQsendQueryPrepared) PQsendQueryPrepared;
  decltype(&::PQsocket) PQsocket;
  decltype(&::PQstatus) PQstatus;
};

// Loads libpq on the first call and returns its functions; null when the library or one of
// the functions cannot be found (every later call says the same).
const Libpq* load_libpq();

}  // namespace zarvelt::db
