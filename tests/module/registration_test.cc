// Registration: the type-info list, the type-info initializer, the trace
// module and the bundle handler.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>

#include "handle.h"
#include "orva_qos_data/orva_qos_data.h"

namespace orva_test {
namespace {

const mox_module_node_t *module_node() {
  for (const mox_module_node_t *n = mox_module_tot_root.first; n; n = n->next)
    if (std::strcmp(n->name, "orva_qos_data") == 0) return n;
  return nullptr;
}

// The exported global of a type-info record: "_<name>[_<kind>]_type_info_internal",
// a table record's name losing its "_record".
std::string symbol_of(const mox_type_info_t *ti) {
  std::string name = ti->name, kind = ti->kind;
  if (kind == "table_record") name.resize(name.size() - std::strlen("_record"));
  return "_" + name + (kind == "type" || kind == "enum" ? "" : "_" + kind) + "_type_info_internal";
}

// The 58 records in list order, each well formed and the exported global its
// name and kind call for; the initializer registers a copy of each once.
// (Their figures: the generated layout checks.)
TEST(TypeInfoList, FiftyEightWellFormedRecordsCopiedOnceByTheInitializer) {
  const mox_module_node_t *node = module_node();
  ASSERT_NE(node, nullptr) << "the module links its node at load";
  EXPECT_EQ(*node->prev, node);
  ScopedHandle h;
  mox_handle_set_placement(h, 3);
  uint64_t allocs = h.alloc_stats().allocs;
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{orva_qos_data_typeinfo_initialize(h, 7, &err), err, h.alloc_stats().allocs - allocs,
                        mox_registry_count(h->type_registry)}), (std::tuple{0u, 0u, uint64_t{58}, 58u}));
  std::string kinds;
  for (mox_type_info_t *const *p = node->type_list; *p; ++p) {
    const mox_type_info_t *ti = *p;
    SCOPED_TRACE(ti->name);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", ti->luid[i]);
    EXPECT_EQ((std::tuple{ti->magic, std::string(hex), std::string(ti->module), ti->reserved0, ti->placement, ti->reserved1}),
              (std::tuple{MOX_TYPE_INFO_MAGIC, std::string(ti->luid_text), "orva_qos_data", 0xFFFFFFFFu, 0u, 0u}));
    ASSERT_NE(ti->variant_info, nullptr);
    const bool table = std::strncmp(ti->kind, "table", 5) == 0;
    for (uint32_t v = 0; v < (ti->variant_info->count_word & 0xFF); ++v)
      EXPECT_EQ(ti->variant_info->entries[v].variant, table ? 1 : v);
    EXPECT_EQ(dlsym(RTLD_DEFAULT, symbol_of(ti).c_str()), ti);
    kinds += std::string(ti->kind) + " ";
    auto *copy = static_cast<mox_registered_type_info_t *>(mox_registry_lookup(h->type_registry, MOX_NO_DB, ti->luid_text));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ((std::tuple{std::memcmp(&copy->info, ti, offsetof(mox_type_info_t, variant_info)), copy->info.reserved0,
                          copy->info.placement, copy->info.variant_info,
                          std::count(std::begin(copy->runtime_area), std::end(copy->runtime_area), 0)}),
              (std::tuple{0, 0xFFFFFFFFu, 3u, ti->variant_info, std::ssize(copy->runtime_area)}));
  }
  std::string expected;
  for (int i = 0; i < 48; ++i) expected += i < 35 ? "type " : i < 39 ? "enum " : "table table_record ";
  EXPECT_EQ(kinds, expected + "message ") << "types, enumerations, table/record pairs, message";

  // A second run on the same registry allocates nothing.
  allocs = h.alloc_stats().allocs;
  EXPECT_EQ((std::tuple{orva_qos_data_typeinfo_initialize(h, 7, &err), h.alloc_stats().allocs,
                        mox_registry_count(h->type_registry)}), (std::tuple{0u, allocs, 58u}));

  // An allocation failure stops with the earlier records registered;
  // finishing later registers the rest.
  ScopedHandle other;
  mox_handle_fail_alloc_after(other, 10);
  orva_qos_data_typeinfo_initialize(other, MOX_NO_DB, &err);
  EXPECT_EQ((std::tuple{err, other->last_error, mox_registry_count(other->type_registry)}), (std::tuple{12u, 12u, 10u}));
  mox_handle_fail_alloc_after(other, -1);
  orva_qos_data_typeinfo_initialize(other, MOX_NO_DB, &(err = 0));
  EXPECT_EQ((std::tuple{err, mox_registry_count(other->type_registry)}), (std::tuple{0u, 58u}));
}

TEST(TraceModule, RegistersOnceUnderItsName) {
  mox_orva_qos_data_trace_init();
  const uint16_t id = g_mox_orva_qos_data_trace_module_id;
  mox_orva_qos_data_trace_init();
  EXPECT_EQ((std::tuple{id != 0, std::string(mox_trace_module_name(id)), g_mox_orva_qos_data_trace_module_id}),
            (std::tuple{true, "mox_orva_qos_data", id}));
}

uint32_t handler_one(void *, void *) { return 1; }
uint32_t handler_two(void *, void *) { return 2; }

TEST(BundleHandler, RegistrationChainsThroughTheThreeSiblings) {
  uint32_t calls[3];
  for (uint32_t r = 0; r < 3; ++r) calls[r] = mox_bundle_registry_calls(r);

  // Each call returns the previous handler and reaches all three registries.
  EXPECT_EQ((std::tuple{orva_qos_data_bundle_handler_register(handler_one), orva_qos_data_bundle_handler_register(handler_two),
                        orva_qos_data_bundle_registered_handler}), (std::tuple{nullptr, &handler_one, &handler_two}));
  for (uint32_t r = 0; r < 3; ++r)
    EXPECT_EQ((std::tuple{mox_bundle_registry_current(r), mox_bundle_registry_calls(r)}), (std::tuple{&handler_two, calls[r] + 2}));
  EXPECT_EQ((std::tuple{orva_qos_data_bundle_handler_unregister(), orva_qos_data_bundle_registered_handler}),
            (std::tuple{&handler_two, nullptr}));
  for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(mox_bundle_registry_current(r), nullptr) << r;
  EXPECT_EQ(orva_qos_data_bundle_handler_unregister(), nullptr);
}

}  // namespace
}  // namespace orva_test
