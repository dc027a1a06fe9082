// The database services' own structures (not installed).
//
// A database is one reserved region.  Its first bytes hold the Region: the
// lock, the allocator and every container of the services, all of them
// allocating from the region itself, so that nothing a database keeps lies in
// a process's own heap.  The process keeps only its attachments: which
// handle is attached to which database (by id), and the lock it holds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>
#include <string>
#include <memory_resource>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "internal.h"
#include "mox/runtime.h"

namespace mox_db {

// The pool hands blocks of this size and below from per-size pools; larger
// blocks come straight from the region and are not reused before the
// database is destroyed.
constexpr size_t kLargestPooledBlock = size_t{1} << 22;

// Region offsets stand for addresses in the containers, so the containers'
// content means the same wherever the region is mapped.
using Offset = uint64_t;

template <class T>
using Vec = std::pmr::vector<T>;

struct LockHolder {
  uint64_t handle_serial;  // process-unique number of the holding handle
  uint32_t mode;           // MOX_DB_LOCK_READ or MOX_DB_LOCK_WRITE
};

// A TOC entry: the table kind's luid, then the name or the 64-bit id.
struct TocKey {
  uint8_t luid[16];
  uint32_t by_name;
  uint64_t id;
  char name[MOX_TABLE_NAME_MAX];
  bool operator<(const TocKey &o) const;
};

struct TenantKey {
  Offset table;
  uint16_t tenant;
  uint8_t source;
  auto operator<=>(const TenantKey &) const = default;
};

struct DestroyRequest {
  Offset record;
  mox_record_destroy_fn destroy;  // a function of the process (see docs)
};

struct CursorState {
  uint32_t enabled = 0;
  uint32_t implicit_write = 0;
  uint32_t readers = 0;
  Vec<Offset> write_queue;
  explicit CursorState(std::pmr::memory_resource *r) : write_queue(r) {}
};

struct LocationEntry {
  uint32_t refs;
  uint32_t location;  // the location the entry stands for
};

struct TableMapping {
  uint32_t refs;     // the owner's reference included
  uint32_t dynamic;
  uint64_t ref;      // the object reference given at creation
  bool destroy_requested;
};

struct Report {
  uint32_t kind;  // MOX_EVENT_* or a containment kind (see docs)
  uint32_t detail;
  Offset item;
  Offset owner;
};

struct Region {
  uint32_t magic;
  uint32_t id;
  uint64_t size;
  uint32_t flags;  // MOX_DB_*
  char name[64];
  uint32_t attached = 0;
  uint64_t creator_serial = 0;
  std::shared_mutex rw;  // the database's reader/writer lock
  std::mutex meta;       // every container below and the allocator
  std::pmr::monotonic_buffer_resource arena;
  std::pmr::unsynchronized_pool_resource pool;
  uint64_t record_bytes = 0, record_blocks = 0, failed = 0;
  Vec<LockHolder> holders;
  // Table of contents.
  mox_table_list_t tables;  // the open tables, linked by the tables themselves
  Offset toc_root = 0;      // 0: none
  std::pmr::map<TocKey, Offset> toc;
  // Named objects (per-table id roots and the like).
  std::pmr::map<std::pmr::string, Offset, std::less<>> named;
  // Counts.
  std::pmr::map<TenantKey, uint32_t> tenants;
  uint64_t pending_destroy = 0;
  // Destruction.
  Vec<DestroyRequest> destroy_queue;
  Vec<Offset> gc_list;
  // Cursors, locations, object mappings of tables, reports.
  std::pmr::map<Offset, CursorState> cursors;
  std::atomic<bool> any_cursors{false};  // set (under meta) once cursors has an entry
  std::pmr::map<uint32_t, LocationEntry> locations;
  uint32_t next_location_entry = 1;
  std::pmr::map<Offset, TableMapping> table_mappings;
  Vec<Report> reports;

  Region(uint32_t id, uint64_t size, uint32_t flags, std::string_view name, void *arena_start,
         size_t arena_bytes);

  std::pmr::memory_resource *resource() { return &pool; }
  uint8_t *base() { return reinterpret_cast<uint8_t *>(this); }
  bool contains(const void *p, size_t len = 1) const {
    auto a = reinterpret_cast<uintptr_t>(p), b = reinterpret_cast<uintptr_t>(this);
    return a >= b && a - b < size && len <= size - (a - b);
  }
  Offset offset_of(const void *p) const {
    return reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(this);
  }
  template <class T = void>
  T *at(Offset o) {
    return o ? reinterpret_cast<T *>(base() + o) : nullptr;
  }
  bool shared() const { return flags & MOX_DB_SHARED; }
};

// What a handle knows of the databases it is attached to.
struct Attachment {
  uint32_t id;
  Region *region;
  uint32_t lock = 0;  // the lock the handle holds
};

// What the services keep per handle (behind mox_handle_private::dbs).
struct HandleDbs {
  uint64_t serial = 0;
  bool collector = false;
  uint32_t cursor_enabling = 0;
  uint32_t location = 0;  // the handle's current location, 0 for none
  uint32_t loc_filter = 0;
  uint32_t dup_silent = 0;
  std::vector<Attachment> list;
};
HandleDbs &dbs_of(mox_handle_t *h);  // made on first use

// The database the handle is attached to under id, or null.
Region *region_of(const mox_handle_t *h, uint32_t db);
Attachment *attachment_of(const mox_handle_t *h, uint32_t db);
// Non-zero when the handle may write the database: a private database
// always, a shared one while the handle holds its write lock.
bool may_write(const mox_handle_t *h, uint32_t db);
bool may_read(const mox_handle_t *h, uint32_t db);
// Stores with this database id are allowed: private memory and ids that name
// no database always, a database when may_write holds.
bool writable(const mox_handle_t *h, uint32_t db);
bool in_collector(const mox_handle_t *h);

// Announces a store into database memory: write_notify, then, for a shared
// database, the range declaration, whose refusal is an integrity failure.
void announce(mox_handle_t *h, uint32_t db, void *addr, uint32_t len, void *owner = nullptr);
template <class T>
void put(mox_handle_t *h, uint32_t db, T *dst, const T &value, void *owner = nullptr) {
  announce(h, db, dst, sizeof(T), owner);
  *dst = value;
}
// The write-range declaration of a store into shared database r (after its
// write_notify); a refusal is an integrity failure.
void declare_range(mox_handle_t *h, uint32_t db, Region *r, void *addr, uint32_t len);

// The announced stores of one operation on database db: the database is
// looked up once, then each store is its write_notify (and, for a shared
// database, its range declaration).
struct Stores {
  mox_handle_t *h;
  uint32_t db;
  Region *shared;  // the database when shared, else null

  Stores(mox_handle_t *h, uint32_t db);
  template <class T>
  void put(T *dst, const T &value) {
    mox_rt::notify(h, dst, sizeof(T), db);
    if (shared) [[unlikely]]
      declare_range(h, db, shared, dst, sizeof(T));
    *dst = value;
  }
};

// Entry of a service with an error slot: null when the slot holds an error;
// otherwise the handle's database db, or null after failing with 2 (not
// attached) or 13 (a shared database whose lock the handle does not hold in
// the mode needed: write for write, any for read).
Region *enter(mox_handle_t *h, uint32_t db, uint32_t *err, bool write);

// Runs fn on the region under its meta mutex; a std::bad_alloc from a
// container that found the region full becomes 12.  Returns fn's code.
uint32_t with_region(Region *r, const std::function<uint32_t()> &fn);

// Traces a message of the database services at level.
void trace(uint32_t level, const char *format_index_text, const char *a = "");

}  // namespace mox_db

// Hooks the core calls.
namespace mox_rt {
uint16_t runtime_trace_id();  // core/utility.cc
struct Heap;
// record_alloc / record_free of a database id: served when the heap's
// handle is attached to a database of that id (served set), else left to
// the private heap.
void *db_record_alloc(Heap *heap, uint32_t db, uint32_t size, bool *served);
bool db_record_free(Heap *heap, uint32_t db, void *ptr);
// Named objects of a database, through the registry hooks given a record heap.
uint32_t db_named_insert(Heap *heap, uint32_t db, const char *key, void *value);
void *db_named_lookup(Heap *heap, uint32_t db, const char *key);
// plume_set_range of a database id.
uint32_t db_set_range(Heap *heap, void *addr, uint32_t len, uint32_t db, bool *served);
// Drops the destroy requests of a record block being freed (meta held).
void db_forget_block(mox_db::Region *r, void *block);
// Table mappings (kind 2) in a database: -1 when obj has none there (the
// handle's own mappings then apply), else the result of the operation.
int db_mapping_create(mox_handle_t *h, uint32_t db, void *obj, uint32_t dynamic, uint64_t ref);
int db_mapping_add_ref(mox_handle_t *h, void *obj);
int db_mapping_refs(const mox_handle_t *h, const void *obj);
int db_mapping_release(mox_handle_t *h, void *obj);
int db_mapping_request_destroy(mox_handle_t *h, void *obj);
// Keeps a report in database db when item lies in it; false otherwise.
bool db_report(mox_handle_t *h, uint32_t kind, uint32_t detail, uint32_t db, const void *item,
               const void *owner);
void record_event(mox_handle_t *h, const mox_event_t &e);
// Detaches a handle that is being destroyed from every database.
void db_handle_gone(mox_handle_t *h);
}  // namespace mox_rt
