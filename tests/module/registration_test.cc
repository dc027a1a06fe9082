// Registration: the type-info list, the type-info initializer, the trace
// module and the bundle handler.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
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

TEST(TypeInfoList, FiftyEightRecordsInListOrderEachNamedAndWellFormed) {
  const mox_module_node_t *node = module_node();
  ASSERT_NE(node, nullptr) << "the module links its node at load";
  EXPECT_EQ(*node->prev, node);

  std::string kinds;
  size_t count = 0;
  for (mox_type_info_t *const *p = node->type_list; *p; ++p, ++count) {
    const mox_type_info_t *ti = *p;
    SCOPED_TRACE(ti->name);
    EXPECT_EQ(ti->magic, MOX_TYPE_INFO_MAGIC);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", ti->luid[i]);
    EXPECT_STREQ(hex, ti->luid_text);
    EXPECT_STREQ(ti->module, "orva_qos_data");
    EXPECT_EQ(std::make_tuple(ti->reserved0, ti->placement, ti->reserved1),
              std::make_tuple(0xFFFFFFFFu, 0u, 0u));
    ASSERT_NE(ti->variant_info, nullptr);
    uint32_t variants = ti->variant_info->count_word & 0xFF;
    ASSERT_GE(variants, 1u);
    bool table = std::strncmp(ti->kind, "table", 5) == 0;
    for (uint32_t v = 0; v < variants; ++v)
      EXPECT_EQ(ti->variant_info->entries[v].variant, table ? 1 : v);
    // Each record is the exported global its name and kind call for.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, symbol_of(ti).c_str()), ti);
    kinds += std::string(ti->kind) + " ";
  }
  EXPECT_EQ(count, 58u);
  std::string expected;
  for (int i = 0; i < 48; ++i)
    expected += i < 35 ? "type " : i < 39 ? "enum " : i < 48 ? "table table_record " : "";
  EXPECT_EQ(kinds, expected + "message ") << "types, enumerations, table/record pairs, message";

  // A few figures of the registration table, as the runtime sees them.
  EXPECT_STREQ(node->type_list[0]->name, "qos_ap_policy_t");
  const mox_variant_info_t *client = _qos_client_data_t_type_info_internal.variant_info;
  ASSERT_EQ(client->count_word & 0xFF, 2u);
  EXPECT_EQ(std::make_tuple(client->entries[0].used_length, client->entries[0].alloc_slop,
                            client->entries[1].used_length, client->entries[1].alloc_slop),
            std::make_tuple(1152u, 32u, 1164u, 20u));
  EXPECT_STREQ(node->type_list[57]->luid_text, "c93da761403af8b1b3e567fb9d584675");
}

TEST(TypeInfoInitializer, CopiesOnceThenOnlyRefreshesAndStopsAtAFailure) {
  ScopedHandle h;
  mox_handle_set_placement(h, 3);
  uint64_t allocs = h.alloc_stats().allocs;
  uint32_t err = 0;
  EXPECT_EQ(orva_qos_data_typeinfo_initialize(h, 7, &err), 0u);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(h.alloc_stats().allocs - allocs, 58u);
  EXPECT_EQ(mox_registry_count(h->type_registry), 58u);

  const mox_module_node_t *node = module_node();
  for (mox_type_info_t *const *p = node->type_list; *p; ++p) {
    auto *copy = static_cast<mox_registered_type_info_t *>(
        mox_registry_lookup(h->type_registry, MOX_NO_DB, (*p)->luid_text));
    ASSERT_NE(copy, nullptr) << (*p)->name;
    EXPECT_EQ(std::memcmp(&copy->info, *p, offsetof(mox_type_info_t, variant_info)), 0);
    EXPECT_EQ(copy->info.reserved0, 0xFFFFFFFFu);
    EXPECT_EQ(copy->info.placement, 3u);
    EXPECT_EQ(copy->info.variant_info, (*p)->variant_info);
    for (uint8_t b : copy->runtime_area) EXPECT_EQ(b, 0);
  }

  // A second run on the same registry allocates nothing.
  allocs = h.alloc_stats().allocs;
  EXPECT_EQ(orva_qos_data_typeinfo_initialize(h, 7, &err), 0u);
  EXPECT_EQ(h.alloc_stats().allocs, allocs);
  EXPECT_EQ(mox_registry_count(h->type_registry), 58u);

  // An allocation failure stops with the earlier records registered;
  // finishing later registers the rest.
  ScopedHandle other;
  mox_handle_fail_alloc_after(other, 10);
  orva_qos_data_typeinfo_initialize(other, MOX_NO_DB, &err);
  EXPECT_EQ(err, 12u);
  EXPECT_EQ(other->last_error, 12u);
  EXPECT_EQ(mox_registry_count(other->type_registry), 10u);
  mox_handle_fail_alloc_after(other, -1);
  err = 0;
  orva_qos_data_typeinfo_initialize(other, MOX_NO_DB, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(mox_registry_count(other->type_registry), 58u);
}

TEST(TraceModule, RegistersOnceUnderItsName) {
  mox_orva_qos_data_trace_init();
  uint16_t id = g_mox_orva_qos_data_trace_module_id;
  EXPECT_NE(id, 0);
  EXPECT_STREQ(mox_trace_module_name(id), "mox_orva_qos_data");
  mox_orva_qos_data_trace_init();
  EXPECT_EQ(g_mox_orva_qos_data_trace_module_id, id);
}

uint32_t handler_one(void *, void *) { return 1; }
uint32_t handler_two(void *, void *) { return 2; }

TEST(BundleHandler, RegistrationChainsThroughTheThreeSiblings) {
  uint32_t calls[3];
  for (uint32_t r = 0; r < 3; ++r) calls[r] = mox_bundle_registry_calls(r);

  EXPECT_EQ(orva_qos_data_bundle_handler_register(handler_one), nullptr);
  EXPECT_EQ(orva_qos_data_bundle_handler_register(handler_two), &handler_one);
  EXPECT_EQ(orva_qos_data_bundle_registered_handler, &handler_two);
  for (uint32_t r = 0; r < 3; ++r) {
    EXPECT_EQ(mox_bundle_registry_current(r), &handler_two) << r;
    EXPECT_EQ(mox_bundle_registry_calls(r), calls[r] + 2) << r;
  }

  EXPECT_EQ(orva_qos_data_bundle_handler_unregister(), &handler_two);
  EXPECT_EQ(orva_qos_data_bundle_registered_handler, nullptr);
  for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(mox_bundle_registry_current(r), nullptr) << r;
  EXPECT_EQ(orva_qos_data_bundle_handler_unregister(), nullptr);
}

}  // namespace
}  // namespace orva_test
