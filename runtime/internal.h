// Internal helpers shared by the runtime's sources (not installed).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "mox/runtime.h"

namespace mox_rt {

// Counts calls of the runtime's exported operations, so tests can prove that
// an operation entered with an error set calls nothing.  Each thread counts
// in its own word with a plain (relaxed, unlocked) increment; the first count
// of a thread lists its word, mox_rt_call_count sums the listed words and the
// counts of threads that have ended.  Initial-exec TLS: the increment is one
// %fs-relative access, no TLS lookup call.
struct ThreadCalls {
  std::atomic<uint64_t> count{0};
  bool listed = false;
};
// The calling thread's word; defined in core/handle.cc.
extern constinit thread_local ThreadCalls tls_calls [[gnu::tls_model("initial-exec")]];
// Lists tls_calls of the calling thread (to be folded into the total at
// thread exit) and counts one call in it.
void list_thread_calls();

// Only the owning thread writes the word: load + store is an increment, and
// stays atomic for a reader on another thread.
inline void bump(ThreadCalls &c) {
  c.count.store(c.count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Nothing is live across the first-call branch, so small operations need
// no frame for it.
inline void count_call() {
  ThreadCalls &c = tls_calls;
  if (c.listed) [[likely]]
    bump(c);
  else
    list_thread_calls();
}

// Announces a store of len bytes at addr through the handle's hook.
inline void notify(mox_handle_t *h, void *addr, uint32_t len, uint32_t db, void *owner = nullptr) {
  if (h && h->write_notify) h->write_notify(h, addr, len, db, owner);
}

// Announced store of a plain value.
template <class T>
inline void store(mox_handle_t *h, uint32_t db, T *dst, const T &value, void *owner = nullptr) {
  notify(h, dst, sizeof(T), db, owner);
  std::memcpy(dst, &value, sizeof(T));
}

// The bytes a block of the handle's record_alloc holds, read from its header,
// when the runtime's own allocator made it for the process heap and the
// handle frees through it; 0 when that is not known (a hook of the caller's,
// a database block), and the block must then be treated as opaque.
size_t record_block_room(const mox_handle_t *h, uint32_t db, const void *block);

// Records code in the slot and in the handle's last error.
inline void fail(mox_handle_t *h, uint32_t *err, uint32_t code) {
  if (err) *err = code;
  if (h) h->last_error = code;
}

}  // namespace mox_rt

// First statement of every exported runtime operation.
#define MOX_RT_ENTER() ::mox_rt::count_call()
