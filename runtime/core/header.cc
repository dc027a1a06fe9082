// Object header services: variant and flag reads, the type-info pointer with
// its TINFO_BLOCK indirection, registered copies, variant raising and the
// variant-info update of registered copies.
#include "core/handle_private.h"

namespace {

mox_obj_header_t *header(void *obj) { return static_cast<mox_obj_header_t *>(obj); }
const mox_obj_header_t *header(const void *obj) {
  return static_cast<const mox_obj_header_t *>(obj);
}

// Where obj keeps its type-info pointer: the tinfo word itself, or the first
// word of the runtime block that tinfo points to when TINFO_BLOCK is set.
void **tinfo_slot(void *obj) {
  mox_obj_header_t *hdr = header(obj);
  if (!(hdr->flags & MOX_FLAG_TINFO_BLOCK)) return &hdr->tinfo;
  return static_cast<void **>(hdr->tinfo);  // null when the block is missing
}

}  // namespace

extern "C" {

MOX_API int32_t mox_get_instance_variant(const void *obj, uint32_t check, uint32_t enum_flag) {
  MOX_RT_ENTER();
  return obj ? header(obj)->variant : -1;
}

MOX_API uint8_t mox_get_instance_obj_flag(const void *obj) {
  MOX_RT_ENTER();
  return obj ? header(obj)->flags : 0;
}

// A null object is error 2; an object without type information gives null
// and leaves the slot alone (the caller decides whether that is fatal).
MOX_API mox_type_info_t *mox_get_manifested_type_info(const void *obj, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return nullptr;
  if (!obj) {
    if (err) *err = 2;
    return nullptr;
  }
  void **slot = tinfo_slot(const_cast<void *>(obj));
  return slot ? static_cast<mox_type_info_t *>(*slot) : nullptr;
}

MOX_API void **mox_get_manifested_type_info_ptr_mem(void *obj, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return nullptr;
  if (!obj) {
    if (err) *err = 2;
    return nullptr;
  }
  return tinfo_slot(obj);
}

// Looks ti up in the handle's registry by its luid text; when it is missing,
// runs the module's initializer (which registers the module's records) and
// looks again.  Registry calls always use MOX_NO_DB: the registry is keyed by
// luid alone.
MOX_API mox_type_info_t *mox_type_info_ptr_get(mox_handle_t *h, uint32_t db, mox_type_info_t *ti,
                                               mox_typeinfo_init_fn init) {
  MOX_RT_ENTER();
  if (!h || !ti || !h->registry_lookup) return nullptr;
  void *found = h->registry_lookup(h->type_registry, MOX_NO_DB, ti->luid_text);
  if (!found && init) {
    uint32_t local_err = 0;
    init(h, MOX_NO_DB, &local_err);
    found = h->registry_lookup(h->type_registry, MOX_NO_DB, ti->luid_text);
  }
  return static_cast<mox_type_info_t *>(found);
}

// Raises the instance variant towards the newest one that the type, the
// record's storage and the domain all allow.  A negative variant marks a
// record of a type that is not valid in the domain and is left as it is.
MOX_API void moxlib_adjust_variant(mox_handle_t *h, uint32_t db, void *obj,
                                   const mox_type_info_t *ti, int32_t highest, uint32_t *err) {
  MOX_RT_ENTER();
  if ((err && *err) || !h || !obj || !h->adjust_variant_enabled) return;
  mox_obj_header_t *hdr = header(obj);
  if (hdr->variant < 0) return;
  if (!ti) ti = mox_get_manifested_type_info(obj, nullptr);
  int32_t target = highest;
  if (hdr->storage_variant < target) target = hdr->storage_variant;
  const int32_t allowed = mox_domain_lookup_variant(h, &h->domain, ti, nullptr);
  if (allowed < target) target = allowed;
  if (target <= hdr->variant) return;
  mox_rt::store(h, db, &hdr->variant, static_cast<int8_t>(target), obj);
}

// Points a registered copy at the variant information of the module's static
// record, so that statistics kept in the variant entries are shared by both.
MOX_API uint32_t mox_update_variant_info(mox_handle_t *h, uint32_t db, mox_type_info_t *copy,
                                         const mox_type_info_t *original, uint32_t made_now) {
  MOX_RT_ENTER();
  if (!copy || !original) return 22;
  if (made_now || copy->variant_info != original->variant_info)
    mox_rt::store(h, db, &copy->variant_info, original->variant_info);
  return 0;
}

MOX_API uint32_t moxlib_validate_object_flags(mox_handle_t *h, const void *obj,
                                              uint32_t refuse_nested, uint32_t refuse_embedded) {
  MOX_RT_ENTER();
  if (!obj) return 22;
  const uint8_t flags = header(obj)->flags;
  if (refuse_nested && (flags & MOX_FLAG_NESTED)) return 22;
  if (refuse_embedded && (flags & MOX_FLAG_EMBEDDED)) return 22;
  return 0;
}

MOX_API int32_t moxlib_type_header_get_state_tracking_flag(mox_handle_t *h, const void *obj) {
  MOX_RT_ENTER();
  if (!obj) return -1;
  return (header(obj)->flags & MOX_FLAG_STATE_TRACKED) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// State-tracking offsets, kept per handle by object address.

MOX_API uint32_t moxlib_get_sttr_offset(mox_handle_t *h, uint32_t db, const void *obj) {
  MOX_RT_ENTER();
  if (!h || !h->priv || !obj) return 0;
  const uint32_t *offset = h->priv->sttr_offsets.find(obj);
  return offset != nullptr ? *offset : 0;
}

// 0 on success, 22 for a missing handle or object.
namespace {
void hold_sttr_offset(mox_handle_t *h, uint32_t db, void *obj, uint32_t offset) {
  h->priv->sttr_offsets.set(obj, offset);
  mox_obj_header_t *hdr = header(obj);
  if (!(hdr->flags & MOX_FLAG_STTR_OFFSET_HELD))
    mox_rt::store(h, db, &hdr->flags, static_cast<uint8_t>(hdr->flags | MOX_FLAG_STTR_OFFSET_HELD),
                  obj);
}
}  // namespace

MOX_API uint32_t moxlib_update_sttr_offset(mox_handle_t *h, uint32_t db, void *obj,
                                           uint32_t offset) {
  MOX_RT_ENTER();
  if (!h || !h->priv || !obj) return 22;
  hold_sttr_offset(h, db, obj, offset);
  return 0;
}

// A null entry of objs is skipped, as the single call refuses it.
MOX_API uint32_t moxlib_update_sttr_offsets(mox_handle_t *h, uint32_t db, uint32_t count,
                                            void *const *objs, const uint32_t *offsets) {
  MOX_RT_ENTER();
  if (!h || !h->priv || (count != 0 && (!objs || !offsets))) return 22;
  // The table first (no call inside the loop), then the flags.
  mox_rt::AddressTable &table = h->priv->sttr_offsets;
  table.reserve(count);
  for (uint32_t i = 0; i < count; ++i)
    if (objs[i]) table.set_reserved(objs[i], offsets[i]);
  for (uint32_t i = 0; i < count; ++i) {
    if (!objs[i]) continue;
    mox_obj_header_t *hdr = header(objs[i]);
    if (!(hdr->flags & MOX_FLAG_STTR_OFFSET_HELD))
      mox_rt::store(h, db, &hdr->flags,
                    static_cast<uint8_t>(hdr->flags | MOX_FLAG_STTR_OFFSET_HELD), objs[i]);
  }
  return 0;
}

MOX_API uint32_t moxlib_release_sttr_offsets(mox_handle_t *h, uint32_t db, uint32_t count,
                                             const void *const *objs) {
  MOX_RT_ENTER();
  if (!h || !h->priv || (count != 0 && !objs)) return 22;
  for (uint32_t i = 0; i < count; ++i)
    if (objs[i]) h->priv->sttr_offsets.erase(objs[i]);
  return 0;
}

MOX_API uint32_t moxlib_release_sttr_offset(mox_handle_t *h, uint32_t db, const void *obj) {
  MOX_RT_ENTER();
  if (!h || !h->priv || !obj) return 22;
  h->priv->sttr_offsets.erase(obj);
  return 0;
}

}  // extern "C"
