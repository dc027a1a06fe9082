// Trace registration, the emitters and their capture, the bundle registries
// and the message services.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>

#include "handle.h"
#include "mox/runtime.h"
#include "trace_capture.h"

namespace {

using orva_test::ScopedHandle;

const char *const kFormats[] = {" plain message", " type %s failed", " count %u",  " %s in %s", " %s: error %d",
                                 " %u items of %s", " %u of %u",       " %s/%s/%s", " %u.%u.%u", " bad %s conversion"};
const quill_section_desc_t kSection = {1, 2, {0}};
const bool kRegistered = (quill_catalogue_register(&kSection, 10, kFormats), true);

TEST(CoreTrace, ModuleIdsOncePerNameAndEmittersRenderCheckTheirFormatsAndCapture) {
  uint16_t id_a = 0, id_a2 = 0, id_b = 0;
  uint32_t reg = 0;
  const uint32_t a = quill_module_init_fn("core_trace_test_a", &id_a, &reg);
  EXPECT_EQ((std::tuple{id_a, reg}), (std::tuple{a, 1u}));
  // Once per name; ids handed out in order; no name for an unknown id.
  EXPECT_EQ((std::tuple{quill_module_init_fn("core_trace_test_a", &id_a2, nullptr), id_a2}), (std::tuple{a, id_a}));
  quill_module_init_fn("core_trace_test_b", &id_b, nullptr);
  EXPECT_EQ((std::tuple{int(id_b), std::string(mox_trace_module_name(id_b)), mox_trace_module_name(0),
                            mox_trace_module_name(60000)}), (std::tuple{id_a + 1, "core_trace_test_b", nullptr, nullptr}));

  // The emitters render, check their formats and capture.
  ScopedHandle h;  // clears the capture
  uint16_t id = 0;
  quill_module_init_fn("core_trace_test_emit", &id, nullptr);
  const std::string big(2000, 'z');
  const struct { std::function<void()> emit; const char *text; } cases[] = {
      {[&] { __QLf_0(&kSection, 0, id, MOX_LEVEL_FATAL); }, "plain message"},
      {[&] { __QLf_1(&kSection, 1, id, MOX_LEVEL_ERROR, "qos_ap_data_t"); }, "type qos_ap_data_t failed"},
      {[&] { __QLf_4(&kSection, 2, id, MOX_LEVEL_NOTICE, 42); }, "count 42"},
      {[&] { __QLf_11(&kSection, 3, id, MOX_LEVEL_DETAIL, "x", "y"); }, "x in y"},
      {[&] { __QLf_14(&kSection, 4, id, MOX_LEVEL_ERROR, "open", 12); }, "open: error 12"},
      {[&] { __QLf_41(&kSection, 5, id, MOX_LEVEL_GROUPING, 3, "tables"); }, "3 items of tables"},
      {[&] { __QLf_44(&kSection, 6, id, MOX_LEVEL_ERROR, 1, 2); }, "1 of 2"},
      {[&] { __QLf_111(&kSection, 7, id, MOX_LEVEL_ERROR, "a", nullptr, "c"); }, "a/(null)/c"},
      {[&] { __QLf_444(&kSection, 8, id, MOX_LEVEL_ERROR, 10, 0, 4294967295u); }, "10.0.4294967295"},
      // A wrong catalogue entry is visible instead of undefined.
      {[&] { __QLf_0(&kSection, 10, id, MOX_LEVEL_ERROR); }, "<no format: section 2 index 10>"},
      {[&] { __QLf_0(nullptr, 0, id, MOX_LEVEL_ERROR); }, "<no format: section 0 index 0>"},
      {[&] { __QLf_4(&kSection, 9, id, MOX_LEVEL_ERROR, 5); },
       "<format does not match arguments (u): bad %s conversion>"},
      {[&] { __QLf_1(&kSection, 2, id, MOX_LEVEL_ERROR, "str"); },
       "<format does not match arguments (s): count %u>"},
      {[&] { __QLf_0(&kSection, 1, id, MOX_LEVEL_ERROR); },
       "<format does not match arguments (none): type %s failed>"},
      {[&] { __QLf_44(&kSection, 2, id, MOX_LEVEL_ERROR, 1, 2); },
       "<format does not match arguments (uu): count %u>"},
      {[&] { __QLf_1(&kSection, 1, id, MOX_LEVEL_ERROR, big.c_str()); },
       nullptr},  // cut to the record's text
  };
  for (const auto &c : cases) c.emit();
  auto records = orva_test::TraceRecords();
  ASSERT_EQ(records.size(), std::size(cases));
  for (uint32_t i = 0; i < records.size(); ++i)
    EXPECT_EQ((std::tuple{std::string(cases[i].text ? records[i].text : ""), records[i].module_id}),
              (std::tuple{cases[i].text ? cases[i].text : "", id})) << "case " << i;
  EXPECT_EQ(std::strlen(records.back().text), sizeof records.back().text - 1);
  EXPECT_EQ((std::tuple{records[2].index, records[2].level, records[2].section}),
            (std::tuple{2u, MOX_LEVEL_NOTICE, static_cast<const void *>(&kSection)}));
  mox_trace_clear();
  EXPECT_EQ(mox_trace_count(), 0u);

  plume_perror(13);
  mox_trace_record_t rec;
  ASSERT_TRUE(mox_trace_get(0, &rec));
  EXPECT_EQ((std::tuple{std::string(rec.text).find("write range refused") != std::string::npos,
                            std::string(mox_trace_module_name(rec.module_id)), rec.level}),
            (std::tuple{true, "mox_runtime", uint32_t(MOX_LEVEL_ERROR)}));
  const uint32_t before = mox_trace_trans_init_calls();
  trans_avl_trace_init();
  trans_gbt_trace_init();
  trans_ravl_trace_init();
  EXPECT_EQ(mox_trace_trans_init_calls() - before, 3u);
}

// A fatal message reaches stderr before the abort that follows it, without
// any trace setting; other levels do not.
TEST(CoreTraceDeathTest, FatalMessagesAlwaysReachStderr) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  mox_trace_set_stderr(0);
  EXPECT_DEATH(
      {
        __QLf_4(&kSection, 2, 1, MOX_LEVEL_ERROR, 7);
        __QLf_1(&kSection, 1, 1, MOX_LEVEL_FATAL, "corrupt_t");
        std::abort();
      },
      "^\\[[^]]*\\] type corrupt_t failed\n$");
}

uint32_t handler_a(void *, void *) { return 1; }
uint32_t handler_b(void *, void *) { return 2; }

TEST(CoreBundles, EachRegistryReturnsThePreviousHandlerAndTheOpenBundleCountsMessages) {
  using reg_fn = mox_bundle_handler_fn (*)(mox_bundle_handler_fn);
  const std::tuple<uint32_t, reg_fn, mox_bundle_handler_fn (*)(void)> registries[] = {
      {MOX_BUNDLE_HUB_COMM, hub_comm_bundle_handler_register, hub_comm_bundle_handler_unregister},
      {MOX_BUNDLE_IF_COMMON, if_common_bundle_handler_register, if_common_bundle_handler_unregister},
      {MOX_BUNDLE_ORVA_ENUM_TYPES, orva_enum_types_bundle_handler_register, orva_enum_types_bundle_handler_unregister}};
  for (const auto &[id, reg, unreg] : registries) {
    const uint32_t calls = mox_bundle_registry_calls(id);
    unreg();
    // Each call returns the previous handler; the registries do not share theirs.
    EXPECT_EQ((std::tuple{reg(handler_a), reg(handler_b), mox_bundle_registry_current(id),
                              mox_bundle_registry_current(id == MOX_BUNDLE_HUB_COMM ? MOX_BUNDLE_IF_COMMON : MOX_BUNDLE_HUB_COMM),
                              unreg(), unreg(), mox_bundle_registry_calls(id) - calls}),
              (std::tuple{nullptr, &handler_a, &handler_b, nullptr, &handler_b, nullptr, 5u}));
  }
  EXPECT_EQ(mox_bundle_registry_current(7), nullptr);

  // Messages: recorder, suppression and the open bundle.
  ScopedHandle h;
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{moxlib_msg_recorder_get_state(), moxlib_suppress_messages_enabled(h)}),
            (std::tuple{0u, 0u})) << "no recorder, no suppression by default";
  const uint8_t luid[16] = {0xc9, 0x3d, 0xa7, 0x61};
  const uint8_t refused[16] = {1};
  // No bundle open: 22; a message not added yet: 2; a refused one: 22.
  EXPECT_EQ(bundle_message_validate_add(h, MOX_NO_DB, luid, "message m", &err), 22u);
  mox_bundle_open(h);
  EXPECT_EQ(bundle_message_increment_count(h, luid, &(err = 0)), 2u);
  EXPECT_EQ(bundle_message_validate_add(h, MOX_NO_DB, luid, "message m", &(err = 0)), 0u);
  bundle_message_increment_count(h, luid, &err);
  bundle_message_increment_count(h, luid, &err);
  mox_bundle_refuse_message(h, refused);
  EXPECT_EQ((std::tuple{mox_bundle_message_count(h, luid), bundle_message_validate_add(h, MOX_NO_DB, refused, "message r", &err), err}),
            (std::tuple{2u, 22u, 22u}));
  mox_bundle_close(h);
  EXPECT_EQ((std::tuple{mox_bundle_is_open(h), mox_bundle_message_count(h, luid)}),
            (std::tuple{0u, 0u}));
}

}  // namespace
