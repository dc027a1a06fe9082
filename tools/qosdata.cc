// qosdata: shows the orva_qos_data module at work on the record runtime.
//
//   qosdata                  register the types and show one enumeration value
//   qosdata types            register the module's types into a fresh registry
//                            and list them with their luids, kinds and variants
//   qosdata enum NAME VALUE  show an enumeration value through each of its
//                            forms: value, wire bytes, XML, and back
//
// The tool finds the module through the runtime's module list and its
// operations by name, as any runtime user would.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orva_qos_data/orva_qos_data.h"

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

}  // namespace

int main(int argc, char **argv) {
  mox_handle_t *h = mox_handle_create();
  int rc = 0;
  if (argc >= 2 && std::strcmp(argv[1], "types") == 0) {
    rc = list_types(h);
  } else if (argc >= 4 && std::strcmp(argv[1], "enum") == 0) {
    rc = show_enum(h, argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0)));
  } else if (argc == 1) {
    rc = list_types(h);
    if (rc == 0) {
      std::printf("\n");
      rc = show_enum(h, "qos_pm_state", QOS_PM_STATE_IFID_LIMIT_REACHED);
    }
  } else {
    std::fprintf(stderr, "usage: qosdata [types | enum NAME VALUE]\n");
    rc = 2;
  }
  mox_handle_destroy(h);
  return rc;
}
