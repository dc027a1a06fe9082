// Default allocation hooks, allocation accounting, fault injection and the
// plain memory helpers.
//
// Every block from the default record_alloc carries a 16-byte header holding
// its size and a magic word, so record_free knows exactly how many bytes come
// back (live_bytes stays exact) and refuses a pointer it never handed out.
// Blocks from the default registry_alloc use the same header and are also
// remembered in a process-wide table: each belongs to the first registry it is
// inserted into, which frees it when it is destroyed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "core/handle_private.h"
#include "db/db_internal.h"

namespace mox_rt {
namespace {

constexpr uint32_t kLiveMagic = 0x4D4F5842u;  // "MOXB"
constexpr uint32_t kDeadMagic = 0x44454144u;  // "DEAD"

BlockHeader *header_of(void *user) { return static_cast<BlockHeader *>(user) - 1; }

// Applies fault injection; true when this allocation may proceed.
bool admit(Heap *heap) {
  if (!heap || heap->fail_after < 0) return true;
  if (heap->fail_after == 0) return false;
  --heap->fail_after;
  return true;
}

// The size class of a record block of size bytes; Heap::kClasses for none.
// The class is kept in the header's reserved word as class + 1 (0: none).
uint32_t class_of(uint32_t size) {
  const uint32_t c = size == 0 ? 0 : (size - 1) / Heap::kClassBytes;
  return c < Heap::kClasses ? c : Heap::kClasses;
}

void *allocate_block(Heap *heap, uint32_t size, bool counts_live) {
  if (!admit(heap)) {
    if (heap) ++heap->stats.failed;
    return nullptr;
  }
  const uint32_t c = heap && counts_live ? class_of(size) : Heap::kClasses;
  BlockHeader *block;
  if (c < Heap::kClasses && heap->kept[c].first != nullptr) {
    Heap::Kept &k = heap->kept[c];
    block = k.first;
    std::memcpy(&k.first, block + 1, sizeof k.first);
    --k.count;
  } else {
    const size_t room = c < Heap::kClasses ? (c + 1) * Heap::kClassBytes : size;
    block = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + room));
  }
  if (!block) {
    if (heap) ++heap->stats.failed;
    return nullptr;
  }
  block->size = size;
  block->magic = kLiveMagic;
  block->reserved = c < Heap::kClasses ? c + 1 : 0;
  if (heap) {
    ++heap->stats.allocs;
    if (counts_live) heap->stats.live_bytes += size;
  }
  return block + 1;
}

void free_block(void *user) {
  BlockHeader *block = header_of(user);
  block->magic = kDeadMagic;
  std::free(block);
}

std::mutex &registry_blocks_mutex() {
  static std::mutex m;
  return m;
}

// Block -> owning registry (null until the block is inserted somewhere).
std::unordered_map<void *, const void *> &registry_blocks() {
  static auto *blocks = new std::unordered_map<void *, const void *>();  // reachable at exit
  return *blocks;
}

}  // namespace

void *default_record_alloc(void *heap, uint32_t db, uint32_t size) {
  MOX_RT_ENTER();
  if (db != MOX_NO_DB) [[unlikely]] {
    bool served = false;
    void *p = db_record_alloc(static_cast<Heap *>(heap), db, size, &served);
    if (served) return p;
  }
  return allocate_block(static_cast<Heap *>(heap), size, true);
}

void *default_registry_alloc(void *heap, uint32_t db, uint32_t size) {
  MOX_RT_ENTER();
  void *p = allocate_block(static_cast<Heap *>(heap), size, false);
  if (p) {
    std::lock_guard<std::mutex> lock(registry_blocks_mutex());
    registry_blocks().emplace(p, nullptr);
  }
  return p;
}

void default_record_free(void *heap, uint32_t db, void *ptr) {
  MOX_RT_ENTER();
  if (!ptr) return;
  if (db != MOX_NO_DB && db_record_free(static_cast<Heap *>(heap), db, ptr)) [[unlikely]]
    return;
  BlockHeader *block = header_of(ptr);
  if (block->magic != kLiveMagic) {
    std::fprintf(stderr, "mox_runtime: record_free(%p): not a live block of record_alloc\n", ptr);
    std::abort();
  }
  if (auto *h = static_cast<Heap *>(heap)) {
    ++h->stats.frees;
    h->stats.live_bytes -= h->stats.live_bytes >= block->size ? block->size : h->stats.live_bytes;
    const uint32_t c = block->reserved - 1;  // no class: wraps above kClasses
    if (c < Heap::kClasses && h->kept[c].count < Heap::kKeep) {
      Heap::Kept &k = h->kept[c];
      block->magic = kDeadMagic;
      std::memcpy(block + 1, &k.first, sizeof k.first);
      k.first = block;
      ++k.count;
      return;
    }
  }
  free_block(ptr);
}

Heap::~Heap() {
  for (Kept &k : kept) {
    while (k.first != nullptr) {
      BlockHeader *block = k.first;
      std::memcpy(&k.first, block + 1, sizeof k.first);
      std::free(block);
    }
  }
}

size_t record_block_room(const mox_handle_t *h, uint32_t db, const void *block) {
  if (!block || !h || db != MOX_NO_DB || h->record_free != default_record_free) return 0;
  const auto *head = static_cast<const BlockHeader *>(block) - 1;
  return head->magic == kLiveMagic ? static_cast<size_t>(head->size) : 0;
}

void claim_registry_block(void *ptr, const void *registry) {
  std::lock_guard<std::mutex> lock(registry_blocks_mutex());
  auto it = registry_blocks().find(ptr);
  if (it != registry_blocks().end() && !it->second) it->second = registry;
}

bool release_registry_block(void *ptr, const void *registry) {
  {
    std::lock_guard<std::mutex> lock(registry_blocks_mutex());
    auto it = registry_blocks().find(ptr);
    if (it == registry_blocks().end() || it->second != registry) return false;
    registry_blocks().erase(it);
  }
  free_block(ptr);
  return true;
}

}  // namespace mox_rt

extern "C" {

MOX_API void mox_handle_alloc_stats(const mox_handle_t *h, mox_alloc_stats_t *out) {
  if (!out) return;
  *out = mox_alloc_stats_t{};
  if (h && h->priv) *out = h->priv->heap.stats;
}

// Element counts times element sizes plus one pointer per hash bucket or node
// link: not what the heap charges exactly, but it moves only when the
// handle's tables grow or shrink.
MOX_API uint64_t mox_handle_footprint(const mox_handle_t *h) {
  if (!h || !h->priv) return 0;
  const mox_handle_private &p = *h->priv;
  auto table = [](const auto &m, size_t key_bytes) -> uint64_t {
    using V = typename std::decay_t<decltype(m)>::mapped_type;
    return m.size() * (key_bytes + sizeof(V) + 2 * sizeof(void *)) +
           m.bucket_count() * sizeof(void *);
  };
  uint64_t bytes = p.sttr_offsets.bytes() + table(p.oid_mappings, sizeof(void *));
  bytes += table(p.bundle_messages, 16) + table(p.bundle_refused, 16);
  bytes += table(p.domain.variants, 33) + table(p.domain.table_ok, 33) +
           table(p.domain.message_ok, 33);
  bytes += p.events.size() * sizeof(mox_event_t);
  bytes += p.journal.capacity() * sizeof(mox_rt::JournalRecord);
  for (const auto &r : p.journal) bytes += r.before.capacity();
  return bytes + p.workspace_size;
}

MOX_API void mox_handle_fail_alloc_after(mox_handle_t *h, int64_t n) {
  MOX_RT_ENTER();
  if (h && h->priv) h->priv->heap.fail_after = n < 0 ? -1 : n;
}

MOX_API void *memset_cr(void *dst, int c, size_t n) {
  MOX_RT_ENTER();
  return dst ? std::memset(dst, c, n) : nullptr;
}

MOX_API void *moxlib_malloc(size_t n) {
  MOX_RT_ENTER();
  return std::malloc(n ? n : 1);
}

MOX_API void moxlib_free(void *p) {
  MOX_RT_ENTER();
  std::free(p);
}

// The workspace grows to the largest size asked for; its content survives
// growth and new bytes are zero.  It is freed with the handle.
MOX_API void *moxlib_get_handle_ws(mox_handle_t *h, uint32_t size) {
  MOX_RT_ENTER();
  if (!h || !h->priv) return nullptr;
  if (h->workspace && size <= h->priv->workspace_size) return h->workspace;
  uint32_t want = size ? size : 1;
  void *grown = std::realloc(h->workspace, want);
  if (!grown) return nullptr;
  std::memset(static_cast<uint8_t *>(grown) + h->priv->workspace_size, 0,
              want - h->priv->workspace_size);
  h->workspace = grown;
  h->priv->workspace_size = want;
  return grown;
}

}  // extern "C"
