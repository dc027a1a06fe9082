// Internal helpers shared by the runtime's sources (not installed).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "mox/runtime.h"

namespace mox_rt {

// Counts calls of the runtime's exported operations, so tests can prove that
// an operation entered with an error set calls nothing.
std::atomic<uint64_t> &call_counter();

inline void count_call() { call_counter().fetch_add(1, std::memory_order_relaxed); }

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

// Records code in the slot and in the handle's last error.
inline void fail(mox_handle_t *h, uint32_t *err, uint32_t code) {
  if (err) *err = code;
  if (h) h->last_error = code;
}

}  // namespace mox_rt

// First statement of every exported runtime operation.
#define MOX_RT_ENTER() ::mox_rt::count_call()
