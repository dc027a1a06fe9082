// The record-operation names the module exports, derived on their own.
//
// The test reads the catalogue file itself (field names, kinds and shapes; not
// the generator's per-type operation lists nor the fields' extra accessor
// marks) and applies the naming rules of the record families written out
// here: the lifecycle operations and their per-type differences, the accessor
// kind rule with its exceptions, the list operations, the record-level copy
// and its cleanup, compare, the wire operations and cloning, XML of every
// type and printing of the types that stand alone (the data and key records
// of the tables and the message's payload); and per table its operations, the
// operations its `+` line adds, its key index (named by data type and key
// field, or by the key record) and the accessors of the records it carries,
// its callbacks and their handlers.  Every derived name must be defined in
// the module's dynamic symbol table, which must hold no other name of these
// families, and every handler must be a weak reference the module leaves
// undefined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Names = std::set<std::string>;

// ---------------------------------------------------------------------------
// The catalogue, as this test reads it.

enum class Shape { Single, Array, Dynamic, List };

struct Field {
  std::string name, kind;  // the element kind for arrays, dynamic arrays and lists
  Shape shape = Shape::Single;
};

struct Type {
  std::string name;
  std::vector<Field> fields;
};

struct Table {
  std::string name, data, key;
  Names plus;  // the words of its "+" line
};

struct Catalogue {
  std::vector<Type> types;
  std::vector<Table> tables;
  Names records, enums;
  Names standalone;  // named by a table's data or key line or the message's payload line
  std::string error;
};

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// "K", "K[N]" (fixed array), "K[]" (dynamic array) or "list<K>".
Field parse_field(const std::string &name, const std::string &k) {
  static const std::regex form(R"((list<)?(\w+)(>|\[\d+\]|\[\])?)");
  std::smatch m;
  if (!std::regex_match(k, m, form) || m[1].matched != (m[3] == ">")) return Field{name, k};
  const Shape shape = m[1].matched ? Shape::List : m[3] == "[]" ? Shape::Dynamic
                      : m[3].matched ? Shape::Array : Shape::Single;
  return Field{name, m[2], shape};
}

Catalogue read_catalogue(const std::string &path) {
  Catalogue c;
  std::ifstream in(path);
  if (!in) c.error = "cannot open " + path;
  Type *current = nullptr;
  std::string block;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> w = words(line);
    if (w.empty() || w[0][0] == '#') continue;
    if (line[0] != ' ' && line[0] != '\t') {
      current = nullptr;
      block = w[0];
      if (w.size() < 2) continue;
      if (w[0] == "type") c.records.insert(w[1]), current = &c.types.emplace_back(Type{w[1], {}});
      if (w[0] == "enum") c.enums.insert(w[1]);
      if (w[0] == "table") c.tables.push_back(Table{w[1], "", "", {}});
    } else if (block == "table" && w[0] == "+") {
      c.tables.back().plus.insert(w.begin() + 1, w.end());
    } else if ((block == "table" || block == "message") && w.size() == 2 &&
               (w[0] == "data" || w[0] == "key" || w[0] == "payload")) {
      c.standalone.insert(w[1]);  // a key field's name is no record type: never looked up
      if (block == "table") (w[0] == "data" ? c.tables.back().data : c.tables.back().key) = w[1];
    } else if (current != nullptr && w[0] != "+") {  // "+": the generator's own operation list
      if (w.size() < 2) c.error = "short field line: " + line;
      else current->fields.push_back(parse_field(w[0], w[1]));
    }
  }
  return c;
}

// ---------------------------------------------------------------------------
// The naming rules.

const Names kScalarPrimitives = {
    "u_int8", "u_int16", "u_int32", "u_int64", "int16", "mox_boolean",
    // the runtime's enumerations are enumerations, hence scalar fields
    "enm_client_type", "enm_radio_band_type"};
const Names kObjectPrimitives = {"mox_mac_addr", "mox_vstring", "ip_address", "calendar_time"};

// Type operations beyond the common ones: operation names -> the types having them.
const Names kCloneTypes = {
    "qos_ap_data_t", "qos_bssid_key_t", "qos_ap_radio_key_t", "qos_bssid_data_t",
    "qos_client_data_t", "qos_ap_radio_data_t", "qos_wlan_data_t", "qos_pm_refcount_data_t",
    "qos_global_statistics", "qos_policy_content"};
const std::map<std::string, Names> kTypeOps = {
    {"create_cr destroy_cr", {"qos_ap_radio_key_t", "apf_call_record_t"}},
    {"offset_update", {"qos_bssid_data_t", "qos_client_data_t", "qos_ap_radio_data_t",
                       "qos_wlan_data_t", "qos_global_statistics"}},
    {"is_valid_cr", {"qos_bssid_data_t", "qos_client_data_t"}},
    {"set_instance_embedded",
     {"qos_client_policy_t", "qos_bssid_policy_t", "qos_stby_client_policy_data_t",
      "sip_wmm_data_t", "orva_vap_cac_t", "tclas_t", "tclas_set_t", "qos_ap_data_t",
      "qos_bssid_key_t", "qos_ap_radio_key_t", "qos_bssid_data_t", "qos_client_data_t",
      "qos_ap_radio_data_t", "qos_wlan_data_t", "qos_pm_refcount_data_t",
      "qos_global_statistics", "qos_policy_content"}},
    {"post_copyout_cleanup",
     {"qos_client_policy_t", "qos_bssid_policy_t", "apf_call_record_t", "class_map_list"}},
    {"clone", kCloneTypes},
    {"clone_internal", [] { Names s = kCloneTypes; s.insert("apf_call_record_t"); return s; }()},
};
// The one type without compare, sizeof and adjust_variant, whose fields have
// only state_flag_get.
const std::string kStateOnlyType = "qos_stby_client_policy_data_t";

// Accessors beyond the kind rule: operation names -> "type.field".
const Names kAllFieldsSet = {"qos_bssid_key_t", "qos_ap_radio_key_t"};  // every field has _set
const std::map<std::string, Names> kFieldOps = {
    {"set", {"qos_client_call_data.client_mac"}},
    {"get_value",
     {"qos_client_policy_t.qos_pm_state", "qos_client_policy_t.qos_pm_type",
      "qos_bssid_policy_t.qos_pm_state", "orva_vap_cac_entry_t.cac_state",
      "bssid_cac_t.cac_state"}},
    {"get_mem set_mem_cr",
     {"apf_call_record_t.uplink_dest_ip_port", "apf_call_record_t.downlink_dest_ip_port"}},
};
const std::string kCountField = "qos_client_data_t.call_record_index";

std::vector<std::string> field_operations(const Catalogue &c, const Type &t, const Field &f) {
  const std::string id = t.name + "." + f.name;
  if (t.name == kStateOnlyType) return {"state_flag_get"};
  if (id == kCountField) return {"get", "get_value"};
  const bool scalar = kScalarPrimitives.count(f.kind) || c.enums.count(f.kind);
  std::string ops = "state_flag_get state_flag_set";
  const std::string whole = " state_flag_whole_get state_flag_whole_set";
  switch (f.shape) {
    case Shape::Single:
      ops += scalar ? " get set_value" : kObjectPrimitives.count(f.kind) ? " get" : " get set";
      break;
    case Shape::Array:
      ops += std::string(" get set") + (scalar ? " set_value" : "") + whole;
      break;
    case Shape::Dynamic:
      ops += " get set remove_elements" + whole;
      break;
    case Shape::List:
      ops += " get_first get_last get_next get_count set_last set_after remove";
      break;
  }
  if (kAllFieldsSet.count(t.name)) ops += " set";
  for (const auto &[more, fields] : kFieldOps)
    if (fields.count(id)) ops += " " + more;
  std::vector<std::string> out = words(ops);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

Names expected_names(const Catalogue &c) {
  Names out;
  // Types held in another record as a field, an array element or a dynamic
  // array element (not as list entries) have the record-level T_set.
  Names nested;
  for (const Type &t : c.types)
    for (const Field &f : t.fields)
      if (f.shape != Shape::List && c.records.count(f.kind)) nested.insert(f.kind);
  for (const Type &t : c.types) {
    const std::string &T = t.name;
    std::string ops = "create initialize destroy destroy_internal sizeof_internal len marshal "
                      "marshal_internal unmarshal to_xml from_xml";
    if (c.standalone.count(T)) ops += " print";
    if (T != kStateOnlyType) ops += " compare sizeof adjust_variant";
    if (nested.count(T)) ops += " set";
    for (const auto &[more, types] : kTypeOps)
      if (types.count(T)) ops += " " + more;
    for (const std::string &op : words(ops)) out.insert(T + "_" + op);
    out.insert("_" + T + "_type_info_internal");
    for (const Field &f : t.fields)
      for (const std::string &op : field_operations(c, t, f)) out.insert(T + "_" + f.name + "_" + op);
  }
  return out;
}

// The tables' names: "<table>_<op>" for every table, the `+` operations, the
// key index "<table>_<data>_<key field>_<member>" ("<table>_<key record>__
// <member>", but "<table>_<key record>_search_cr" and "_get_cr"), the
// carried records' accessors, the callbacks and the two type-info records.
const char *const kTableOps =
    "table_open table_open_by_id table_open_by_ior_with_name table_open_by_ior_with_id "
    "table_open_cr table_close table_free create_record record_create_cr record_add_ref "
    "request_record_destroy request_record_destroy_cr destroy_record pkey_destroy insert insert_cr "
    "pkey_insert delete pkey_delete search search_w_src get_next_by_key get_prev_by_key "
    "pkey_get_first pkey_get_first_by_src pkey_get_first_ignore_src pkey_get_last pkey_get_next "
    "pkey_get_next_by_src pkey_get_next_ignore_src pkey_get_prev table_get_count "
    "table_get_count_by_src pkey_print table_pkey_len";
const char *const kTableEvents = "create modify delete create_dm delete_dm grouping free";
const std::map<std::string, std::string> kTablePlus = {
    {"request_free", "request_table_free table_close_cr"}, {"record_destroy_cr", "record_destroy_cr"}};
const char *const kIndexMembers = "avl_compare search_internal get_next_internal get_prev_internal search";
const std::map<std::string, std::string> kIndexPlus = {
    {"", "search_not_pending_destroy get_first_not_pending_destroy "
         "get_next_by_key_not_pending_destroy get_prev_by_key_not_pending_destroy"},  // unless search_only
    {"next_ignore_src", "get_next_ignore_src"}};
// Table-record framing and the tables' identity data.
const char *const kFramingOps =
    "table_record_marshal table_record_unmarshal table_record_len table_record_to_xml "
    "table_record_from_xml table_record_print table_pkey_marshal table_pkey_unmarshal";
const std::string kModule = "orva_qos_data";

// A table's names into ops, its handlers' into handlers.
void table_names(const Catalogue &c, const Table &t, Names &ops, Names &handlers) {
  const bool composite = c.records.count(t.key) > 0;
  const std::string index = t.name + "_" + (composite ? t.key : t.data + "_" + t.key);
  const std::string member = index + (composite ? "__" : "_");
  auto add = [&](const std::string &more, const std::string &prefix) {
    for (const std::string &op : words(more)) ops.insert(prefix + op);
  };
  add(kTableOps, t.name + "_");
  for (const std::string &e : words(kTableEvents)) {
    ops.insert(t.name + "_table_record_" + e + "_cb");
    handlers.insert(kModule + "_" + t.name + "_table_record_" + e + "_handler");
  }
  for (const auto &[plus, more] : kTablePlus)
    if (t.plus.count(plus)) add(more, t.name + "_");
  add(kIndexMembers, member);
  for (const auto &[plus, more] : kIndexPlus)
    if (plus.empty() ? !t.plus.count("search_only") : t.plus.count(plus) > 0) add(more, member);
  add(std::string("search_cr") + (t.plus.count("get_cr") ? " get_cr" : ""), index + "_");
  for (const std::string &carried : composite ? std::vector{t.data, t.key} : std::vector{t.data})
    add("get_field set_field free_and_set_field", t.name + "_" + carried + "_");
  add("table_type_info_internal table_record_type_info_internal", "_" + t.name + "_");
  add(kFramingOps, t.name + "_");
  add("luid luid_text", "table_" + t.name + "_");
}

// The module's dynamic symbol table, as nm reads it: the defined names, or
// with weak the undefined weak references.
Names module_symbols(const std::string &path, bool weak = false) {
  Names out;
  const std::string which = weak ? "--undefined-only" : "--defined-only";
  FILE *p = popen(("nm -D " + which + " '" + path + "'").c_str(), "r");
  char line[1024];
  while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr)
    if (std::vector<std::string> w = words(line); !w.empty() && (!weak || w[0] == "w"))
      out.insert(w.back().substr(0, w.back().find('@')));
  if (p != nullptr) pclose(p);
  return out;
}

// Whether a name belongs to a record type (starts with "T_", or is its
// type-info record) or to a table (its operations, type-info records,
// identity data and handlers).
bool derived_family(const Catalogue &c, const std::string &name) {
  for (const std::string &T : c.records)
    if (name.rfind(T + "_", 0) == 0 || name == "_" + T + "_type_info_internal") return true;
  for (const Table &t : c.tables)
    for (const std::string &prefix : {t.name + "_", "_" + t.name + "_", "table_" + t.name + "_",
                                      kModule + "_" + t.name + "_"})
      if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

std::string first_few(const Names &s, size_t n = 20) {
  std::string out = std::to_string(s.size()) + ":";
  for (auto it = s.begin(); it != s.end() && n-- > 0; ++it) out += " " + *it;
  return out;
}

// Every derived name is defined in the module's dynamic symbol table, which
// holds no other name of these families; every handler is a weak reference.
TEST(ExportedSymbols, ExactlyTheDerivedNamesAreExportedByTheModule) {
  const Catalogue c = read_catalogue(std::string(ORVA_SOURCE_DIR) + "/types/catalogue.qos");
  ASSERT_EQ(c.error, "");
  ASSERT_FALSE(c.types.empty() || c.tables.empty());
  for (const Type &t : c.types)
    for (const Field &f : t.fields)
      EXPECT_TRUE(kScalarPrimitives.count(f.kind) || kObjectPrimitives.count(f.kind) ||
                  c.enums.count(f.kind) || c.records.count(f.kind))
          << t.name << "." << f.name << " of unknown kind " << f.kind;
  Names expected = expected_names(c), handlers, missing, not_weak, extra;
  for (const Table &t : c.tables) table_names(c, t, expected, handlers);
  const Names exported = module_symbols(ORVA_MODULE_FILE), weak = module_symbols(ORVA_MODULE_FILE, true);
  ASSERT_GT(exported.size(), 1000u) << "could not read the dynamic symbols of " << ORVA_MODULE_FILE;
  std::set_difference(expected.begin(), expected.end(), exported.begin(), exported.end(),
                      std::inserter(missing, missing.end()));
  std::set_difference(handlers.begin(), handlers.end(), weak.begin(), weak.end(),
                      std::inserter(not_weak, not_weak.end()));
  for (const std::string &name : exported)
    if (derived_family(c, name) && !expected.count(name)) extra.insert(name);
  EXPECT_TRUE(missing.empty()) << "missing " << first_few(missing);
  EXPECT_TRUE(not_weak.empty()) << "handlers not weak references " << first_few(not_weak);
  EXPECT_TRUE(extra.empty()) << "exported beyond the rules " << first_few(extra);
}

}  // namespace
