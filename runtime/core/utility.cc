// Small platform services: write-range declarations, their error report, the
// caller's tenant and the assertion that stops the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/db_internal.h"
#include "internal.h"

namespace {

// The runtime's own trace messages.
const char *const kRuntimeFormats[] = {
    " plume: write range refused: %s (%u)",
};
const quill_section_desc_t kRuntimeSection = {1, 0, {0}};

}  // namespace

// The trace module id of the runtime's own messages.
uint16_t mox_rt::runtime_trace_id() {
  static const uint16_t id = [] {
    uint16_t assigned = 0;
    uint32_t reg = 0;
    quill_module_init_fn("mox_runtime", &assigned, &reg);
    quill_catalogue_register(&kRuntimeSection, sizeof kRuntimeFormats / sizeof kRuntimeFormats[0],
                             kRuntimeFormats);
    return assigned;
  }();
  return id;
}

extern "C" {

// Private memory and every database id may be written: the runtime keeps no
// write-protected database memory.  A null address with a length is 14.
MOX_API uint32_t plume_set_range(void *heap, void *addr, uint32_t len, uint32_t db) {
  MOX_RT_ENTER();
  if (!addr && len) return 14;
  if (db != MOX_NO_DB) {
    bool served = false;
    const uint32_t r = mox_rt::db_set_range(static_cast<mox_rt::Heap *>(heap), addr, len, db, &served);
    if (served) return r;
  }
  return 1;
}

MOX_API void plume_perror(uint32_t code) {
  MOX_RT_ENTER();
  __QLf_14(&kRuntimeSection, 0, mox_rt::runtime_trace_id(), MOX_LEVEL_ERROR, std::strerror(code),
           code);
}

MOX_API uint16_t mt_get_tenant_id(mox_handle_t *h) {
  MOX_RT_ENTER();
  return h ? static_cast<uint16_t>(h->tenant_id) : 0;
}

MOX_API void bassert(int cond) {
  MOX_RT_ENTER();
  if (cond) return;
  std::fputs("mox_runtime: bassert failed\n", stderr);
  std::abort();
}

}  // extern "C"
