// Handle lifecycle and setters, and the runtime's call counter.
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "core/handle_private.h"
#include "db/db_internal.h"

namespace mox_rt {

constinit thread_local ThreadCalls tls_calls;

namespace {

// The words of the running threads that have counted, and the counts of
// ended threads.  Never destroyed: threads may end after static destruction.
struct CallRegistry {
  std::mutex mutex;
  std::vector<const ThreadCalls *> live;
  uint64_t ended = 0;
};

CallRegistry &call_registry() {
  static auto *r = new CallRegistry;
  return *r;
}

// Its destructor runs at thread exit and moves the thread's count into the
// total.  Counts made by later thread-exit code of the same thread are lost.
struct ThreadCallsRetirer {
  ~ThreadCallsRetirer() {
    CallRegistry &r = call_registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.ended += tls_calls.count.load(std::memory_order_relaxed);
    tls_calls.count.store(0, std::memory_order_relaxed);
    std::erase(r.live, &tls_calls);
  }
};

}  // namespace

void list_thread_calls() {
  thread_local ThreadCallsRetirer retirer;  // registers the thread-exit hook
  (void)retirer;
  CallRegistry &r = call_registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.live.push_back(&tls_calls);
  tls_calls.listed = true;
  bump(tls_calls);
}

}  // namespace mox_rt

extern "C" {

MOX_API uint64_t mox_rt_call_count(void) {
  mox_rt::CallRegistry &r = mox_rt::call_registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  uint64_t total = r.ended;
  for (const mox_rt::ThreadCalls *c : r.live) total += c->count.load(std::memory_order_relaxed);
  return total;
}

MOX_API mox_handle_t *mox_handle_create(void) {
  MOX_RT_ENTER();
  auto *h = static_cast<mox_handle_t *>(std::calloc(1, sizeof(mox_handle_t)));
  if (!h) return nullptr;
  auto *priv = new (std::nothrow) mox_handle_private();
  if (!priv) {
    std::free(h);
    return nullptr;
  }
  h->priv = priv;
  priv->heap.owner = h;
  h->placement = 0;
  h->current_db = MOX_NO_DB;
  h->registry_alloc = mox_rt::default_registry_alloc;
  h->record_alloc = mox_rt::default_record_alloc;
  h->record_free = mox_rt::default_record_free;
  h->write_notify = mox_rt::default_write_notify;
  h->registry_insert = mox_registry_insert;
  h->registry_lookup = mox_registry_lookup;
  h->record_heap = &priv->heap;
  h->registry_heap = &priv->heap;
  h->type_registry = mox_default_registry();
  h->domain.impl = &priv->domain;
  h->domain.default_variant = 127;
  h->sttr_config = nullptr;
  h->adjust_variant_enabled = 1;
  return h;
}

MOX_API void mox_handle_destroy(mox_handle_t *h) {
  MOX_RT_ENTER();
  if (!h) return;
  mox_rt::db_handle_gone(h);
  std::free(h->workspace);
  delete h->priv;
  std::free(h);
}

MOX_API void mox_handle_set_sttr_mode(mox_handle_t *h, uint32_t mode) {
  MOX_RT_ENTER();
  if (!h) return;
  if (mode == 0) {
    h->sttr_config = nullptr;
    return;
  }
  h->priv->sttr_block = mox_sttr_config_t{};
  h->priv->sttr_block.word[MOX_STTR_MODE_WORD] = mode;
  h->sttr_config = &h->priv->sttr_block;
}

MOX_API void mox_handle_set_placement(mox_handle_t *h, uint32_t placement) {
  MOX_RT_ENTER();
  if (h) h->placement = placement;
}

MOX_API void mox_handle_set_containment(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (h) h->containment_enabled = on;
}

MOX_API void mox_handle_set_tenant(mox_handle_t *h, uint16_t tenant) {
  MOX_RT_ENTER();
  if (h) h->tenant_id = tenant;
}

MOX_API void mox_handle_set_type_registry(mox_handle_t *h, void *registry) {
  MOX_RT_ENTER();
  if (h) h->type_registry = registry;
}

MOX_API void mox_set_decode_budget(mox_handle_t *h, uint64_t bytes) {
  MOX_RT_ENTER();
  if (h) h->priv->decode_budget = bytes;
}

MOX_API uint64_t mox_get_decode_budget(const mox_handle_t *h) {
  MOX_RT_ENTER();
  return h ? h->priv->decode_budget : 0;
}

}  // extern "C"
