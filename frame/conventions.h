// The rules every operation of the module follows, written once.
//
//  - entry/exit with an error slot: a set slot makes the operation a no-op;
//    otherwise the handle's last error is cleared first, and a failure is
//    written to the slot and to last_error (domain errors through the epoch
//    report);
//  - the store protocol: every store into an object is announced through the
//    handle's write_notify, covering exactly the bytes about to change;
//  - the state-tracking mode of the handle, with the integrity abort on a
//    corrupt mode word;
//  - the access check on the instance variant;
//  - containment reports and platform announcements;
//  - trace emission through the module's trace catalogue.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/descriptors.h"
#include "mox/runtime.h"
#include "orva_qos_data/orva_qos_data_decls.h"

#define ORVA_EXPORT __attribute__((visibility("default")))

namespace orva {

// errno values of the target, as the module stores them.
enum Errno : uint32_t {
  kENOENT = 2,
  kE2BIG = 7,
  kEAGAIN = 11,
  kENOMEM = 12,
  kEFAULT = 14,
  kEEXIST = 17,
  kEINVAL = 22,
  kENOSYS = 38,
  kEIDRM = 43,   // instance variant not valid in the domain
  kEBADE = 52,   // table or message not allowed in the domain
  kEMSGSIZE = 90,
};

// ---------------------------------------------------------------------------
// Entry and exit
// ---------------------------------------------------------------------------

// Step 1 and 2 of every operation with an error slot: false when the slot
// already holds an error (the operation must then return at once).
inline bool enter(mox_handle_t *h, uint32_t *err) {
  if (*err != 0) return false;
  mox_clear_last_error(h);
  return true;
}

// Reports a failure: domain errors go through the epoch report, which decides
// about the slot; every other code is written to the slot and last_error.
void fail(mox_handle_t *h, uint32_t *err, uint32_t code);

// ---------------------------------------------------------------------------
// Store protocol
// ---------------------------------------------------------------------------

inline void announce(mox_handle_t *h, void *addr, uint32_t len, uint32_t db,
                     void *owner = nullptr) {
  h->write_notify(h, addr, len, db, owner);
}

// An announced store of one value.
template <class T>
inline void store(mox_handle_t *h, uint32_t db, T *dst, T value, void *owner = nullptr) {
  announce(h, dst, sizeof(T), db, owner);
  std::memcpy(dst, &value, sizeof(T));
}

inline mox_obj_header_t *header(void *obj) { return static_cast<mox_obj_header_t *>(obj); }
inline const mox_obj_header_t *header(const void *obj) {
  return static_cast<const mox_obj_header_t *>(obj);
}

// ---------------------------------------------------------------------------
// State-tracking mode
// ---------------------------------------------------------------------------

enum class Tracking { Absent, On, Off };

// The handle's mode; a mode word other than on/off is a corrupt handle:
// "Corrupted MOX Handle" under the entity's message, then abort.
Tracking tracking(mox_handle_t *h, const EntityDesc &who);

// ---------------------------------------------------------------------------
// Variants, type-info records, statistics
// ---------------------------------------------------------------------------

// The access check of getters and setters: 43 (through the epoch report) when
// the instance variant is below min_variant or negative.
bool access_ok(mox_handle_t *h, const void *obj, uint32_t enum_flag, int min_variant,
               uint32_t *err);

// The variant the domain gives the entity, clamped from above to its latest.
int32_t domain_variant(mox_handle_t *h, const EntityDesc &who, uint32_t *err);

// The type-info record to store in a new object's header: the static record
// in private placement, the registered copy otherwise.
mox_type_info_t *placed_type_info(mox_handle_t *h, uint32_t db, mox_type_info_t *ti);

// The type-info record of obj, checked: a null record or a bad magic is an
// integrity failure ("tinfo is null or corrupted", abort).
mox_type_info_t *checked_type_info(const EntityDesc &who, const void *obj);

// The statistics area of the variant entry for variant v (clamped to the
// entity's variants).  A type-info record without variant information is an
// integrity failure ("varinfo is NULL", abort); a variant beyond the number of
// variants is traced as a notice before the clamp.
mox_type_stats_t *stats_area(const EntityDesc &who, const mox_type_info_t *ti, int32_t v);

// ---------------------------------------------------------------------------
// Containment and platform announcements
// ---------------------------------------------------------------------------

inline void report_containment(mox_handle_t *h, uint32_t db, const void *item,
                               const void *owner) {
  if (h->containment_enabled) moxdb_record_containment2(h, db, item, owner, 1);
}

// Announcement to the platform database of a created or destroyed object:
// only with containment on, placement 1 and a real database.
inline bool platform_announces(const mox_handle_t *h, uint32_t db) {
  return h->containment_enabled && h->placement == 1 && db != MOX_NO_DB;
}

// ---------------------------------------------------------------------------
// Trace
// ---------------------------------------------------------------------------

// Registers the module's trace module (idempotent).
void trace_init();

// Emits message m of the entity, with its catalogue level.  Arguments are
// strings or 32-bit integers, at most three of one kind.
void trace(const EntityDesc &who, Msg m);
void trace(const EntityDesc &who, Msg m, const char *a);
void trace(const EntityDesc &who, Msg m, uint32_t a);
void trace(const EntityDesc &who, Msg m, uint32_t a, uint32_t b);
void trace(const EntityDesc &who, Msg m, uint32_t a, uint32_t b, uint32_t c);

// Emits a field's own message by its index in the types section (FieldDesc::msg
// and the entries after it), with its catalogue level.
void trace_at(uint16_t index);
void trace_at(uint16_t index, const char *a);
void trace_at(uint16_t index, uint32_t a);
void trace_at(uint16_t index, uint32_t a, const char *b);

// An integrity failure: emit the message at level 0 and abort the process.
[[noreturn]] void integrity_abort(const EntityDesc &who, Msg m);

}  // namespace orva
