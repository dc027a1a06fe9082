// The record-operation names the module exports, derived on their own.
//
// The test reads the catalogue file itself (fields, kinds, bounds, variant-1
// fields; not the generator's per-type operation lists) and applies the naming
// rules of the record families written out here: the lifecycle operations and
// their per-type differences, the accessor kind rule with its exceptions, the
// list operations, the record-level copy and its cleanup, compare, the wire
// operations and cloning.  Every derived name must resolve in the loaded
// module, and the module's dynamic symbol table, read from the ELF file, must
// hold no other name of these families.  XML and printing are not covered.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// The catalogue, as this test reads it.

enum class Shape { Single, Array, Dynamic, List };

struct Field {
  std::string name;
  std::string kind;  // the element kind for arrays, dynamic arrays and lists
  Shape shape = Shape::Single;
  unsigned bound = 0;
  bool v1 = false;
  std::string count_of;  // set on the count field of a dynamic array
};

struct Type {
  std::string name;
  std::vector<Field> fields;
};

struct Catalogue {
  std::vector<Type> types;
  std::set<std::string> enums;
  std::string error;

  const Type *find(const std::string &n) const {
    for (const Type &t : types)
      if (t.name == n) return &t;
    return nullptr;
  }
  bool is_record(const std::string &n) const { return find(n) != nullptr; }
};

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

Field parse_field(const std::vector<std::string> &w) {
  Field f;
  f.name = w[0];
  std::string k = w[1];
  if (k.rfind("list<", 0) == 0 && k.back() == '>') {
    f.shape = Shape::List;
    k = k.substr(5, k.size() - 6);
  } else if (k.size() > 2 && k.compare(k.size() - 2, 2, "[]") == 0) {
    f.shape = Shape::Dynamic;
    k.resize(k.size() - 2);
  } else if (size_t open = k.find('['); open != std::string::npos && k.back() == ']') {
    f.shape = Shape::Array;
    f.bound = static_cast<unsigned>(std::stoul(k.substr(open + 1, k.size() - open - 2)));
    k.resize(open);
  }
  f.kind = k;
  for (size_t i = 2; i < w.size(); ++i) {
    if (w[i] == "v1") f.v1 = true;
    if (w[i].rfind("count_of=", 0) == 0) f.count_of = w[i].substr(9);
  }
  return f;
}

Catalogue read_catalogue(const std::string &path) {
  Catalogue c;
  std::ifstream in(path);
  if (!in) {
    c.error = "cannot open " + path;
    return c;
  }
  Type *current = nullptr;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> w = words(line);
    if (w.empty() || w[0][0] == '#') continue;
    bool indented = line[0] == ' ' || line[0] == '\t';
    if (!indented) {
      current = nullptr;
      if (w[0] == "type" && w.size() >= 2) {
        c.types.push_back(Type{w[1], {}});
        current = &c.types.back();
      } else if (w[0] == "enum" && w.size() >= 2) {
        c.enums.insert(w[1]);
      }
      continue;
    }
    // Inside a type block: field lines; the "+" line is the generator's own
    // list of type operations, which this derivation does not use.
    if (current == nullptr || w[0] == "+") continue;
    if (w.size() < 2) {
      c.error = "short field line: " + line;
      return c;
    }
    current->fields.push_back(parse_field(w));
  }
  return c;
}

// ---------------------------------------------------------------------------
// The naming rules.

const std::set<std::string> kScalarPrimitives = {
    "u_int8", "u_int16", "u_int32", "u_int64", "int16", "mox_boolean",
    // the runtime's enumerations are enumerations, hence scalar fields
    "enm_client_type", "enm_radio_band_type"};
const std::set<std::string> kObjectPrimitives = {"mox_mac_addr", "mox_vstring", "ip_address",
                                                 "calendar_time"};

// Lifecycle differences, one row per type: create_cr/destroy_cr, offset_update,
// is_valid_cr, set_instance_embedded, sizeof/adjust_variant ('y' or '-').
const std::map<std::string, std::string> kLifecycleRows = {
    {"qos_ap_policy_t", "----y"}, {"qos_client_policy_t", "---yy"},
    {"qos_bssid_policy_t", "---yy"}, {"qos_stby_client_policy_data_t", "---y-"},
    {"wmm_cac_stats_t", "----y"}, {"load_based_cac_stats_t", "----y"},
    {"sip_cac_stats_t", "----y"}, {"sip_wmm_data_t", "---yy"},
    {"orva_vap_cac_entry_t", "----y"}, {"bssid_cac_t", "----y"},
    {"orva_vap_cac_t", "---yy"}, {"tclas_t", "---yy"},
    {"tclas_set_t", "---yy"}, {"qos_ap_data_t", "---yy"},
    {"qos_bssid_key_t", "---yy"}, {"qos_ap_radio_key_t", "y--yy"},
    {"qos_bssid_data_t", "-yyyy"}, {"apf_call_record_t", "y---y"},
    {"aaa_qos_params_t", "----y"}, {"qos_client_data_t", "-yyyy"},
    {"qos_ap_radio_data_t", "-y-yy"}, {"qos_wlan_data_t", "-y-yy"},
    {"qos_pm_refcount_data_t", "---yy"}, {"qos_bssid_record_statistics", "----y"},
    {"qos_bssid_policy_statistics", "----y"}, {"qos_client_record_statistics", "----y"},
    {"qos_client_policy_statistics", "----y"}, {"qos_client_voice_statistics", "----y"},
    {"qos_generic_statistics", "----y"}, {"qos_ha_statistics", "----y"},
    {"qos_global_statistics", "-y-yy"}, {"class_map_entry", "----y"},
    {"class_map_list", "----y"}, {"qos_policy_content", "---yy"},
    {"qos_client_call_data", "----y"},
};

// Cloning: T_clone and T_clone_internal, or only the internal form.
const std::map<std::string, bool> kCloneTypes = {
    {"qos_ap_data_t", true},          {"qos_bssid_key_t", true},
    {"qos_ap_radio_key_t", true},     {"qos_bssid_data_t", true},
    {"apf_call_record_t", false},     {"qos_client_data_t", true},
    {"qos_ap_radio_data_t", true},    {"qos_wlan_data_t", true},
    {"qos_pm_refcount_data_t", true}, {"qos_global_statistics", true},
    {"qos_policy_content", true}};

const std::set<std::string> kPostCopyout = {"qos_client_policy_t", "qos_bssid_policy_t",
                                            "apf_call_record_t", "class_map_list"};

// Types whose every field also has _set; single fields with it.
const std::set<std::string> kAllFieldsSet = {"qos_bssid_key_t", "qos_ap_radio_key_t"};
const std::set<std::string> kFieldSet = {"qos_client_call_data.client_mac"};
const std::set<std::string> kFieldGetValue = {
    "qos_client_policy_t.qos_pm_state", "qos_client_policy_t.qos_pm_type",
    "qos_bssid_policy_t.qos_pm_state", "orva_vap_cac_entry_t.cac_state", "bssid_cac_t.cac_state"};
const std::set<std::string> kFieldMem = {"apf_call_record_t.uplink_dest_ip_port",
                                         "apf_call_record_t.downlink_dest_ip_port"};
const std::string kCountField = "qos_client_data_t.call_record_index";
const std::string kStateOnlyType = "qos_stby_client_policy_data_t";
const std::string kNoCompareType = "qos_stby_client_policy_data_t";

std::vector<std::string> field_operations(const Catalogue &c, const Type &t, const Field &f) {
  const std::string id = t.name + "." + f.name;
  if (t.name == kStateOnlyType) return {"state_flag_get"};
  if (id == kCountField) return {"get", "get_value"};
  const std::vector<std::string> state = {"state_flag_get", "state_flag_set"};
  const std::vector<std::string> whole = {"state_flag_whole_get", "state_flag_whole_set"};
  std::vector<std::string> ops;
  auto add = [&ops](const std::vector<std::string> &more) {
    ops.insert(ops.end(), more.begin(), more.end());
  };
  const bool scalar = kScalarPrimitives.count(f.kind) || c.enums.count(f.kind);
  switch (f.shape) {
    case Shape::Single:
      if (scalar)
        add({"get", "set_value"});
      else if (kObjectPrimitives.count(f.kind))
        add({"get"});
      else
        add({"get", "set"});
      add(state);
      break;
    case Shape::Array:
      add({"get", "set"});
      if (scalar) add({"set_value"});
      add(state);
      add(whole);
      break;
    case Shape::Dynamic:
      add({"get", "set", "remove_elements"});
      add(state);
      add(whole);
      break;
    case Shape::List:
      add(state);
      add({"get_first", "get_last", "get_next", "get_count", "set_last", "set_after", "remove"});
      break;
  }
  if (kAllFieldsSet.count(t.name) || kFieldSet.count(id)) add({"set"});
  if (kFieldGetValue.count(id)) add({"get_value"});
  if (kFieldMem.count(id)) add({"get_mem", "set_mem_cr"});
  std::sort(ops.begin(), ops.end());
  ops.erase(std::unique(ops.begin(), ops.end()), ops.end());
  return ops;
}

// Types held in another record as a field, an array element or a dynamic
// array element (not as list entries): they have the record-level T_set.
std::set<std::string> nested_types(const Catalogue &c) {
  std::set<std::string> out;
  for (const Type &t : c.types)
    for (const Field &f : t.fields)
      if (f.shape != Shape::List && c.is_record(f.kind)) out.insert(f.kind);
  return out;
}

std::set<std::string> expected_names(const Catalogue &c) {
  std::set<std::string> out;
  const std::set<std::string> nested = nested_types(c);
  for (const Type &t : c.types) {
    const std::string &T = t.name;
    for (const char *op : {"create", "initialize", "destroy", "destroy_internal",
                           "sizeof_internal", "len", "marshal", "marshal_internal", "unmarshal"})
      out.insert(T + "_" + op);
    out.insert("_" + T + "_type_info_internal");
    auto row = kLifecycleRows.find(T);
    if (row != kLifecycleRows.end()) {
      const std::string &r = row->second;
      if (r[0] == 'y') out.insert({T + "_create_cr", T + "_destroy_cr"});
      if (r[1] == 'y') out.insert(T + "_offset_update");
      if (r[2] == 'y') out.insert(T + "_is_valid_cr");
      if (r[3] == 'y') out.insert(T + "_set_instance_embedded");
      if (r[4] == 'y') out.insert({T + "_sizeof", T + "_adjust_variant"});
    }
    if (T != kNoCompareType) out.insert(T + "_compare");
    if (nested.count(T)) out.insert(T + "_set");
    if (kPostCopyout.count(T)) out.insert(T + "_post_copyout_cleanup");
    if (auto cl = kCloneTypes.find(T); cl != kCloneTypes.end()) {
      out.insert(T + "_clone_internal");
      if (cl->second) out.insert(T + "_clone");
    }
    for (const Field &f : t.fields)
      for (const std::string &op : field_operations(c, t, f)) out.insert(T + "_" + f.name + "_" + op);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The module's dynamic symbol table, from the ELF file.

// The module is loaded by this process, so its file is of the native class.
std::set<std::string> module_exports(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> img((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> out;
  ElfW(Ehdr) eh;
  if (img.size() < sizeof eh || std::memcmp(img.data(), ELFMAG, SELFMAG) != 0) return out;
  std::memcpy(&eh, img.data(), sizeof eh);
  if (eh.e_shoff == 0 || eh.e_shoff + uint64_t(eh.e_shnum) * sizeof(ElfW(Shdr)) > img.size())
    return out;
  std::vector<ElfW(Shdr)> sh(eh.e_shnum);
  std::memcpy(sh.data(), img.data() + eh.e_shoff, sh.size() * sizeof(ElfW(Shdr)));
  for (const ElfW(Shdr) &s : sh) {
    if (s.sh_type != SHT_DYNSYM || s.sh_link >= sh.size()) continue;
    const ElfW(Shdr) &strs = sh[s.sh_link];
    if (s.sh_offset + s.sh_size > img.size() || strs.sh_offset + strs.sh_size > img.size())
      continue;
    for (uint64_t off = 0; off + sizeof(ElfW(Sym)) <= s.sh_size; off += sizeof(ElfW(Sym))) {
      ElfW(Sym) sym;
      std::memcpy(&sym, img.data() + s.sh_offset + off, sizeof sym);
      // (the bind and type fields sit alike in both classes)
      unsigned bind = ELF64_ST_BIND(sym.st_info), type = ELF64_ST_TYPE(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || sym.st_name >= strs.sh_size) continue;
      if ((bind != STB_GLOBAL && bind != STB_WEAK) || (type != STT_FUNC && type != STT_OBJECT))
        continue;
      const char *name = img.data() + strs.sh_offset + sym.st_name;
      out.insert(std::string(name, strnlen(name, strs.sh_size - sym.st_name)));
    }
  }
  return out;
}

// The record type a name belongs to (the longest type name it starts with,
// followed by '_'; a type-info record has a leading '_'), or empty.
std::string owner_type(const Catalogue &c, const std::string &name) {
  std::string best;
  for (const Type &t : c.types) {
    const std::string &T = t.name;
    bool owns = name.rfind(T + "_", 0) == 0 || name == "_" + T + "_type_info_internal";
    if (owns && T.size() > best.size()) best = T;
  }
  return best;
}

// Families this test does not derive: XML rendering and parsing, printing.
bool outside_derived_families(const std::string &name) {
  for (const char *suffix : {"_to_xml", "_from_xml", "_print"}) {
    size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) return true;
  }
  return false;
}

std::string first_few(const std::set<std::string> &s, size_t n = 20) {
  std::string out;
  for (const std::string &x : s) {
    if (n-- == 0) return out + " ...";
    out += " " + x;
  }
  return out;
}

const Catalogue &catalogue() {
  static const Catalogue c = read_catalogue(std::string(ORVA_SOURCE_DIR) + "/types/catalogue.qos");
  return c;
}

void *module_handle() {
  static void *h = dlopen(ORVA_MODULE_FILE, RTLD_NOW);
  return h;
}

// ---------------------------------------------------------------------------

TEST(ExportedSymbols, CatalogueAsThisTestReadsIt) {
  const Catalogue &c = catalogue();
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.types.size(), 35u);
  EXPECT_EQ(c.enums, (std::set<std::string>{"qos_pm_state", "qos_pm_type", "bssid_qos_pm_type",
                                            "qos_cac_state_type"}));
  size_t fields = 0;
  for (const Type &t : c.types) {
    fields += t.fields.size();
    EXPECT_EQ(kLifecycleRows.count(t.name), 1u) << t.name;
    for (const Field &f : t.fields) {
      bool known = kScalarPrimitives.count(f.kind) || kObjectPrimitives.count(f.kind) ||
                   c.enums.count(f.kind) || c.is_record(f.kind);
      EXPECT_TRUE(known) << t.name << "." << f.name << " of kind " << f.kind;
      // Variant-1 fields exist only in the two types with two variants, last.
      if (f.v1) {
        EXPECT_TRUE(t.name == "qos_client_data_t" || t.name == "qos_client_call_data") << t.name;
        EXPECT_EQ(&f, &t.fields.back()) << t.name << "." << f.name;
      }
    }
  }
  EXPECT_EQ(fields, 269u);
  // The shapes the accessor rule special-cases sit where expected.
  const Type *client = c.find("qos_client_data_t");
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->fields[17].count_of, "call_record");
  EXPECT_EQ(client->fields[18].shape, Shape::Dynamic);
  EXPECT_EQ(c.find("class_map_list")->fields[0].shape, Shape::List);
  // The record-level copy belongs to exactly the 22 nested types.
  EXPECT_EQ(nested_types(c),
            (std::set<std::string>{
                "qos_ap_policy_t", "qos_client_policy_t", "qos_bssid_policy_t", "wmm_cac_stats_t",
                "load_based_cac_stats_t", "sip_cac_stats_t", "sip_wmm_data_t",
                "orva_vap_cac_entry_t", "bssid_cac_t", "orva_vap_cac_t", "tclas_t", "tclas_set_t",
                "apf_call_record_t", "aaa_qos_params_t", "qos_bssid_record_statistics",
                "qos_bssid_policy_statistics", "qos_client_record_statistics",
                "qos_client_policy_statistics", "qos_client_voice_statistics",
                "qos_generic_statistics", "qos_ha_statistics", "class_map_list"}));
}

// Every derived name resolves in the loaded module (not elsewhere), and the
// module's dynamic table holds no other name of these families.
TEST(ExportedSymbols, ExactlyTheDerivedNamesAreExportedByTheModule) {
  const Catalogue &c = catalogue();
  ASSERT_EQ(c.error, "");
  void *mod = module_handle();
  ASSERT_NE(mod, nullptr) << dlerror();
  const std::set<std::string> expected = expected_names(c);
  std::set<std::string> missing, elsewhere;
  std::string module_base = ORVA_MODULE_FILE;
  module_base = module_base.substr(module_base.rfind('/') + 1);
  for (const std::string &name : expected) {
    void *p = dlsym(mod, name.c_str());
    Dl_info info{};
    if (p == nullptr)
      missing.insert(name);
    else if (dladdr(p, &info) == 0 || info.dli_fname == nullptr ||
             std::string(info.dli_fname).find(module_base) == std::string::npos)
      elsewhere.insert(name);
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " missing:" << first_few(missing);
  EXPECT_TRUE(elsewhere.empty()) << "defined outside the module:" << first_few(elsewhere);

  const std::set<std::string> exported = module_exports(ORVA_MODULE_FILE);
  ASSERT_GT(exported.size(), 1000u) << "could not read the dynamic symbols of " << ORVA_MODULE_FILE;
  std::set<std::string> extra;
  for (const std::string &name : exported)
    if (!owner_type(c, name).empty() && !outside_derived_families(name) && !expected.count(name))
      extra.insert(name);
  EXPECT_TRUE(extra.empty()) << extra.size() << " exported beyond the rules:" << first_few(extra);
}

}  // namespace
