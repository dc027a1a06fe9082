// Databases: creation, attachment, the reader/writer lock with known
// holders, and the region allocator behind record_alloc of a database id.
//
// The region is one anonymous mapping reserved at creation.  Its first bytes
// hold the Region (db_internal.h); the rest is the arena of a
// std::pmr::monotonic_buffer_resource with no upstream, and a
// std::pmr::unsynchronized_pool_resource over it serves record blocks and
// the services' containers.  A full region therefore makes the arena throw
// std::bad_alloc, which the services turn into a refused allocation (12).
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "core/handle_private.h"
#include "db/db_internal.h"

namespace mox_db {

namespace {

constexpr uint32_t kRegionMagic = 0x4D4F5844u;  // "MOXD"
constexpr uint32_t kBlockMagic = 0x44424C4Bu;   // "DBLK"

// The pool places its blocks at multiples of the block size it picks for a
// request; only a request that is a multiple of 16 gets a pool whose blocks
// all keep the 16-byte alignment a record needs.
size_t block_bytes(uint64_t size) {
  return (sizeof(mox_rt::BlockHeader) + size + 15) & ~size_t{15};
}

const char *const kFormats[] = {
    " database %s: %s",
};
const quill_section_desc_t kSection = {1, 1, {0}};

// The databases of the process, by name and by id.  Only create, attach and
// destroy take this lock; everything else goes through a handle's
// attachments.
struct Process {
  std::mutex mutex;
  std::map<std::string, Region *, std::less<>> by_name;
  std::map<uint32_t, Region *> by_id;
  uint32_t next_id = 1;
};

Process &process() {
  static auto *p = new Process;  // reachable at exit: handles may outlive statics
  return *p;
}

std::atomic<uint64_t> next_serial{1};

bool live_database(uint32_t db) {
  Process &p = process();
  std::lock_guard<std::mutex> lock(p.mutex);
  return p.by_id.count(db) != 0;
}

size_t page_round(uint64_t n) {
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return static_cast<size_t>((n + page - 1) / page * page);
}

size_t arena_offset() { return (sizeof(Region) + 63) / 64 * 64; }

void attach(mox_handle_t *h, Region *r) {
  HandleDbs &d = dbs_of(h);
  d.list.push_back(Attachment{r->id, r, 0});
  ++r->attached;
}

void drop_lock(HandleDbs &d, Attachment &a) {
  if (!a.lock) return;
  Region *r = a.region;
  {
    std::lock_guard<std::mutex> g(r->meta);
    std::erase_if(r->holders, [&](const LockHolder &x) { return x.handle_serial == d.serial; });
  }
  if (a.lock == MOX_DB_LOCK_WRITE)
    r->rw.unlock();
  else
    r->rw.unlock_shared();
  a.lock = 0;
}

void detach(HandleDbs &d, uint32_t db) {
  for (auto it = d.list.begin(); it != d.list.end(); ++it) {
    if (it->id != db) continue;
    drop_lock(d, *it);
    {
      std::lock_guard<std::mutex> g(process().mutex);
      --it->region->attached;
    }
    d.list.erase(it);
    return;
  }
}

mox_handle_t *owner_of(mox_rt::Heap *heap) {
  return heap && heap->tag == mox_rt::kHeapTag ? heap->owner : nullptr;
}

}  // namespace

bool TocKey::operator<(const TocKey &o) const {
  if (int c = std::memcmp(luid, o.luid, sizeof luid)) return c < 0;
  if (by_name != o.by_name) return by_name < o.by_name;
  if (by_name) return std::strcmp(name, o.name) < 0;
  return id < o.id;
}

Region::Region(uint32_t id_, uint64_t size_, uint32_t flags_, std::string_view name_,
               void *arena_start, size_t arena_bytes)
    : magic(kRegionMagic),
      id(id_),
      size(size_),
      flags(flags_),
      arena(arena_start, arena_bytes, std::pmr::null_memory_resource()),
      pool(std::pmr::pool_options{0, kLargestPooledBlock}, &arena),
      holders(&pool),
      toc(&pool),
      named(&pool),
      tenants(&pool),
      destroy_queue(&pool),
      gc_list(&pool),
      cursors(&pool),
      locations(&pool),
      table_mappings(&pool),
      reports(&pool) {
  name_.copy(name, sizeof name - 1);
  name[std::min(name_.size(), sizeof name - 1)] = '\0';
}

HandleDbs &dbs_of(mox_handle_t *h) {
  if (!h->priv->dbs) {
    h->priv->dbs = new HandleDbs;
    h->priv->dbs->serial = next_serial.fetch_add(1, std::memory_order_relaxed);
  }
  return *h->priv->dbs;
}

Region *enter(mox_handle_t *h, uint32_t db, uint32_t *err, bool write) {
  if (err && *err) return nullptr;
  Attachment *a = attachment_of(h, db);
  if (!a) {
    mox_rt::fail(h, err, 2);
    return nullptr;
  }
  if (a->region->shared() && (write ? a->lock != MOX_DB_LOCK_WRITE : a->lock == 0)) {
    mox_rt::fail(h, err, 13);
    return nullptr;
  }
  return a->region;
}

Attachment *attachment_of(const mox_handle_t *h, uint32_t db) {
  if (!h || !h->priv || !h->priv->dbs || db == MOX_NO_DB) return nullptr;
  for (Attachment &a : h->priv->dbs->list)
    if (a.id == db) return &a;
  return nullptr;
}

Region *region_of(const mox_handle_t *h, uint32_t db) {
  Attachment *a = attachment_of(h, db);
  return a ? a->region : nullptr;
}

bool may_write(const mox_handle_t *h, uint32_t db) {
  Attachment *a = attachment_of(h, db);
  return a && (!a->region->shared() || a->lock == MOX_DB_LOCK_WRITE);
}

bool may_read(const mox_handle_t *h, uint32_t db) {
  Attachment *a = attachment_of(h, db);
  return a && (!a->region->shared() || a->lock != 0);
}

bool writable(const mox_handle_t *h, uint32_t db) {
  if (db == MOX_NO_DB) return true;
  if (attachment_of(h, db)) return may_write(h, db);
  return !live_database(db);
}

bool in_collector(const mox_handle_t *h) {
  return h && h->priv && h->priv->dbs && h->priv->dbs->collector;
}

void trace(uint32_t level, const char *what, const char *db_name) {
  static const bool registered = (quill_catalogue_register(&kSection, 1, kFormats), true);
  (void)registered;
  __QLf_11(&kSection, 0, mox_rt::runtime_trace_id(), level, db_name, what);
}

void announce(mox_handle_t *h, uint32_t db, void *addr, uint32_t len, void *owner) {
  mox_rt::notify(h, addr, len, db, owner);
  Region *r = region_of(h, db);
  if (r && r->shared()) declare_range(h, db, r, addr, len);
}

Stores::Stores(mox_handle_t *h, uint32_t db) : h(h), db(db), shared(region_of(h, db)) {
  if (shared && !shared->shared()) shared = nullptr;
}

void declare_range(mox_handle_t *h, uint32_t db, Region *r, void *addr, uint32_t len) {
  const uint32_t code = plume_set_range(h->record_heap, addr, len, db);
  if (code == 1) return;
  plume_perror(code);
  trace(MOX_LEVEL_FATAL, "store refused by the write-range check", r->name);
  std::abort();
}

uint32_t with_region(Region *r, const std::function<uint32_t()> &fn) {
  std::lock_guard<std::mutex> g(r->meta);
  try {
    return fn();
  } catch (const std::bad_alloc &) {
    return 12;
  }
}

}  // namespace mox_db

namespace mox_rt {

using mox_rt::BlockHeader;
using mox_db::Region;

void *db_record_alloc(Heap *heap, uint32_t db, uint32_t size, bool *served) {
  mox_handle_t *h = mox_db::owner_of(heap);
  Region *r = mox_db::region_of(h, db);
  if (!r) {
    *served = mox_db::live_database(db);  // a database of another handle: refused
    return nullptr;
  }
  *served = true;
  std::lock_guard<std::mutex> g(r->meta);
  bool admitted = heap->fail_after != 0;
  if (heap->fail_after > 0) --heap->fail_after;
  if (!admitted || !mox_db::may_write(h, db)) {
    ++r->failed;
    return nullptr;
  }
  try {
    auto *b = static_cast<BlockHeader *>(r->pool.allocate(mox_db::block_bytes(size), 16));
    b->size = size;
    b->magic = mox_db::kBlockMagic;
    b->reserved = 0;
    r->record_bytes += size;
    ++r->record_blocks;
    return b + 1;
  } catch (const std::bad_alloc &) {
    ++r->failed;
    return nullptr;
  }
}

bool db_record_free(Heap *heap, uint32_t db, void *ptr) {
  mox_handle_t *h = mox_db::owner_of(heap);
  Region *r = mox_db::region_of(h, db);
  if (!r || !r->contains(ptr)) return false;
  auto *b = static_cast<BlockHeader *>(ptr) - 1;
  if (b->magic != mox_db::kBlockMagic || !mox_db::may_write(h, db)) {
    mox_db::trace(MOX_LEVEL_FATAL,
                  b->magic != mox_db::kBlockMagic ? "record_free of a block it did not hand out"
                                                  : "record_free without the write lock",
                  r->name);
    std::abort();
  }
  std::lock_guard<std::mutex> g(r->meta);
  if (!r->destroy_queue.empty()) db_forget_block(r, ptr);
  b->magic = 0;
  r->record_bytes -= b->size;
  --r->record_blocks;
  r->pool.deallocate(b, mox_db::block_bytes(b->size), 16);
  return true;
}

uint32_t db_set_range(Heap *heap, void *addr, uint32_t len, uint32_t db, bool *served) {
  mox_handle_t *h = mox_db::owner_of(heap);
  Region *r = mox_db::region_of(h, db);
  *served = r != nullptr;
  if (!r) return 1;
  if (!r->contains(addr, len)) return 14;
  return mox_db::may_write(h, db) ? 1 : 13;
}

void db_handle_gone(mox_handle_t *h) {
  if (!h || !h->priv || !h->priv->dbs) return;
  mox_db::HandleDbs *d = h->priv->dbs;
  while (!d->list.empty()) mox_db::detach(*d, d->list.back().id);
  delete d;
  h->priv->dbs = nullptr;
}

}  // namespace mox_rt

using mox_db::Region;

extern "C" {

MOX_API uint32_t mox_database_create(mox_handle_t *h, const char *name, uint64_t region_bytes,
                                     uint32_t flags, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return MOX_NO_DB;
  if (!h || !h->priv || !name || !*name || std::strlen(name) >= sizeof(Region::name) ||
      (flags & ~(MOX_DB_SHARED | MOX_DB_NO_TOC))) {
    mox_rt::fail(h, err, 22);
    return MOX_NO_DB;
  }
  mox_db::Process &p = mox_db::process();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (p.by_name.count(name)) {
    mox_rt::fail(h, err, 17);
    return MOX_NO_DB;
  }
  const size_t start = mox_db::arena_offset();
  const size_t bytes = mox_db::page_round(std::max<uint64_t>(region_bytes, start + 4096));
  void *base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) {
    mox_rt::fail(h, err, 12);
    return MOX_NO_DB;
  }
  const uint32_t id = p.next_id++;
  auto *r = new (base)
      Region(id, bytes, flags, name, static_cast<uint8_t *>(base) + start, bytes - start);
  r->creator_serial = mox_db::dbs_of(h).serial;
  if (!(flags & MOX_DB_NO_TOC)) {
    auto *root = static_cast<mox_toc_root_t *>(r->pool.allocate(sizeof(mox_toc_root_t)));
    *root = mox_toc_root_t{MOX_TOC_ROOT_MAGIC, 0};
    r->toc_root = r->offset_of(root);
  }
  r->tables.head = nullptr;
  r->tables.tail = reinterpret_cast<void **>(&r->tables.head);
  p.by_name.emplace(name, r);
  p.by_id.emplace(id, r);
  mox_db::attach(h, r);
  return id;
}

MOX_API uint32_t mox_database_attach(mox_handle_t *h, const char *name, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return MOX_NO_DB;
  if (!h || !h->priv || !name) {
    mox_rt::fail(h, err, 22);
    return MOX_NO_DB;
  }
  mox_db::Process &p = mox_db::process();
  std::lock_guard<std::mutex> lock(p.mutex);
  auto it = p.by_name.find(name);
  if (it == p.by_name.end()) {
    mox_rt::fail(h, err, 2);
    return MOX_NO_DB;
  }
  Region *r = it->second;
  if (mox_db::attachment_of(h, r->id)) return r->id;
  if (!r->shared() && r->attached) {
    mox_rt::fail(h, err, 16);
    return MOX_NO_DB;
  }
  mox_db::attach(h, r);
  return r->id;
}

MOX_API void mox_database_detach(mox_handle_t *h, uint32_t db, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  if (!mox_db::attachment_of(h, db)) return mox_rt::fail(h, err, 2);
  mox_db::detach(*h->priv->dbs, db);
}

MOX_API void mox_database_destroy(mox_handle_t *h, uint32_t db, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  mox_db::Attachment *a = mox_db::attachment_of(h, db);
  if (!a) return mox_rt::fail(h, err, 2);
  Region *r = a->region;
  mox_db::HandleDbs &d = *h->priv->dbs;
  {
    mox_db::Process &p = mox_db::process();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (r->attached > 1) return mox_rt::fail(h, err, 16);
    p.by_name.erase(r->name);
    p.by_id.erase(r->id);
  }
  mox_db::drop_lock(d, *a);
  std::erase_if(d.list, [&](const mox_db::Attachment &x) { return x.id == db; });
  const size_t bytes = r->size;
  r->~Region();
  munmap(r, bytes);
}

MOX_API void mox_database_lock(mox_handle_t *h, uint32_t db, uint32_t mode, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  mox_db::Attachment *a = mox_db::attachment_of(h, db);
  if (!a) return mox_rt::fail(h, err, 2);
  if (!a->region->shared() || (mode != MOX_DB_LOCK_READ && mode != MOX_DB_LOCK_WRITE))
    return mox_rt::fail(h, err, 22);
  if (a->lock) return mox_rt::fail(h, err, 35);
  Region *r = a->region;
  if (mode == MOX_DB_LOCK_WRITE)
    r->rw.lock();
  else
    r->rw.lock_shared();
  a->lock = mode;
  std::lock_guard<std::mutex> g(r->meta);
  r->holders.push_back(mox_db::LockHolder{h->priv->dbs->serial, mode});
}

MOX_API void mox_database_unlock(mox_handle_t *h, uint32_t db, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  mox_db::Attachment *a = mox_db::attachment_of(h, db);
  if (!a) return mox_rt::fail(h, err, 2);
  if (!a->lock) return mox_rt::fail(h, err, 1);
  mox_db::drop_lock(*h->priv->dbs, *a);
}

MOX_API uint32_t mox_database_lock_mode(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  mox_db::Attachment *a = mox_db::attachment_of(h, db);
  return a ? a->lock : 0;
}

MOX_API uint32_t mox_database_lock_holders(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  return static_cast<uint32_t>(r->holders.size());
}

MOX_API void mox_database_stats(mox_handle_t *h, uint32_t db, mox_database_stats_t *out) {
  MOX_RT_ENTER();
  if (!out) return;
  *out = mox_database_stats_t{};
  Region *r = mox_db::region_of(h, db);
  if (!r) return;
  std::lock_guard<std::mutex> g(r->meta);
  *out = mox_database_stats_t{r->size, r->record_bytes, r->record_blocks, r->failed};
}

MOX_API void mox_handle_set_collector(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (h && h->priv) mox_db::dbs_of(h).collector = on != 0;
}

MOX_API uint32_t moxgc_handle_in_gc(const mox_handle_t *h) {
  MOX_RT_ENTER();
  return mox_db::in_collector(h) ? 1u : 0u;
}

MOX_API const char *moxdb_database_name(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  return r ? r->name : "none";
}

MOX_API uint32_t moxlib_db_is_shared(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  return r && r->shared() ? 1u : 0u;
}

MOX_API uint32_t moxlib_database_is_write_locked(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  mox_db::Attachment *a = mox_db::attachment_of(h, db);
  return a && a->lock == MOX_DB_LOCK_WRITE ? 1u : 0u;
}

MOX_API uint32_t moxlib_database_in_range(mox_handle_t *h, uint32_t db, const void *addr) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  return r && r->contains(addr) ? 1u : 0u;
}

}  // extern "C"
