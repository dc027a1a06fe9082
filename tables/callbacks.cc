// The seven record callbacks of every table: each passes its event to the
// owning process's handler, or runs the event's default.  The handlers are
// weak references in the table's descriptor (null when the process does not
// define them); the exported callbacks are one-line wrappers over
// table_callback.
#include <tuple>

#include "tables/internal.h"

namespace orva {

namespace {

// The handler of callback C among the descriptor's handlers.
template <TCb C>
constexpr auto kHandlerOf = std::get<size_t(C)>(
    std::tuple{&TableHandlers::create, &TableHandlers::modify, &TableHandlers::del,
               &TableHandlers::create_dm, &TableHandlers::delete_dm, &TableHandlers::grouping,
               &TableHandlers::free});

// The plain event a DM event continues with when it has no handler.
constexpr TCb plain_of(TCb c) { return c == TCb::CreateDm ? TCb::Create : TCb::Delete; }

}  // namespace

template <const TableDesc &D, TCb C, class... A>
uint32_t table_callback(mox_handle_t *h, uint32_t db, uint32_t *err, A... args) {
  if (*err != 0) return *err;
  mox_clear_last_error(h);
  if (auto handler = D.handlers->*kHandlerOf<C>; handler != nullptr) return handler(h, db, args...);
  *err = 0;
  ttrace(D, static_cast<TMsg>(size_t(TMsg::CbCreate) + size_t(C)));
  if constexpr (C == TCb::CreateDm || C == TCb::DeleteDm)
    return table_callback<D, plain_of(C)>(h, db, err, static_cast<void *>(nullptr), args...);
  return 0;
}

#define ORVA_TABLE_CALLBACK(N, C, ...) \
  template uint32_t table_callback<k_##N, TCb::C>(mox_handle_t *, uint32_t, uint32_t *, __VA_ARGS__);
#define ORVA_TABLE_CALLBACKS(N)                                                              \
  ORVA_TABLE_CALLBACK(N, Create, void *, void *, uint32_t *)                                 \
  ORVA_TABLE_CALLBACK(N, Modify, void *, void *, uint32_t *)                                 \
  ORVA_TABLE_CALLBACK(N, Delete, void *, void *, uint32_t *)                                 \
  ORVA_TABLE_CALLBACK(N, CreateDm, void *, uint32_t *)                                       \
  ORVA_TABLE_CALLBACK(N, DeleteDm, void *, uint32_t *)                                       \
  ORVA_TABLE_CALLBACK(N, Grouping, void *, uint32_t *, uint32_t, uint32_t, uint32_t, uint32_t) \
  ORVA_TABLE_CALLBACK(N, Free, void *, void *, uint32_t *, uint32_t)
ORVA_EACH_TABLE(ORVA_TABLE_CALLBACKS)

}  // namespace orva
