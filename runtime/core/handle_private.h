// The runtime's private per-handle state (behind mox_handle_t::priv) and the
// allocation heap the default hooks use.  Internal to libmox_runtime.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <deque>
#include <unordered_map>
#include <vector>

#include "core/address_table.h"
#include "internal.h"
#include "mox/runtime.h"

namespace mox_rt {

// The head of every record block the runtime hands out, from the process heap
// or from a database region: its size, so that a free knows what it gives
// back and the statistics stay exact, and a magic word of the allocator that
// made it.  The user's bytes follow, 16-byte aligned.
struct alignas(16) BlockHeader {
  uint64_t size;
  uint32_t magic;
  uint32_t reserved;
};
static_assert(sizeof(BlockHeader) == 16);

// Accounting and fault injection of the default record_alloc/registry_alloc.
// The handle's record_heap and registry_heap both point at its Heap.
constexpr uint32_t kHeapTag = 0x4D484550u;  // "MHEP": a record heap, not a type registry
//
// Small record blocks given back are kept on the heap, per size class, for
// the next record_alloc of the class (a record's strings freed and decoded
// again, a record destroyed and created again) instead of going back to
// malloc at once; the heap frees what it keeps when the handle goes.  The
// statistics count such a block as freed and allocated as before.  Builds
// with AddressSanitizer keep nothing, so that a use after free is seen.
struct Heap {
  static constexpr uint32_t kClassBytes = 16;  // class c holds user rooms up to (c + 1) * 16
#if defined(__SANITIZE_ADDRESS__)
  static constexpr uint32_t kClasses = 0;
#else
  static constexpr uint32_t kClasses = 4;
#endif
  static constexpr uint32_t kKeep = 32;  // blocks kept per class at most
  struct Kept {
    BlockHeader *first = nullptr;  // linked through their first user word
    uint32_t count = 0;
  };

  uint32_t tag = kHeapTag;
  mox_alloc_stats_t stats{};
  mox_handle_t *owner = nullptr;  // the handle whose record_heap this is
  int64_t fail_after = -1;  // successful allocations left before failing; < 0: never fail
  Kept kept[kClasses > 0 ? kClasses : 1];

  Heap() = default;
  Heap(const Heap &) = delete;
  Heap &operator=(const Heap &) = delete;
  ~Heap();
};

// Default hooks installed by mox_handle_create.
void *default_record_alloc(void *heap, uint32_t db, uint32_t size);
void *default_registry_alloc(void *heap, uint32_t db, uint32_t size);
void default_record_free(void *heap, uint32_t db, void *ptr);
void default_write_notify(mox_handle_t *h, void *addr, uint32_t len, uint32_t db, void *owner);

// Blocks of default_registry_alloc belong to the first registry they are
// inserted into.  claim records that; release frees ptr when it is such a
// block owned by registry and returns false, doing nothing, otherwise.
void claim_registry_block(void *ptr, const void *registry);
bool release_registry_block(void *ptr, const void *registry);

// One announced store, with the bytes the range held when it was announced.
struct JournalRecord {
  mox_journal_entry_t entry{};
  std::vector<uint8_t> before;
};

// What a domain says beyond its default variant; domain.impl points here.
// Hash of luid strings that also takes a string_view, so that the lookups
// made on every encode and create do not build a std::string (no allocation).
struct LuidHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <class V>
using LuidMap = std::unordered_map<std::string, V, LuidHash, std::equal_to<>>;

struct DomainTable {
  std::string name = "default";
  LuidMap<int32_t> variants;
  LuidMap<uint32_t> table_ok;
  LuidMap<uint32_t> message_ok;
};

// One object-id mapping.
struct OidMapping {
  uint32_t refs = 0;  // the owner's reference included
  uint32_t kind = 0;
  uint32_t dynamic = 0;
  uint32_t db = MOX_NO_DB;
  bool destroy_requested = false;
  mox_finish_destroy_fn finish = nullptr;
};

}  // namespace mox_rt

namespace mox_rt {
// Records one announcement on the handle, dropping the oldest once the log
// holds MOX_EVENT_LOG_LIMIT of them.
void record_event(mox_handle_t *h, const mox_event_t &e);
}  // namespace mox_rt

namespace mox_db {
struct HandleDbs;
}

struct mox_handle_private {
  mox_rt::Heap heap;
  mox_db::HandleDbs *dbs = nullptr;  // databases the handle is attached to (runtime/db)
  mox_sttr_config_t sttr_block{};  // what sttr_config points to when a mode is set
  mox_rt::DomainTable domain;
  bool journal_on = false;
  std::vector<mox_rt::JournalRecord> journal;
  std::deque<mox_event_t> events;  // the newest MOX_EVENT_LOG_LIMIT announcements
  mox_rt::AddressTable sttr_offsets;
  std::unordered_map<const void *, mox_rt::OidMapping> oid_mappings;
  uint32_t workspace_size = 0;
  bool suppress_messages = false;
  uint64_t decode_budget = MOX_DECODE_BUDGET_DEFAULT;
  // The open message bundle: message luid (16 bytes as a string) -> instances.
  bool bundle_open = false;
  std::unordered_map<std::string, uint32_t> bundle_messages;
  std::unordered_map<std::string, bool> bundle_refused;
};
