// The shared protocol of every operation: failure reporting, state-tracking
// mode, variant checks, type-info and statistics lookups, trace emission.
#include <cstdlib>
#include <mutex>

#include "frame/conventions.h"

namespace orva {

extern const uint32_t *const kSection2Levels;

void fail(mox_handle_t *h, uint32_t *err, uint32_t code) {
  if (code == kEIDRM || code == kEBADE) {
    mox_store_epoch_err(h, code, err);
    return;
  }
  *err = code;
  mox_store_err(h, code);
}

Tracking tracking(mox_handle_t *h, const EntityDesc &who) {
  if (h->sttr_config == nullptr) return Tracking::Absent;
  switch (h->sttr_config->word[MOX_STTR_MODE_WORD]) {
    case MOX_STTR_ON:
      return Tracking::On;
    case MOX_STTR_OFF:
      return Tracking::Off;
    default:
      integrity_abort(who, Msg::CorruptHandle);
  }
}

bool access_ok(mox_handle_t *h, const void *obj, uint32_t enum_flag, int min_variant,
               uint32_t *err) {
  int32_t v = mox_get_instance_variant(obj, 1, enum_flag);
  if (v < 0 || v < min_variant) {
    fail(h, err, kEIDRM);
    return false;
  }
  return true;
}

int32_t domain_variant(mox_handle_t *h, const EntityDesc &who, uint32_t *err) {
  int32_t v = mox_domain_lookup_variant(h, &h->domain, who.ti, err);
  return v > who.highest ? who.highest : v;
}

mox_type_info_t *placed_type_info(mox_handle_t *h, uint32_t db, mox_type_info_t *ti) {
  if (h->placement == 0) return ti;
  return mox_type_info_ptr_get(h, db, ti, orva_qos_data_typeinfo_initialize);
}

mox_type_info_t *checked_type_info(const EntityDesc &who, const void *obj) {
  uint32_t local = 0;
  mox_type_info_t *ti = mox_get_manifested_type_info(obj, &local);
  if (ti == nullptr || ti->magic != MOX_TYPE_INFO_MAGIC) integrity_abort(who, Msg::TinfoCorrupt);
  return ti;
}

mox_type_stats_t *stats_area(const EntityDesc &who, const mox_type_info_t *ti, int32_t v) {
  const mox_variant_info_t *vi = ti->variant_info;
  if (vi == nullptr) integrity_abort(who, Msg::VarinfoNull);
  int32_t count = static_cast<int8_t>(vi->count_word & 0xFF);
  if (v > count) trace(who, Msg::VariantExcess, static_cast<uint32_t>(v), static_cast<uint32_t>(count));
  int32_t index = v < 0 ? 0 : (v > who.highest ? who.highest : v);
  return &vi->entries[index].stats;
}

// ---------------------------------------------------------------------------
// Trace
// ---------------------------------------------------------------------------

}  // namespace orva

extern "C" {
ORVA_EXPORT uint16_t g_mox_orva_qos_data_trace_module_id = 0;
}

namespace orva {

namespace {
uint32_t trace_registration_word = 0;
std::once_flag trace_registered;

struct Site {
  uint32_t index;
  uint32_t level;
};

Site site(const EntityDesc &who, Msg m) {
  uint16_t index = who.msgs[static_cast<size_t>(m)];
  return {index, kSection2Levels[index]};
}
}  // namespace

// The trace module is registered once per process, whichever thread traces or
// creates first; every later caller sees the id of that one registration.
// call_once orders the registration's stores before every return from
// trace_init, so the emitters below, which all pass through it, read the id
// without a race.
void trace_init() {
  std::call_once(trace_registered, [] {
    quill_module_init_fn("mox_orva_qos_data", &g_mox_orva_qos_data_trace_module_id,
                         &trace_registration_word);
    register_trace_catalogue();
  });
}

void trace(const EntityDesc &who, Msg m) {
  trace_init();
  Site s = site(who, m);
  __QLf_0(&kTypesSection, s.index, g_mox_orva_qos_data_trace_module_id, s.level);
}

void trace(const EntityDesc &who, Msg m, const char *a) {
  trace_init();
  Site s = site(who, m);
  __QLf_1(&kTypesSection, s.index, g_mox_orva_qos_data_trace_module_id, s.level, a);
}

void trace(const EntityDesc &who, Msg m, uint32_t a) {
  trace_init();
  Site s = site(who, m);
  __QLf_4(&kTypesSection, s.index, g_mox_orva_qos_data_trace_module_id, s.level, a);
}

void trace(const EntityDesc &who, Msg m, uint32_t a, uint32_t b) {
  trace_init();
  Site s = site(who, m);
  __QLf_44(&kTypesSection, s.index, g_mox_orva_qos_data_trace_module_id, s.level, a, b);
}

void trace(const EntityDesc &who, Msg m, uint32_t a, uint32_t b, uint32_t c) {
  trace_init();
  Site s = site(who, m);
  __QLf_444(&kTypesSection, s.index, g_mox_orva_qos_data_trace_module_id, s.level, a, b, c);
}

void trace_at(uint16_t index) {
  trace_init();
  __QLf_0(&kTypesSection, index, g_mox_orva_qos_data_trace_module_id, kSection2Levels[index]);
}

void trace_at(uint16_t index, const char *a) {
  trace_init();
  __QLf_1(&kTypesSection, index, g_mox_orva_qos_data_trace_module_id, kSection2Levels[index], a);
}

void trace_at(uint16_t index, uint32_t a) {
  trace_init();
  __QLf_4(&kTypesSection, index, g_mox_orva_qos_data_trace_module_id, kSection2Levels[index], a);
}

void trace_at(uint16_t index, uint32_t a, const char *b) {
  trace_init();
  __QLf_41(&kTypesSection, index, g_mox_orva_qos_data_trace_module_id, kSection2Levels[index], a,
           b);
}

void integrity_abort(const EntityDesc &who, Msg m) {
  trace(who, m);
  std::abort();
}

}  // namespace orva
