// The enumeration engine.  An enumeration object is the object header and a
// 32-bit member value; every operation here serves all four enumerations.
#include "serial/enums.h"

#include <cstdio>
#include <cstring>

#include "frame/conventions.h"

namespace orva {

namespace {

bool has_member(const EnumDesc &e, uint32_t value) { return value < e.member_count; }

// The members an instance of variant v may hold.
uint32_t members_at(const EnumDesc &e, int32_t v) {
  if (v < 0) v = 0;
  if (v > e.highest) v = e.highest;
  return e.members_at_variant[v];
}

void count(const EnumDesc &e, mox_handle_t *h, uint32_t db, const mox_type_info_t *ti,
           int32_t variant, uint32_t counter) {
  mox_type_stats_t *stats = stats_area(e, ti, variant);
  uint32_t rc = moxlib_type_stats_add_internal(h, db, ti, stats, counter);
  if (rc != 0) trace(e, Msg::StatsFailed, std::strerror(static_cast<int>(rc)));
}

}  // namespace

mox_enum_obj_t *enum_create_internal(const EnumDesc &e, mox_handle_t *h, uint32_t db) {
  trace_init();
  mox_enum_obj_t *obj = nullptr;
  bool cr = h->cr_mode != 0;
  if (!(cr && h->last_error != 0)) {
    obj = static_cast<mox_enum_obj_t *>(h->record_alloc(h->record_heap, db, sizeof(mox_enum_obj_t)));
    if (obj == nullptr && !cr) return nullptr;
    if (obj == nullptr && h->last_error == 0) mox_store_err(h, kENOMEM);
  }
  if (obj != nullptr) {
    memset_cr(obj, 0, sizeof(mox_enum_obj_t));  // nobody can see the block yet
    uint32_t local = 0;
    enum_initialize(e, h, db, obj, e.ti, 1, 0, &local);
    if (local != 0) trace(e, Msg::CreateFailed, std::strerror(static_cast<int>(local)));
    count(e, h, db, e.ti, obj->variant, MOX_STATS_CREATE);
  } else {
    obj = e.placeholder;
  }
  report_containment(h, db, obj, nullptr);
  if (platform_announces(h, db)) moxdb_plat_set_dirty(h, db, obj);
  return obj;
}

uint32_t enum_initialize(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                         mox_type_info_t *ti, uint32_t notify, uint32_t flags, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  if (ti == nullptr) ti = e.ti;
  int32_t v = domain_variant(h, e, err);
  if (*err != 0) return obj->flags;
  auto put = [&](auto *dst, auto value, void *owner) {
    if (notify) announce(h, dst, sizeof(*dst), db, owner);
    *dst = value;
  };
  put(&obj->storage_variant, static_cast<uint8_t>(e.highest), nullptr);
  put(&obj->variant, static_cast<int8_t>(v), nullptr);
  void **slot = mox_get_manifested_type_info_ptr_mem(obj, err);
  if (*err != 0 || slot == nullptr) return obj->flags;
  put(slot, static_cast<void *>(placed_type_info(h, db, ti)), nullptr);
  put(&obj->flags, static_cast<uint8_t>(obj->flags | flags), obj);
  return obj->flags;
}

void enum_destroy_internal(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                           uint32_t free_storage) {
  // An embedded enumeration goes with its record; the placeholder is never freed.
  if (obj == nullptr || free_storage == 0 || obj == e.placeholder) return;
  mox_type_info_t *ti = checked_type_info(e, obj);
  count(e, h, db, ti, obj->variant, MOX_STATS_DESTROY);
  if (platform_announces(h, db)) moxdb_plat_set_destroy(h, db, obj);
  if ((obj->flags & MOX_FLAG_TINFO_BLOCK) && obj->tinfo != nullptr)
    h->record_free(h->record_heap, db, obj->tinfo);
  store<void *>(h, db, &obj->tinfo, nullptr);
  h->record_free(h->record_heap, db, obj);
}

uint32_t enum_get_value(mox_handle_t *h, uint32_t db, const mox_enum_obj_t *obj, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  return obj->value;
}

uint32_t enum_set_value(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                        uint32_t value, uint32_t *err) {
  if (!enter(h, err)) return *err;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return *err;
  }
  uint32_t local = 0;
  moxlib_adjust_variant(h, db, obj, mox_get_manifested_type_info(obj, &local), e.highest, err);
  if (*err != 0) return *err;
  int32_t v = mox_get_instance_variant(obj, 1, 1);
  bool accepted = value < e.members_at_variant[0] || (v >= 0 && value < members_at(e, v));
  if (!accepted) {
    fail(h, err, kEIDRM);
    return *err;
  }
  store(h, db, &obj->value, value);
  return *err;
}

int32_t enum_compare(const mox_enum_obj_t *a, const mox_enum_obj_t *b) {
  if (a && b) return static_cast<int32_t>(a->value - b->value);
  if (a) return 1;
  if (b) return -1;
  return 0;
}

uint32_t enum_marshal(const EnumDesc &e, mox_handle_t *h, uint32_t db, uint8_t *buf,
                      const mox_enum_obj_t *obj, int32_t buflen, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (buflen <= 0) {
    fail(h, err, kEMSGSIZE);
    return 0;
  }
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  int32_t v = obj->variant;
  int32_t allowed = mox_domain_lookup_variant(h, &h->domain, e.ti, err);
  if (v > allowed) {
    fail(h, err, kEIDRM);
    v = allowed;
  }
  if (v > e.highest) v = e.highest;
  uint32_t n = _mox_instance_variant_marshal(h, db, buf, static_cast<int8_t>(v), buflen, err);
  n += u_int32_marshal(h, db, buf + n, &obj->value, buflen - static_cast<int32_t>(n), err);
  return n;
}

uint32_t enum_unmarshal(const EnumDesc &e, mox_handle_t *h, uint32_t db, const uint8_t *buf,
                        mox_enum_obj_t *obj, int32_t len, uint32_t flag, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (len < 1) {
    fail(h, err, kEMSGSIZE);
    return 0;
  }
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  int8_t v = 0;
  uint32_t n = _mox_instance_variant_unmarshal(h, db, buf, &v, len, err);
  if (*err != 0) return n;
  if (v > static_cast<int32_t>(obj->storage_variant)) v = static_cast<int8_t>(obj->storage_variant);
  store(h, db, &obj->variant, v);
  void **slot = mox_get_manifested_type_info_ptr_mem(obj, err);
  if (*err != 0 || slot == nullptr) return n;
  store(h, db, slot, static_cast<void *>(placed_type_info(h, db, e.ti)));
  n += u_int32_unmarshal(h, db, buf + n, &obj->value, len - static_cast<int32_t>(n), flag, err);
  if (*err != 0) return n;
  store(h, db, &obj->value, obj->value);
  return n;
}

uint32_t enum_to_xml(const EnumDesc &e, mox_handle_t *h, uint32_t db, const char *name, char *out,
                     const mox_enum_obj_t *obj, int32_t outlen, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  char member[96];
  const char *text = e.out_of_range_xml;
  if (has_member(e, obj->value)) {
    std::snprintf(member, sizeof member, "<%s/>", e.members[obj->value]);
    text = member;
  }
  uint32_t n = start_tag(h, db, out, name, outlen, 0, err);
  n += xml_enum_print(h, db, out + n, text, static_cast<uint32_t>(std::strlen(text)),
                      outlen - static_cast<int32_t>(n), err);
  n += end_tag(h, db, out + n, name, outlen - static_cast<int32_t>(n), err);
  return n;
}

void enum_from_xml(const EnumDesc &e, mox_handle_t *h, uint32_t db, const char *path,
                   mox_xml_doc_t *doc, mox_enum_obj_t *obj, uint32_t *err, char *msg,
                   uint32_t msglen) {
  if (!enter(h, err)) return;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return;
  }
  for (uint32_t value = 0; value < e.member_count; ++value) {
    char member_path[256];
    char scratch[128];
    std::snprintf(member_path, sizeof member_path, "%s/%s", path, e.members[value]);
    *err = xml_get_element_value(doc, member_path, scratch, sizeof scratch, 0);
    if (*err == 0) {
      // The first member present wins.  The store is announced like every
      // other store into an object, so a journaling runtime sees it too.
      store(h, db, &obj->value, value);
      return;
    }
    if (*err != kENOENT) {
      mox_store_err(h, *err);
      if (msg != nullptr && msglen != 0) std::snprintf(msg, msglen, "Failed xpath: %s", path);
      return;
    }
  }
  // No member element: the slot keeps 2, which record readers take as "absent".
}

uint32_t enum_print(const EnumDesc &e, mox_handle_t *h, uint32_t db, char *buf, uint32_t indent,
                    const char *label, const mox_enum_obj_t *obj, int32_t room, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (obj == nullptr) {
    fail(h, err, kEINVAL);
    return 0;
  }
  uint32_t n = mox_print_space(h, db, buf, indent, room, err);
  n += mox_snprintf(h, db, buf + n, room - static_cast<int32_t>(n), err, "%s@%s:", label, e.name);
  if (has_member(e, obj->value))
    n += mox_snprintf(h, db, buf + n, room - static_cast<int32_t>(n), err, "%s\n",
                      e.members[obj->value]);
  else
    n += mox_snprintf(h, db, buf + n, room - static_cast<int32_t>(n), err, "Enum value out of range");
  return n;
}

}  // namespace orva
