#include "db/libpq_loader.h"

#include <dlfcn.h>

#include <initializer_list>

namespace zarvelt::db {
namespace {

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

bool resolve_all(void* library, Libpq& pq) {
#define ZARVELT_RESOLVE(name) resolve(library, #name, pq.name)
  return ZARVELT_RESOLVE(PQclear) && ZARVELT_RESOLVE(PQcmdStatus) && ZARVELT_RESOLVE(PQcmdTuples) &&
         ZARVELT_RESOLVE(PQconnectdbParams) && ZARVELT_RESOLVE(PQconsumeInput) &&
         ZARVELT_RESOLVE(PQenterPipelineMode) && ZARVELT_RESOLVE(PQerrorMessage) &&
         ZARVELT_RESOLVE(PQexitPipelineMode) && ZARVELT_RESOLVE(PQfinish) &&
         ZARVELT_RESOLVE(PQgetResult) && ZARVELT_RESOLVE(PQgetisnull) &&
         ZARVELT_RESOLVE(PQgetlength) && ZARVELT_RESOLVE(PQgetvalue) && ZARVELT_RESOLVE(PQisBusy) &&
         ZARVELT_RESOLVE(PQnfields) && ZARVELT_RESOLVE(PQntuples) &&
         ZARVELT_RESOLVE(PQpipelineSync) && ZARVELT_RESOLVE(PQresultErrorField) &&
         ZARVELT_RESOLVE(PQresultStatus) && ZARVELT_RESOLVE(PQsendPrepare) &&
         ZARVELT_RESOLVE(PQsendQuery) && ZARVELT_RESOLVE(PQsendQueryParams) &&
         ZARVELT_RESOLVE(PQsendQueryPrepared) && ZARVELT_RESOLVE(PQsocket) &&
         ZARVELT_RESOLVE(PQstatus);
#undef ZARVELT_RESOLVE
}

const Libpq* load_once() {
  static Libpq pq;
  // The versioned name is the run-time library; the plain name exists where only the
  // development package is installed.
  for (const char* name : {"libpq.so.5", "libpq.so"}) {
    if (void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
      if (resolve_all(library, pq)) return &pq;
      dlclose(library);
    }
  }
  return nullptr;
}

}  // namespace

const Libpq* load_libpq() {
  static const Libpq* const loaded = load_once();
  return loaded;
}

}  // namespace zarvelt::db
