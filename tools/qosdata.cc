// qosdata: shows the orva_qos_data module at work on the record runtime.
//
//   qosdata                  all of the below in turn
//   qosdata --help           one line per subcommand
//   qosdata types            register the module's types into a fresh registry
//                            and list them with their luids, kinds and variants
//   qosdata enum NAME VALUE  show an enumeration value through each of its
//                            forms: value, wire bytes, XML, and back
//   qosdata type NAME        show a record type of the catalogue: sizes, and
//                            per field its kind, variant, offset, size and
//                            state-byte position
//   qosdata sample           build a client record (qos_client_data_t with
//                            two call records) through the exported
//                            accessors, with state tracking on, and print
//                            its fields with their state bytes and its
//                            wire length
//   qosdata sample --wire FILE
//                            write the sample record's wire form to FILE
//                            ("-": standard output)
//   qosdata print TYPE FILE  decode a record of TYPE from its wire form in
//                            FILE ("-": standard input) and print it as text
//   qosdata xml TYPE FILE    the same, rendered as XML (state flags when the
//                            record travelled with its state bytes)
//   qosdata tables           insert clients into tbl_qos_client_data in a
//                            private database in scrambled order, walk them in
//                            MAC order, search, delete, collect, with counts
//   qosdata decode [--xml] [--key TABLE] FILE
//                            decode the frames of FILE back to back (each a
//                            message or a table record, chosen by its
//                            identifier; with --key bare primary keys of
//                            TABLE) and print them as text or XML
//   qosdata encode [-o FILE] [--key TABLE] XML
//                            build the frame of the message or table record
//                            of an XML document (its root element chooses),
//                            or with --key the table record's primary key
//   qosdata trace LIB [CAPTURE]
//                            list the trace catalogue of a library file on
//                            disk, or decode a binary trace capture with it
//   qosdata manifest LIB     print a library file's type manifest
//
// Bad arguments (an unknown subcommand, a missing or extra argument, an
// unknown enumeration or type, a value that is not a member value) and
// input that does not decode (unreadable, short, corrupt, or followed by
// bytes that belong to no record) are reported in one line on stderr, with
// exit status 1.
//
// The tool finds the module through the runtime's module list and its
// enumeration operations by name, as any runtime user would.  It carries the
// module linked in (its exported operations are exported from the
// executable) so that it can also read the module's catalogue for `type` and
// for printing the sample, and decode and print a record of any type through
// the engines' run-time entry points (T_print is exported only for the types
// that stand alone).
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frame/catalogue.h"
#include "qosdata_libfile.h"
#include "frame/descriptors.h"
#include "mox/db.h"
#include "mox/xml.h"
#include "orva_qos_data/orva_qos_data.h"
#include "serial/print.h"
#include "serial/xml.h"
#include "serial/wire.h"
#include "tables/framing.h"
#include "types/class_map_list.h"
#include "types/lifecycle.h"

namespace {

const mox_module_node_t *find_module(const char *name) {
  for (const mox_module_node_t *n = mox_module_tot_root.first; n != nullptr; n = n->next)
    if (std::strcmp(n->name, name) == 0) return n;
  return nullptr;
}

int list_types(mox_handle_t *h) {
  const mox_module_node_t *node = find_module("orva_qos_data");
  if (node == nullptr) {
    std::fprintf(stderr, "qosdata: module orva_qos_data is not in the module list\n");
    return 1;
  }
  void *registry = mox_registry_create();
  mox_handle_set_type_registry(h, registry);
  uint32_t err = 0;
  orva_qos_data_typeinfo_initialize(h, MOX_NO_DB, &err);
  if (err != 0) {
    std::fprintf(stderr, "qosdata: registration failed: %s\n", std::strerror(static_cast<int>(err)));
    return 1;
  }
  std::printf("module %s: %u modules linked, %u type-info records registered\n", node->name,
              mox_module_tot_root.count, mox_registry_count(registry));
  std::printf("%3s  %-40s %-12s %-32s %s\n", "#", "name", "kind", "luid", "variants (used/slop)");
  unsigned i = 0;
  for (mox_type_info_t *const *p = node->type_list; *p != nullptr; ++p) {
    auto *copy = static_cast<mox_type_info_t *>(mox_registry_lookup(registry, MOX_NO_DB, (*p)->luid_text));
    if (copy == nullptr) {
      std::fprintf(stderr, "qosdata: %s missing from the registry\n", (*p)->name);
      return 1;
    }
    std::string variants;
    const mox_variant_info_t *vi = copy->variant_info;
    for (unsigned v = 0; v < (vi->count_word & 0xFF); ++v) {
      char one[48];
      std::snprintf(one, sizeof one, "%s%u: %u/%u", v ? "; " : "", vi->entries[v].variant,
                    vi->entries[v].used_length, vi->entries[v].alloc_slop);
      variants += one;
    }
    std::printf("%3u  %-40s %-12s %-32s %s\n", ++i, copy->name, copy->kind, copy->luid_text,
                variants.c_str());
  }
  mox_handle_set_type_registry(h, mox_default_registry());
  mox_registry_destroy(registry);
  return 0;
}

template <class F>
F lookup(const std::string &name) {
  void *sym = dlsym(RTLD_DEFAULT, name.c_str());
  if (sym == nullptr) {
    std::fprintf(stderr, "qosdata: no operation %s\n", name.c_str());
    std::exit(1);
  }
  return reinterpret_cast<F>(sym);
}

// The enumeration operations, by their exported names.
struct EnumOps {
  explicit EnumOps(const std::string &e)
      : create(lookup<decltype(create)>(e + "_create")),
        destroy(lookup<decltype(destroy)>(e + "_destroy")),
        get_value(lookup<decltype(get_value)>(e + "_get_value")),
        set_value(lookup<decltype(set_value)>(e + "_set_value")),
        compare(lookup<decltype(compare)>(e + "_compare")),
        marshal(lookup<decltype(marshal)>(e + "_marshal")),
        unmarshal(lookup<decltype(unmarshal)>(e + "_unmarshal")),
        to_xml(lookup<decltype(to_xml)>(e + "_to_xml")),
        from_xml(lookup<decltype(from_xml)>(e + "_from_xml")) {}
  mox_enum_obj_t *(*create)(mox_handle_t *, uint32_t);
  void (*destroy)(mox_handle_t *, uint32_t, mox_enum_obj_t *);
  uint32_t (*get_value)(mox_handle_t *, uint32_t, const mox_enum_obj_t *, uint32_t *);
  uint32_t (*set_value)(mox_handle_t *, uint32_t, mox_enum_obj_t *, uint32_t, uint32_t *);
  int32_t (*compare)(const mox_enum_obj_t *, const mox_enum_obj_t *);
  uint32_t (*marshal)(mox_handle_t *, uint32_t, uint8_t *, const mox_enum_obj_t *, int32_t, uint32_t *);
  uint32_t (*unmarshal)(mox_handle_t *, uint32_t, const uint8_t *, mox_enum_obj_t *, int32_t, uint32_t,
                        uint32_t *);
  uint32_t (*to_xml)(mox_handle_t *, uint32_t, const char *, char *, const mox_enum_obj_t *, int32_t,
                     uint32_t *);
  void (*from_xml)(mox_handle_t *, uint32_t, const char *, mox_xml_doc_t *, mox_enum_obj_t *,
                   uint32_t *, char *, uint32_t);
};

int show_enum(mox_handle_t *h, const std::string &name, uint32_t value) {
  EnumOps ops(name);
  uint32_t err = 0;
  mox_enum_obj_t *obj = ops.create(h, MOX_NO_DB);
  if (obj == nullptr) return 1;
  ops.set_value(h, MOX_NO_DB, obj, value, &err);
  std::printf("%s = %u: %s (variant %d of %u)\n", name.c_str(), value,
              err ? std::strerror(static_cast<int>(err)) : "set", obj->variant, obj->storage_variant);
  err = 0;
  std::printf("  value: %u\n", ops.get_value(h, MOX_NO_DB, obj, &err));

  uint8_t wire[16];
  uint32_t n = ops.marshal(h, MOX_NO_DB, wire, obj, sizeof wire, &err);
  std::printf("  wire:  ");
  for (uint32_t i = 0; i < n; ++i) std::printf("%02x ", wire[i]);
  std::printf("(%u bytes)\n", n);

  char xml[256] = "";
  ops.to_xml(h, MOX_NO_DB, name.c_str(), xml, obj, sizeof xml, &err);
  std::printf("  xml:   %s\n", xml);

  mox_enum_obj_t *back = ops.create(h, MOX_NO_DB);
  ops.unmarshal(h, MOX_NO_DB, wire, back, static_cast<int32_t>(n), 0, &err);
  std::printf("  decoded from wire: %u (compare %d)\n", back->value, ops.compare(obj, back));

  mox_xml_doc_t *doc = nullptr;
  char msg[128] = "";
  if (mox_xml_doc_parse(xml, std::strlen(xml), &doc, msg, sizeof msg) == 0) {
    mox_enum_obj_t *parsed = ops.create(h, MOX_NO_DB);
    std::string path = "//" + name;
    ops.from_xml(h, MOX_NO_DB, path.c_str(), doc, parsed, &err, msg, sizeof msg);
    std::printf("  parsed from xml:   %u (%s)\n", parsed->value,
                err ? std::strerror(static_cast<int>(err)) : "ok");
    ops.destroy(h, MOX_NO_DB, parsed);
    mox_xml_doc_free(doc);
  } else {
    std::printf("  xml refused: %s\n", msg);
  }
  ops.destroy(h, MOX_NO_DB, back);
  ops.destroy(h, MOX_NO_DB, obj);
  return err ? 1 : 0;
}


// ---------------------------------------------------------------------------
// The catalogue of one type

const char *const kKindNames[] = {
    "u_int8",      "u_int16",       "u_int32", "u_int64", "int16",
    "mox_boolean", "mox_mac_addr",  "mox_vstring", "ip_address", "calendar_time",
    "enm_client_type", "enm_radio_band_type", "", ""};

const orva::TypeDesc *find_type(const std::string &name) {
  for (uint32_t i = 0; i < orva::kTypeCount; ++i)
    if (name == orva::kTypes[i]->name) return orva::kTypes[i];
  return nullptr;
}

std::string kind_text(const orva::FieldDesc &f) {
  std::string k = f.kind == orva::Kind::Record ? f.record->name
                  : f.kind == orva::Kind::Enum ? f.enumd->name
                                               : kKindNames[static_cast<int>(f.kind)];
  switch (f.shape) {
    case orva::Shape::Single: break;
    case orva::Shape::Array: k.append("[").append(std::to_string(f.bound)).append("]"); break;
    case orva::Shape::Dynamic: k += "[] (dynamic)"; break;
    case orva::Shape::List: k += " (list)"; break;
  }
  return k;
}

int show_type(const std::string &name) {
  const orva::TypeDesc *t = find_type(name);
  if (t == nullptr) {
    std::fprintf(stderr, "qosdata: no record type %s (try: qosdata types)\n", name.c_str());
    return 1;
  }
  std::printf("type %s: luid %s, latest variant %d, %u fields\n", t->name, t->ti->luid_text,
              t->highest, t->field_count);
  std::printf("  data size %u at variant 0, %u at variant %d; state area %u / %u bytes; "
              "%u bytes inside a parent\n",
              t->data_size[0], t->data_size[1], t->highest, t->state_size[0], t->state_size[1],
              t->storage_size);
  std::printf("  %-3s %-36s %-34s %3s %3s %6s %6s %6s\n", "#", "field", "kind", "var", "key",
              "offset", "size", "state");
  for (uint16_t i = 0; i < t->field_count; ++i) {
    const orva::FieldDesc &f = t->fields[i];
    std::string state = f.state == orva::kNoState ? "-" : std::to_string(f.state);
    if (f.kind == orva::Kind::Record && f.shape != orva::Shape::List &&
        f.shape != orva::Shape::Dynamic)
      state += " (area " + std::to_string(f.state_area) + ")";
    if (f.shape == orva::Shape::Dynamic)
      state += " (block ptr " + std::to_string(f.state_pointer) + ")";
    std::printf("  %-3u %-36s %-34s %3u %3s %6u %6u %s\n", i, f.name, kind_text(f).c_str(),
                f.variant, f.key ? "yes" : "", f.offset, f.size, state.c_str());
  }
  return 0;
}

// ---------------------------------------------------------------------------
// A sample client record

void print_value(const orva::FieldDesc &f, const uint8_t *p) {
  switch (f.kind) {
    case orva::Kind::U8: std::printf("%u", *p); break;
    case orva::Kind::U16: { uint16_t v; std::memcpy(&v, p, 2); std::printf("%u", v); break; }
    case orva::Kind::I16: { int16_t v; std::memcpy(&v, p, 2); std::printf("%d", v); break; }
    case orva::Kind::U32:
    case orva::Kind::Boolean: { uint32_t v; std::memcpy(&v, p, 4); std::printf("%u", v); break; }
    case orva::Kind::U64: {
      uint64_t v;
      std::memcpy(&v, p, 8);
      std::printf("%" PRIu64, v);
      break;
    }
    case orva::Kind::MacAddr:
      std::printf("%02x:%02x:%02x:%02x:%02x:%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
      break;
    case orva::Kind::VString: {
      const auto *s = reinterpret_cast<const mox_vstring_t *>(p);
      if (s->str == nullptr) std::printf("(absent)"); else std::printf("\"%s\"", s->str);
      break;
    }
    case orva::Kind::IpAddress: {
      const auto *a = reinterpret_cast<const ip_address_t *>(p);
      if (a->family == MOX_IP_V4)
        std::printf("%u.%u.%u.%u", a->addr[0], a->addr[1], a->addr[2], a->addr[3]);
      else if (a->family == MOX_IP_V6)
        for (int i = 0; i < 16; i += 2) std::printf("%s%x", i ? ":" : "", a->addr[i] << 8 | a->addr[i + 1]);
      else
        std::printf("(none)");
      break;
    }
    case orva::Kind::CalendarTime: {
      const auto *c = reinterpret_cast<const calendar_time_t *>(p);
      std::printf("%" PRId64 ".%06u", c->sec, c->usec);
      break;
    }
    case orva::Kind::EnmClientType:
    case orva::Kind::EnmRadioBand:
    case orva::Kind::Enum: {
      const auto *e = reinterpret_cast<const mox_enum_obj_t *>(p);
      const char *m = f.kind == orva::Kind::EnmClientType ? enm_client_type_member_name(e->value)
                      : f.kind == orva::Kind::EnmRadioBand
                          ? enm_radio_band_type_member_name(e->value)
                          : (e->value < f.enumd->member_count ? f.enumd->members[e->value] : nullptr);
      std::printf("%u (%s)", e->value, m ? m : "?");
      break;
    }
    case orva::Kind::Record: break;
  }
}

// Prints obj's fields, one per line, with each field's state byte when the
// record is state-tracked.  Nested records, arrays of records, call records
// and list entries are printed below their field, indented.
void print_record(const orva::TypeDesc &t, mox_handle_t *h, const void *obj, int indent) {
  const auto *base = static_cast<const uint8_t *>(obj);
  const auto *hdr = static_cast<const mox_obj_header_t *>(obj);
  const uint8_t *area = orva::state_area(t, h, MOX_NO_DB, obj);
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const orva::FieldDesc &f = t.fields[i];
    if (f.variant > hdr->storage_variant) continue;
    std::printf("%*s%s", indent, "", f.name);
    if (area != nullptr && f.state != orva::kNoState) std::printf(" [state %u]", area[f.state]);
    std::printf(" = ");
    const uint8_t *p = base + f.offset;
    if (f.kind != orva::Kind::Record) {
      uint32_t n = f.shape == orva::Shape::Array ? f.bound : 1;
      bool uniform = n > 2;
      for (uint32_t e = 1; uniform && e < n; ++e)
        uniform = std::memcmp(p, p + e * f.size, f.size) == 0;
      if (uniform) {
        std::printf("{%u x ", n);
        print_value(f, p);
        std::printf("}\n");
        continue;
      }
      if (n > 1) std::printf("{");
      for (uint32_t e = 0; e < n; ++e) {
        if (e) std::printf(", ");
        print_value(f, p + e * f.size);
      }
      std::printf(n > 1 ? "}\n" : "\n");
      continue;
    }
    switch (f.shape) {
      case orva::Shape::Single:
        std::printf("%s\n", f.record->name);
        print_record(*f.record, h, p, indent + 2);
        break;
      case orva::Shape::Array:
        std::printf("%s[%u]\n", f.record->name, f.bound);
        for (uint32_t e = 0; e < f.bound; ++e) {
          std::printf("%*s[%u]\n", indent + 2, "", e);
          print_record(*f.record, h, p + e * f.size, indent + 4);
        }
        break;
      case orva::Shape::Dynamic: {
        uint32_t count = base[t.fields[f.count_field].offset];
        const uint8_t *block = *reinterpret_cast<const uint8_t *const *>(p);
        std::printf("%u x %s\n", block ? count : 0, f.record->name);
        for (uint32_t e = 0; block != nullptr && e < count; ++e) {
          std::printf("%*s[%u]\n", indent + 2, "", e);
          print_record(*f.record, h, block + e * f.size, indent + 4);
        }
        break;
      }
      case orva::Shape::List: {
        std::printf("list of %s\n", f.record->name);
        for (void *e = orva::list_first(obj, f); e != nullptr;
             e = orva::list_next(obj, f, e, *f.record))
          print_record(*f.record, h, e, indent + 2);
        break;
      }
    }
  }
}

// Fills one call record through its own accessors.
void fill_call_record(mox_handle_t *h, apf_call_record_t *cr, uint32_t n, uint32_t *err) {
  const uint32_t db = MOX_NO_DB;
  std::string ip = "192.0.2." + std::to_string(10 + n);
  ip_address_set_value(h, db, apf_call_record_t_uplink_dest_ip_address_get(h, db, cr, err), ip.c_str(), err);
  ip_address_set_value(h, db, apf_call_record_t_downlink_dest_ip_address_get(h, db, cr, err), "2001:db8::5",
                       err);
  std::string id = "call-" + std::to_string(n) + "@sip.example";
  mox_vstring_set_value(h, db, apf_call_record_t_call_id_get(h, db, cr, err), id.c_str(), err);
  mox_vstring_set_value(h, db, apf_call_record_t_called_party_get(h, db, cr, err), "sip:4100@pbx", err);
  mox_vstring_set_value(h, db, apf_call_record_t_calling_party_get(h, db, cr, err), "sip:2207@pbx", err);
  apf_call_record_t_wme_client_set_value(h, db, cr, 1, err);
  apf_call_record_t_call_code_set_value(h, db, cr, 200 + n, err);
  calendar_time_set_value(h, db, apf_call_record_t_call_established_timestamp_get(h, db, cr, err),
                          1796500000 + n, 250000, err);
  const uint32_t ports[2] = {16384 + 2 * n, 16385 + 2 * n};
  apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, cr, ports, 2);
}

// Builds a client record the way the QoS process does, through the exported
// accessors, with state tracking on; null after a one-line complaint.
qos_client_data_t *build_sample(mox_handle_t *h) {
  const uint32_t db = MOX_NO_DB;
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  qos_client_data_t *rec = qos_client_data_t_create(h, db);
  if (rec == nullptr) {
    std::fprintf(stderr, "qosdata: cannot create a qos_client_data_t\n");
    return nullptr;
  }
  uint32_t err = 0;
  const uint8_t mac[6] = {0x00, 0x1b, 0x54, 0x0a, 0x3c, 0x7e};
  const uint8_t ap[6] = {0x00, 0x3a, 0x98, 0x11, 0x22, 0x33};
  mox_mac_addr_set_value(h, db, qos_client_data_t_client_mac_get(h, db, rec, &err), mac, &err);
  mox_mac_addr_set_value(h, db, qos_client_data_t_wtp_mac_get(h, db, rec, &err), ap, &err);
  mox_mac_addr_set_value(h, db, qos_client_data_t_bw_alloc_ap_mac_get(h, db, rec, &err), ap, &err);
  mox_vstring_set_value(h, db, qos_client_data_t_bw_alloc_ap_name_get(h, db, rec, &err), "ap-floor3-east",
                        &err);
  qos_client_policy_t *up = qos_client_data_t_client_installed_upstream_pm_get(h, db, rec, &err);
  mox_vstring_set_value(h, db, qos_client_policy_t_qos_pm_name_get(h, db, up, &err), "platinum-voice", &err);
  // These fields are written in place through the runtime's kinds, which do
  // not know the record's state area: the caller marks them modified.
  qos_client_data_t_client_mac_state_flag_set(h, db, rec, 2, &err);
  qos_client_data_t_wtp_mac_state_flag_set(h, db, rec, 2, &err);
  qos_client_data_t_bw_alloc_ap_mac_state_flag_set(h, db, rec, 2, &err);
  qos_client_data_t_bw_alloc_ap_name_state_flag_set(h, db, rec, 2, &err);
  qos_client_policy_t_qos_pm_name_state_flag_set(h, db, up, 2, &err);
  qos_client_data_t_is_tspec_client_set_value(h, db, rec, 1, &err);
  qos_client_data_t_is_active_tspec_call_set_value(h, db, rec, 1, &err);
  qos_client_data_t_bandwidth_alloc_set_value(h, db, rec, 1800, &err);
  qos_client_data_t_bw_alloc_radio_slot_id_set_value(h, db, rec, 1, &err);
  qos_client_data_t_active_sip_call_set_value(h, db, rec, 2, &err);
  qos_client_data_t_bw_alloc_radio_band_info_set_value(h, db, rec, 1, &err);
  // Two call records: each is built on its own, then copied into the
  // client's call_record array, which grows to hold it.
  for (uint32_t n = 0; n < 2 && err == 0; ++n) {
    apf_call_record_t *cr = apf_call_record_t_create(h, db);
    if (cr == nullptr) {
      err = 12;
      break;
    }
    fill_call_record(h, cr, n, &err);
    qos_client_data_t_call_record_set(h, db, rec, n, cr, &err);
    apf_call_record_t_destroy(h, db, cr);
  }
  if (err != 0) {
    std::fprintf(stderr, "qosdata: building the sample failed: %s\n", std::strerror(static_cast<int>(err)));
    qos_client_data_t_destroy(h, db, rec);
    return nullptr;
  }
  return rec;
}

bool render_message(mox_handle_t *h, const qos_client_data_message_t *m, bool xml, std::string &out);

// The receiving side's handler: prints the message it is given and, owning
// it, destroys it.
void print_received(mox_handle_t *h, uint32_t db, void *, qos_client_data_message_t *m, uint32_t *err) {
  std::string text;
  if (!render_message(h, m, false, text)) *err = 22;
  std::fputs(text.c_str(), stdout);
  qos_client_data_message_destroy(h, db, m);
}

// The message road: a qos_client_data message whose payload is taken from
// the client record (the client's MAC, the AP and radio its bandwidth is
// allocated on, a voice call), encoded into its frame and decoded back with a
// handler, which prints it.
int show_message(mox_handle_t *h, qos_client_data_t *rec) {
  const uint32_t db = MOX_NO_DB;
  uint32_t err = 0;
  qos_client_data_message_t *m = qos_client_data_message_create(h, db);
  if (m == nullptr) {
    std::fprintf(stderr, "qosdata: cannot create a qos_client_data message\n");
    return 1;
  }
  qos_client_call_data *p = qos_client_data_message_qos_client_call_data_get(h, db, m, &err);
  qos_client_call_data_client_mac_set(h, db, p, qos_client_data_t_client_mac_get(h, db, rec, &err), &err);
  mox_vstring_set_value(h, db, qos_client_call_data_ap_name_get(h, db, p, &err),
                        qos_client_data_t_bw_alloc_ap_name_get(h, db, rec, &err)->str, &err);
  qos_client_call_data_radio_slot_id_set_value(h, db, p, *qos_client_data_t_bw_alloc_radio_slot_id_get(h, db, rec, &err),
                                               &err);
  qos_client_call_data_radio_band_info_set_value(
      h, db, p, qos_client_data_t_bw_alloc_radio_band_info_get(h, db, rec, &err)->value, &err);
  qos_client_call_data_call_type_set_value(h, db, p, ENM_CLIENT_TYPE_VOICE, &err);
  qos_client_call_data_call_duration1_set_value(h, db, p, 95, &err);
  std::vector<uint8_t> frame(qos_client_data_message_len(h, db, m));
  uint32_t n = err != 0 ? 0 : qos_client_data_message_marshal(h, db, frame.data(), m, int32_t(frame.size()), &err);
  qos_client_data_message_destroy(h, db, m);
  if (err != 0) {
    std::fprintf(stderr, "qosdata: encoding the message failed: %s\n", std::strerror(static_cast<int>(err)));
    return 1;
  }
  std::printf("message qos_client_data from the sample: %u bytes (header 27, identifier 16, payload %u)\n", n,
              n - 43);
  std::printf("decoded by the receiver's handler:\n");
  uint32_t used = qos_client_data_message_unmarshal(h, db, nullptr, nullptr, frame.data(), int32_t(n),
                                                    print_received, &err);
  if (err != 0 || used != n) {
    std::fprintf(stderr, "qosdata: decoding the message failed: %s\n", std::strerror(static_cast<int>(err)));
    return 1;
  }
  return 0;
}

// Builds the sample and prints it, then sends it on the message road.
int show_sample(mox_handle_t *h) {
  qos_client_data_t *rec = build_sample(h);
  if (rec == nullptr) return 1;
  const auto *hdr = reinterpret_cast<const mox_obj_header_t *>(rec);
  std::printf("sample qos_client_data_t (variant %d, flags 0x%02x, state tracking on)\n", hdr->variant,
              hdr->flags);
  print_record(*find_type("qos_client_data_t"), h, rec, 2);
  std::printf("wire length: %u bytes\n\n", qos_client_data_t_len(h, MOX_NO_DB, rec));
  int rc = show_message(h, rec);
  qos_client_data_t_destroy(h, MOX_NO_DB, rec);
  return rc;
}

// ---------------------------------------------------------------------------
// A table

std::string mac_text(const mox_mac_addr_t &m) {
  char b[18];
  std::snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m.octet[0], m.octet[1], m.octet[2],
                m.octet[3], m.octet[4], m.octet[5]);
  return b;
}

// Opens tbl_qos_client_data in a private database, inserts clients in
// scrambled MAC order, walks them in key order, searches one, deletes one,
// requests the destruction of another and collects it, printing the count
// after each step; then destroys the rest and frees the table.
int show_table(mox_handle_t *h) {
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "qosdata_tables", 16u << 20, 0, &err);
  void *t = db == MOX_NO_DB ? nullptr : tbl_qos_client_data_table_open(h, db, "clients", 0, &err);
  if (t == nullptr) {
    std::fprintf(stderr, "qosdata: tbl_qos_client_data: %s\n", std::strerror(int(err)));
    return 1;
  }
  auto count = [&](const std::string &what) {
    std::printf("%-34s count %u\n", what.c_str(), tbl_qos_client_data_table_get_count(h, db, t));
  };
  auto client = [&](void *rec) { return tbl_qos_client_data_qos_client_data_t_get_field(h, db, rec); };
  auto walk = [&] {
    std::printf("walk in MAC order:\n");
    for (void *r = tbl_qos_client_data_pkey_get_first(h, db, t, &err); r != nullptr;
         r = tbl_qos_client_data_pkey_get_next(h, db, t, r, &err))
      std::printf("  client %s on AP %s\n", mac_text(client(r)->client_mac).c_str(),
                  mac_text(client(r)->wtp_mac).c_str());
  };
  std::printf("tbl_qos_client_data \"%s\" in a private database\n", static_cast<mox_db_table_t *>(t)->name);
  for (uint8_t last : {0x42, 0x07, 0x99, 0x13, 0x58, 0x21}) {
    const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0x3d, 0x4e, last}, ap[6] = {0x00, 0x3a, 0x99, 0, 0, uint8_t(last % 3 + 1)};
    void *rec = tbl_qos_client_data_create_record(h, db, &err);
    qos_client_data_t *d = qos_client_data_t_create(h, db);
    mox_mac_addr_set_value(h, db, &d->client_mac, mac, &err);
    mox_mac_addr_set_value(h, db, &d->wtp_mac, ap, &err);
    tbl_qos_client_data_qos_client_data_t_set_field(h, db, rec, d);
    tbl_qos_client_data_insert(h, db, t, rec, &err);
    count("insert " + mac_text(d->client_mac));
  }
  walk();
  mox_mac_addr_t key = {{0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x13}};
  void *found = tbl_qos_client_data_qos_client_data_t_client_mac_search(h, db, t, &key, &err);
  std::printf("search %s: %s\n", mac_text(key).c_str(), found != nullptr ? "found" : "not found");
  key.octet[5] = 0x58;
  void *gone = tbl_qos_client_data_qos_client_data_t_client_mac_search(h, db, t, &key, &err);
  tbl_qos_client_data_destroy_record(h, db, gone, &err);  // the last reference: deleted, then freed
  count("delete " + mac_text(key));
  key.octet[5] = 0x07;
  void *doomed = tbl_qos_client_data_qos_client_data_t_client_mac_search(h, db, t, &key, &err);
  tbl_qos_client_data_request_record_destroy(h, db, t, doomed, &err);
  count("request destroy " + mac_text(key));
  mox_handle_set_collector(h, 1);
  mox_database_collect(h, db, tbl_qos_client_data_table_free, &err);
  mox_handle_set_collector(h, 0);
  count("collect");
  walk();
  std::vector<void *> rest;
  for (void *r = tbl_qos_client_data_pkey_get_first(h, db, t, &err); r != nullptr;
       r = tbl_qos_client_data_pkey_get_next(h, db, t, r, &err))
    rest.push_back(r);
  for (void *r : rest) tbl_qos_client_data_destroy_record(h, db, r, &err);
  count("destroy the rest");
  tbl_qos_client_data_table_free(h, db, t, &err);
  mox_database_destroy(h, db, &err);
  if (err != 0) std::fprintf(stderr, "qosdata: tbl_qos_client_data: %s\n", std::strerror(int(err)));
  return err != 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Records in their wire form

// The bytes of path ("-": standard input), false after a one-line complaint.
bool read_input(const std::string &path, std::vector<uint8_t> &out) {
  FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "qosdata: %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
  bool ok = !std::ferror(f);
  if (!ok) std::fprintf(stderr, "qosdata: %s: %s\n", path.c_str(), std::strerror(errno));
  if (f != stdin) std::fclose(f);
  return ok;
}

// Writes bytes to path ("-": standard output), false after a one-line complaint.
bool write_output(const std::string &path, const void *data, size_t len) {
  FILE *f = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(data, 1, len, f) == len;
  if (f != nullptr && f != stdout) ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "qosdata: %s: %s\n", path.c_str(), std::strerror(errno));
  return ok;
}

int write_sample_wire(mox_handle_t *h, const std::string &path) {
  qos_client_data_t *rec = build_sample(h);
  if (rec == nullptr) return 1;
  std::vector<uint8_t> wire(qos_client_data_t_len(h, MOX_NO_DB, rec));
  uint32_t err = 0;
  uint32_t n = qos_client_data_t_marshal(h, MOX_NO_DB, wire.data(), rec, int32_t(wire.size()), &err);
  qos_client_data_t_destroy(h, MOX_NO_DB, rec);
  if (err != 0) {
    std::fprintf(stderr, "qosdata: encoding the sample failed: %s\n", std::strerror(static_cast<int>(err)));
    return 1;
  }
  return write_output(path, wire.data(), n) ? 0 : 1;
}

// A record of type t decoded from the wire form in path ("-": standard
// input), or null after a one-line complaint.  The handle's tracking mode is
// taken from the record's wire flags, so that the state bytes it carries are
// decoded into its state area.  The caller destroys the record.
void *decode_input(mox_handle_t *h, const orva::TypeDesc &t, const std::string &path) {
  std::vector<uint8_t> in;
  in.reserve(1);  // an empty input is still a buffer, of length 0
  if (!read_input(path, in)) return nullptr;
  const int32_t len = in.size() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(in.size());
  uint32_t err = 0;
  int8_t variant = 0;
  uint8_t flags = 0;
  uint32_t at = _mox_instance_variant_unmarshal(h, MOX_NO_DB, in.data(), &variant, len, &err);
  _mox_instance_obj_flag_unmarshal(h, MOX_NO_DB, in.data() + at, &flags, len - int32_t(at), &err);
  void *obj = nullptr;
  uint32_t used = 0;
  if (err == 0) {
    mox_handle_set_sttr_mode(h, (flags & MOX_FLAG_STATE_TRACKED) ? MOX_STTR_ON : MOX_STTR_OFF);
    obj = orva::record_create(t, h, MOX_NO_DB);
    if (obj == nullptr) err = ENOMEM;
  }
  if (obj != nullptr) used = orva::record_unmarshal(t, h, MOX_NO_DB, in.data(), obj, len, 0, &err);
  if (err == 0 && used == in.size()) return obj;
  if (err != 0)
    std::fprintf(stderr, "qosdata: %s: not the wire form of a %s: %s (error %u)\n", path.c_str(),
                 t.name, std::strerror(static_cast<int>(err)), err);
  else
    std::fprintf(stderr, "qosdata: %s: the %s ends %zu bytes before the input\n", path.c_str(),
                 t.name, in.size() - used);
  if (obj != nullptr) orva::record_destroy(t, h, MOX_NO_DB, obj);
  return nullptr;
}

// Prints a record decoded from its wire form as text, or renders it as XML,
// in a buffer grown until the output fits.  A module enumeration holding a
// value outside its members renders as a fixed text that is not well-formed
// XML: the output is written all the same, with a warning on stderr, since
// the XML parser will refuse it.
int show_input(mox_handle_t *h, const std::string &type, const std::string &path, bool xml) {
  const orva::TypeDesc *t = find_type(type);
  if (t == nullptr) {
    std::fprintf(stderr, "qosdata: no record type %s (try: qosdata types)\n", type.c_str());
    return 1;
  }
  void *obj = decode_input(h, *t, path);
  if (obj == nullptr) return 1;
  std::vector<char> text(1 << 16);
  uint32_t err = 0, n = 0;
  for (;;) {
    err = 0;
    const int32_t room = int32_t(text.size());
    n = xml ? orva::record_to_xml(*t, h, MOX_NO_DB, t->name, text.data(), obj, room, 0, &err)
            : orva::record_print(*t, h, MOX_NO_DB, text.data(), 0, t->name, obj, room, &err);
    if (err != EMSGSIZE || text.size() >= (1u << 30)) break;
    text.resize(text.size() * 2);
  }
  orva::record_destroy(*t, h, MOX_NO_DB, obj);
  if (err != 0) {
    std::fprintf(stderr, "qosdata: %s the %s failed: %s\n", xml ? "rendering" : "printing", t->name,
                 std::strerror(static_cast<int>(err)));
    return 1;
  }
  if (xml && std::string_view(text.data(), n).find("value out of range/>") != std::string_view::npos)
    std::fprintf(stderr, "qosdata: warning: the %s holds an enumeration value outside its members; "
                 "its XML is not well-formed and will not parse back\n", t->name);
  return write_output("-", text.data(), n) ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Frames: the message, table records, bare primary keys

// Renders with render(buf, room, err) in a buffer grown until the text fits;
// false after a one-line complaint naming what.
template <class Render>
bool render_grown(const char *what, bool xml, std::string &out, Render render) {
  std::vector<char> text(1 << 16);
  uint32_t err = 0, n = 0;
  for (;;) {
    err = 0;
    n = render(text.data(), int32_t(text.size()), &err);
    if (err != EMSGSIZE || text.size() >= (1u << 30)) break;
    text.resize(text.size() * 2);
  }
  if (err != 0) {
    std::fprintf(stderr, "qosdata: rendering the %s failed: %s\n", what, std::strerror(static_cast<int>(err)));
    return false;
  }
  out.assign(text.data(), n);
  if (xml) out += "\n";
  return true;
}

bool render_message(mox_handle_t *h, const qos_client_data_message_t *m, bool xml, std::string &out) {
  return render_grown("message", xml, out, [&](char *buf, int32_t room, uint32_t *err) {
    return xml ? qos_client_data_message_to_xml(h, MOX_NO_DB, buf, m, room, err)
               : qos_client_data_message_print(h, MOX_NO_DB, buf, m, room, err);
  });
}

// The options of decode and encode, in any order before the one input:
// --xml (decode), -o FILE (encode), --key TABLE (both).
struct FrameArgs {
  bool xml = false;
  const orva::TableFraming *key = nullptr;
  std::string out = "-";
  std::string in;
};

bool frame_args(const std::string &cmd, int argc, char **argv, FrameArgs &a) {
  for (int i = 2; i < argc; ++i) {
    const std::string w = argv[i];
    if (cmd == "decode" && w == "--xml") {
      a.xml = true;
    } else if (cmd == "encode" && w == "-o" && i + 2 < argc) {
      a.out = argv[++i];
    } else if (w == "--key" && i + 2 < argc) {
      a.key = orva::table_framing(argv[++i]);
      if (a.key == nullptr) {
        std::string names;
        for (size_t t = 0; t < orva::kTableFramingCount; ++t)
          names += std::string(t ? ", " : "") + orva::kTableFramings[t].table->name;
        std::fprintf(stderr, "qosdata: no table %s (one of: %s)\n", argv[i], names.c_str());
        return false;
      }
    } else if (i == argc - 1 && (w == "-" || w[0] != '-')) {
      a.in = w;
    } else {
      std::fprintf(stderr, "qosdata: %s: unexpected argument '%s' (qosdata --help lists the forms)\n",
                   cmd.c_str(), w.c_str());
      return false;
    }
  }
  if (a.in.empty()) std::fprintf(stderr, "qosdata: %s takes an input file (- for stdin)\n", cmd.c_str());
  return !a.in.empty();
}

void set_tracking(mox_handle_t *h, const std::vector<uint8_t> &in, size_t flags_at) {
  bool on = flags_at < in.size() && (in[flags_at] & MOX_FLAG_STATE_TRACKED) != 0;
  mox_handle_set_sttr_mode(h, on ? MOX_STTR_ON : MOX_STTR_OFF);
}

// Decodes one frame at `at`, a message or a table record chosen by its
// identifier, or with key a bare primary key of that table; renders it
// into text.  Returns the bytes used, 0 after a one-line complaint.
size_t decode_one(mox_handle_t *h, const std::string &path, const std::vector<uint8_t> &in, size_t at,
                  const FrameArgs &a, std::string &text) {
  constexpr size_t kPrefix = MOX_MSG_HEADER_WIRE_SIZE + 16;
  const uint8_t *id = in.data() + at + MOX_MSG_HEADER_WIRE_SIZE;
  const orva::TableFraming *t = a.key;
  const bool message = a.key == nullptr && in.size() - at >= kPrefix &&
                       std::memcmp(id, message_qos_client_data_luid, 16) == 0;
  if (a.key == nullptr && in.size() - at < kPrefix) {
    std::fprintf(stderr, "qosdata: %s: frame at offset %zu: %zu bytes, shorter than header and identifier\n",
                 path.c_str(), at, in.size() - at);
    return 0;
  }
  if (a.key == nullptr && !message && (t = orva::table_framing_by_luid(id)) == nullptr) {
    std::fprintf(stderr, "qosdata: %s: frame at offset %zu: unknown identifier ", path.c_str(), at);
    for (int i = 0; i < 16; ++i) std::fprintf(stderr, "%02x", id[i]);
    std::fprintf(stderr, "\n");
    return 0;
  }
  // The tracking mode follows the flags byte of the (first) record.
  set_tracking(h, in, at + (a.key != nullptr ? 1 : kPrefix + 1));
  const uint8_t *buf = in.data() + at;
  const int32_t room = int32_t(std::min<size_t>(in.size() - at, INT32_MAX));
  uint32_t err = 0, used = 0;
  bool ok = false;
  if (message) {
    qos_client_data_message_t *m = nullptr;
    used = qos_client_data_message_unmarshal_only(h, MOX_NO_DB, &m, buf, room, &err);
    ok = err == 0 && render_message(h, m, a.xml, text);
    qos_client_data_message_destroy(h, MOX_NO_DB, m);
  } else if (a.key != nullptr) {
    const orva::TypeDesc &kt = t->table->composite ? *t->table->key_record : *t->table->data;
    void *key = nullptr;
    used = t->pkey_unmarshal(h, MOX_NO_DB, &key, buf, room, &err);
    ok = err == 0 && render_grown("key", a.xml, text, [&](char *b, int32_t n, uint32_t *e) {
      return a.xml ? orva::record_to_xml(kt, h, MOX_NO_DB, kt.name, b, key, n, 0, e)
                   : orva::record_print(kt, h, MOX_NO_DB, b, 0, kt.name, key, n, e);
    });
    if (key != nullptr) t->pkey_destroy(h, MOX_NO_DB, key);
  } else {
    void *rec = nullptr;
    used = t->unmarshal(h, MOX_NO_DB, &rec, buf, room, 0, &err);
    ok = err == 0 && render_grown("table record", a.xml, text, [&](char *b, int32_t n, uint32_t *e) {
      return (a.xml ? t->to_xml : t->print)(h, MOX_NO_DB, b, rec, n, e);
    });
    uint32_t local = 0;
    if (rec != nullptr) t->destroy(h, MOX_NO_DB, rec, &local);
  }
  if (err != 0)
    std::fprintf(stderr, "qosdata: %s: %s at offset %zu: %s (error %u)\n", path.c_str(),
                 a.key != nullptr ? "key" : "frame", at, std::strerror(static_cast<int>(err)), err);
  return ok && used > 0 ? used : 0;
}

// Decodes the frames (or with --key the bare keys) of the input back to
// back and writes each as text or XML.  Exit status 1 on the first bad one.
int decode_frames(mox_handle_t *h, const FrameArgs &a) {
  std::vector<uint8_t> in;
  in.reserve(1);
  if (!read_input(a.in, in)) return 1;
  for (size_t at = 0; at < in.size();) {
    std::string text;
    size_t used = decode_one(h, a.in, in, at, a, text);
    if (used == 0 || !write_output("-", text.data(), text.size())) return 1;
    at += used;
  }
  return 0;
}

// Builds a message or a table record from the XML document of the input
// (its root element chooses: qos_client_data or a table's name) and writes
// its frame, or with --key the table record's primary key.
int encode_frame(mox_handle_t *h, const FrameArgs &a) {
  std::vector<uint8_t> in;
  in.reserve(1);
  if (!read_input(a.in, in)) return 1;
  mox_xml_doc_t *doc = nullptr;
  char why[256] = "";
  if (mox_xml_doc_parse(reinterpret_cast<const char *>(in.data()), in.size(), &doc, why, sizeof why) != 0) {
    std::fprintf(stderr, "qosdata: %s: not an XML document: %s\n", a.in.c_str(), why);
    return 1;
  }
  auto root_is = [&](const char *name) {
    uint32_t roots = 0;
    return xml_get_element_nodecount(doc, (std::string("/") + name).c_str(), &roots) == 0 && roots == 1;
  };
  const orva::TableFraming *t = nullptr;
  for (size_t i = 0; i < orva::kTableFramingCount && t == nullptr; ++i)
    if (root_is(orva::kTableFramings[i].table->name)) t = &orva::kTableFramings[i];
  const bool message = t == nullptr && root_is("qos_client_data");
  if (!message && (t == nullptr || (a.key != nullptr && a.key != t))) {
    std::fprintf(stderr, "qosdata: %s: the root element is not %s\n", a.in.c_str(),
                 a.key != nullptr ? a.key->table->name : "qos_client_data or a table's name");
    mox_xml_doc_free(doc);
    return 1;
  }
  if (message && a.key != nullptr) {
    std::fprintf(stderr, "qosdata: %s: --key needs a table record's document\n", a.in.c_str());
    mox_xml_doc_free(doc);
    return 1;
  }
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  uint32_t err = 0;
  void *obj = message ? static_cast<void *>(qos_client_data_message_from_xml(h, MOX_NO_DB, doc, &err, why, sizeof why))
                      : t->from_xml(h, MOX_NO_DB, doc, &err, why, sizeof why);
  mox_xml_doc_free(doc);
  if (obj == nullptr) {
    std::fprintf(stderr, "qosdata: %s: %s (error %u) %s\n", a.in.c_str(), std::strerror(static_cast<int>(err)),
                 err, why);
    return 1;
  }
  auto *m = static_cast<qos_client_data_message_t *>(obj);
  std::vector<uint8_t> frame(message ? qos_client_data_message_len(h, MOX_NO_DB, m) : t->len(h, MOX_NO_DB, obj));
  const int32_t size = int32_t(frame.size());
  uint32_t n = message    ? qos_client_data_message_marshal(h, MOX_NO_DB, frame.data(), m, size, &err)
               : a.key ? t->pkey_marshal(h, MOX_NO_DB, frame.data(), obj, size, &err)
                       : t->marshal(h, MOX_NO_DB, frame.data(), obj, size, &err);
  uint32_t local = 0;
  if (message) qos_client_data_message_destroy(h, MOX_NO_DB, m);
  else t->destroy(h, MOX_NO_DB, obj, &local);
  if (err != 0) {
    std::fprintf(stderr, "qosdata: encoding the %s failed: %s\n", message ? "message" : t->table->name,
                 std::strerror(static_cast<int>(err)));
    return 1;
  }
  return write_output(a.out, frame.data(), n) ? 0 : 1;
}

// The subcommands, with the arguments each takes and its one-line help.
struct Command {
  const char *name;
  const char *args;
  int nargs;
  const char *help;
  const char *option = nullptr;  // a form with this option and one argument more
};
const Command kCommands[] = {
    {"", "", 0, "all of the below in turn (types, enum qos_pm_state 4, type qos_client_call_data, sample, tables)"},
    {"types", "", 0, "register the module's types and list them with luids, kinds and variants"},
    {"enum", "NAME VALUE", 2, "show an enumeration value as value, wire bytes and XML, and decoded back"},
    {"type", "NAME", 1, "show a record type's sizes and, per field, kind, variant, offset, size, state byte"},
    {"sample", "", 0, "build a state-tracked qos_client_data_t with two call records, print it, send its call as a message"},
    {"sample", "--wire FILE", 1, "write that record's wire form to FILE (- for stdout)", "--wire"},
    {"print", "TYPE FILE", 2, "decode a TYPE record's wire form from FILE (- for stdin), print its text"},
    {"xml", "TYPE FILE", 2, "decode a TYPE record's wire form from FILE (- for stdin), render it as XML"},
    {"decode", "FILE", 1, "decode message and table-record frames from FILE (- for stdin), print their text"},
    {"decode", "--xml FILE", 1, "the same, each frame as XML", "--xml"},
    {"decode", "[--xml] --key TABLE FILE", 1, "decode bare primary keys of TABLE instead"},
    {"encode", "XML", 1, "build a message or table-record frame from an XML document (- for stdin)"},
    {"encode", "-o FILE XML", 2, "the same, written to FILE", "-o"},
    {"trace", "LIB", 1, "list the trace catalogue of a library file on disk (section, index, text)"},
    {"trace", "LIB CAPTURE", 2, "decode a binary trace capture with that catalogue, one line per message"},
    {"manifest", "LIB", 1, "print the type manifest and build lines of a library file on disk"},
    {"tables", "", 0, "insert clients into tbl_qos_client_data, walk them in MAC order, search, delete, collect"},
    {"encode", "[-o FILE] --key TABLE XML", 1, "write the table record's primary key instead"},
    {"--help", "", 0, "this list"},
};

void print_help() {
  std::printf("usage: qosdata [COMMAND [ARGS]]\n");
  for (const Command &c : kCommands) {
    std::string call = std::string("qosdata ") + c.name + (c.args[0] ? " " : "") + c.args;
    std::printf("  %-40s %s\n", call.c_str(), c.help);
  }
}

// The enumeration named, or null after a one-line complaint.
const orva::EnumDesc *find_enum(const std::string &name) {
  std::string names;
  for (uint32_t i = 0; i < orva::kEnumCount; ++i) {
    if (name == orva::kEnums[i]->name) return orva::kEnums[i];
    names += std::string(i ? ", " : "") + orva::kEnums[i]->name;
  }
  std::fprintf(stderr, "qosdata: no enumeration %s (one of: %s)\n", name.c_str(), names.c_str());
  return nullptr;
}

// A member value of e written in decimal or 0x-hexadecimal, or -1 after a
// one-line complaint.
int64_t parse_member(const orva::EnumDesc &e, const char *text) {
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  bool number = text[0] >= '0' && text[0] <= '9' && end != text && *end == '\0' && errno == 0;
  if (!number || v >= e.member_count) {
    std::fprintf(stderr, "qosdata: %s: value %s is not a member value (0 to %u)\n", e.name, text,
                 e.member_count - 1u);
    return -1;
  }
  return static_cast<int64_t>(v);
}

int run(mox_handle_t *h, int argc, char **argv) {
  if (argc == 1) {
    int rc = list_types(h);
    if (rc == 0) {
      std::printf("\n");
      rc = show_enum(h, "qos_pm_state", QOS_PM_STATE_IFID_LIMIT_REACHED);
    }
    if (rc == 0) {
      std::printf("\n");
      rc = show_type("qos_client_call_data");
    }
    if (rc == 0) {
      std::printf("\n");
      rc = show_sample(h);
    }
    if (rc == 0) {
      std::printf("\n");
      rc = show_table(h);
    }
    return rc;
  }
  const std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    print_help();
    return 0;
  }
  if (cmd == "trace" || cmd == "manifest") return library_file_command(argc - 1, argv + 1);
  if (cmd == "decode" || cmd == "encode") {
    FrameArgs a;
    if (!frame_args(cmd, argc, argv, a)) return 1;
    return cmd == "decode" ? decode_frames(h, a) : encode_frame(h, a);
  }
  // A form with an option is chosen when its option follows the command.
  const Command *c = nullptr;
  for (const Command &k : kCommands) {
    if (k.name[0] == '\0' || cmd != k.name) continue;
    if (k.option == nullptr ? c == nullptr : argc > 2 && std::strcmp(argv[2], k.option) == 0) c = &k;
  }
  if (c == nullptr) {
    std::fprintf(stderr, "qosdata: unknown command '%s' (qosdata --help lists them)\n", cmd.c_str());
    return 1;
  }
  if (argc - 2 - (c->option ? 1 : 0) != c->nargs) {
    std::fprintf(stderr, "qosdata: %s takes %s%s (%d given)\n", c->name,
                 c->nargs ? "the arguments " : "no arguments", c->args, argc - 2);
    return 1;
  }
  if (cmd == "types") return list_types(h);
  if (cmd == "tables") return show_table(h);
  if (cmd == "type") return show_type(argv[2]);
  if (c->option != nullptr) return write_sample_wire(h, argv[3]);
  if (cmd == "sample") return show_sample(h);
  if (cmd == "print" || cmd == "xml") return show_input(h, argv[2], argv[3], cmd == "xml");
  const orva::EnumDesc *e = find_enum(argv[2]);
  int64_t value = e != nullptr ? parse_member(*e, argv[3]) : -1;
  return value < 0 ? 1 : show_enum(h, argv[2], static_cast<uint32_t>(value));
}

}  // namespace

int main(int argc, char **argv) {
  mox_handle_t *h = mox_handle_create();
  int rc = run(h, argc, argv);
  mox_handle_destroy(h);
  return rc;
}
