// Trace registration, the emitters and their capture, the bundle registries
// and the message services.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "handle.h"
#include "mox/runtime.h"
#include "trace_capture.h"

namespace {

using orva_test::ScopedHandle;

const char *const kFormats[] = {
    " plain message",
    " type %s failed",
    " count %u",
    " %s in %s",
    " %s: error %d",
    " %u items of %s",
    " %u of %u",
    " %s/%s/%s",
    " %u.%u.%u",
    " bad %s conversion",
};
const quill_section_desc_t kSection = {1, 2, {0}, 10, kFormats};

TEST(CoreTrace, ModuleIdsAreAssignedOncePerName) {
  uint16_t id_a = 0, id_a2 = 0, id_b = 0;
  uint32_t reg_a = 0, reg_b = 0;
  const uint32_t a = quill_module_init_fn("core_trace_test_a", &id_a, &reg_a);
  EXPECT_NE(a, 0u);
  EXPECT_EQ(id_a, a);
  EXPECT_NE(reg_a, 0u);
  EXPECT_EQ(quill_module_init_fn("core_trace_test_a", &id_a2, nullptr), a);
  EXPECT_EQ(id_a2, id_a);
  quill_module_init_fn("core_trace_test_b", &id_b, &reg_b);
  EXPECT_EQ(id_b, id_a + 1) << "ids are handed out in order";
  EXPECT_STREQ(mox_trace_module_name(id_b), "core_trace_test_b");
  EXPECT_EQ(mox_trace_module_name(0), nullptr);
  EXPECT_EQ(mox_trace_module_name(60000), nullptr);
}

TEST(CoreTrace, EveryEmitterRendersAndCapturesItsMessage) {
  ScopedHandle h;  // clears the capture
  uint16_t id = 0;
  uint32_t reg = 0;
  quill_module_init_fn("core_trace_test_emit", &id, &reg);
  __QLf_0(&kSection, 0, id, MOX_LEVEL_FATAL);
  __QLf_1(&kSection, 1, id, MOX_LEVEL_ERROR, "qos_ap_data_t");
  __QLf_4(&kSection, 2, id, MOX_LEVEL_NOTICE, 42);
  __QLf_11(&kSection, 3, id, MOX_LEVEL_DETAIL, "x", "y");
  __QLf_14(&kSection, 4, id, MOX_LEVEL_ERROR, "open", 12);
  __QLf_41(&kSection, 5, id, MOX_LEVEL_GROUPING, 3, "tables");
  __QLf_44(&kSection, 6, id, MOX_LEVEL_ERROR, 1, 2);
  __QLf_111(&kSection, 7, id, MOX_LEVEL_ERROR, "a", nullptr, "c");
  __QLf_444(&kSection, 8, id, MOX_LEVEL_ERROR, 10, 0, 4294967295u);
  const struct {
    const char *text;
    uint32_t level;
  } expected[] = {{"plain message", MOX_LEVEL_FATAL},    {"type qos_ap_data_t failed", MOX_LEVEL_ERROR},
                  {"count 42", MOX_LEVEL_NOTICE},        {"x in y", MOX_LEVEL_DETAIL},
                  {"open: error 12", MOX_LEVEL_ERROR},   {"3 items of tables", MOX_LEVEL_GROUPING},
                  {"1 of 2", MOX_LEVEL_ERROR},           {"a/(null)/c", MOX_LEVEL_ERROR},
                  {"10.0.4294967295", MOX_LEVEL_ERROR}};
  auto records = orva_test::TraceRecords();
  ASSERT_EQ(records.size(), 9u);
  for (uint32_t i = 0; i < 9; ++i) {
    EXPECT_STREQ(records[i].text, expected[i].text) << "index " << i;
    EXPECT_EQ(records[i].level, expected[i].level) << "index " << i;
    EXPECT_EQ(records[i].index, i);
    EXPECT_EQ(records[i].section, &kSection);
    EXPECT_EQ(records[i].module_id, id);
  }
  mox_trace_clear();
  EXPECT_EQ(mox_trace_count(), 0u);
}

TEST(CoreTrace, BadIndexesAndMismatchedFormatsRenderPlaceholders) {
  ScopedHandle h;
  __QLf_0(&kSection, 10, 1, MOX_LEVEL_ERROR);        // past the section
  __QLf_0(nullptr, 0, 1, MOX_LEVEL_ERROR);           // no section at all
  __QLf_4(&kSection, 9, 1, MOX_LEVEL_ERROR, 5);      // %s given an integer
  __QLf_1(&kSection, 2, 1, MOX_LEVEL_ERROR, "str");  // %u given a string
  __QLf_0(&kSection, 1, 1, MOX_LEVEL_ERROR);         // a conversion without argument
  __QLf_44(&kSection, 2, 1, MOX_LEVEL_ERROR, 1, 2);  // an argument too many
  auto texts = orva_test::TraceTexts();
  ASSERT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[0], "<no format: section 2 index 10>");
  EXPECT_EQ(texts[1], "<no format: section 0 index 0>");
  EXPECT_EQ(texts[2], "<format does not match arguments (u): bad %s conversion>");
  EXPECT_EQ(texts[3], "<format does not match arguments (s): count %u>");
  EXPECT_EQ(texts[4], "<format does not match arguments (none): type %s failed>");
  EXPECT_EQ(texts[5], "<format does not match arguments (uu): count %u>");
}

TEST(CoreTrace, LongTextIsCutAndUtilityMessagesGoThroughTheCapture) {
  ScopedHandle h;
  std::string big(2000, 'z');
  __QLf_1(&kSection, 1, 1, MOX_LEVEL_ERROR, big.c_str());
  mox_trace_record_t rec;
  ASSERT_TRUE(mox_trace_get(0, &rec));
  EXPECT_EQ(std::strlen(rec.text), sizeof rec.text - 1);
  EXPECT_FALSE(mox_trace_get(1, &rec));

  plume_perror(13);
  EXPECT_TRUE(orva_test::Traced("write range refused"));
  ASSERT_TRUE(mox_trace_get(1, &rec));
  EXPECT_STREQ(mox_trace_module_name(rec.module_id), "mox_runtime");
  EXPECT_EQ(rec.level, MOX_LEVEL_ERROR);

  const uint32_t before = mox_trace_trans_init_calls();
  trans_avl_trace_init();
  trans_gbt_trace_init();
  trans_ravl_trace_init();
  EXPECT_EQ(mox_trace_trans_init_calls() - before, 3u);
}

uint32_t handler_a(void *, void *) { return 1; }
uint32_t handler_b(void *, void *) { return 2; }

TEST(CoreBundles, EachRegistryReturnsThePreviousHandler) {
  using reg_fn = mox_bundle_handler_fn (*)(mox_bundle_handler_fn);
  using unreg_fn = mox_bundle_handler_fn (*)(void);
  const struct {
    uint32_t id;
    reg_fn reg;
    unreg_fn unreg;
  } registries[] = {
      {MOX_BUNDLE_HUB_COMM, hub_comm_bundle_handler_register, hub_comm_bundle_handler_unregister},
      {MOX_BUNDLE_IF_COMMON, if_common_bundle_handler_register,
       if_common_bundle_handler_unregister},
      {MOX_BUNDLE_ORVA_ENUM_TYPES, orva_enum_types_bundle_handler_register,
       orva_enum_types_bundle_handler_unregister},
  };
  for (const auto &r : registries) {
    const uint32_t calls = mox_bundle_registry_calls(r.id);
    r.unreg();
    EXPECT_EQ(r.reg(handler_a), nullptr);
    EXPECT_EQ(r.reg(handler_b), handler_a);
    EXPECT_EQ(mox_bundle_registry_current(r.id), handler_b);
    EXPECT_EQ(r.unreg(), handler_b);
    EXPECT_EQ(mox_bundle_registry_current(r.id), nullptr);
    EXPECT_EQ(r.unreg(), nullptr);
    EXPECT_EQ(mox_bundle_registry_calls(r.id) - calls, 5u);
  }
  // The three registries do not share their handler.
  hub_comm_bundle_handler_register(handler_a);
  EXPECT_EQ(mox_bundle_registry_current(MOX_BUNDLE_IF_COMMON), nullptr);
  hub_comm_bundle_handler_unregister();
  EXPECT_EQ(mox_bundle_registry_current(7), nullptr);
}

TEST(CoreMessages, RecorderSuppressionAndOpenBundle) {
  ScopedHandle h;
  uint32_t err = 0;
  EXPECT_EQ(moxlib_msg_recorder_get_state(), 0u);
  mox_msg_recorder_set(stderr, 1);
  EXPECT_EQ(moxlib_msg_recorder_get_state(), 1u);
  EXPECT_EQ(moxlib_msg_recorder_get_handle(), stderr);
  mox_msg_recorder_set(nullptr, 0);

  EXPECT_EQ(moxlib_suppress_messages_enabled(h), 0u);
  mox_handle_set_suppress_messages(h, 1);
  EXPECT_EQ(moxlib_suppress_messages_enabled(h), 1u);

  const uint8_t luid[16] = {0xc9, 0x3d, 0xa7, 0x61};
  const uint8_t refused[16] = {1};
  EXPECT_EQ(bundle_message_validate_add(h, MOX_NO_DB, luid, "message m", &err), 22u)
      << "no bundle is open";
  err = 0;
  mox_bundle_open(h);
  EXPECT_EQ(mox_bundle_is_open(h), 1u);
  EXPECT_EQ(bundle_message_increment_count(h, luid, &err), 2u) << "not added yet";
  err = 0;
  EXPECT_EQ(bundle_message_validate_add(h, MOX_NO_DB, luid, "message m", &err), 0u);
  EXPECT_EQ(bundle_message_increment_count(h, luid, &err), 0u);
  EXPECT_EQ(bundle_message_increment_count(h, luid, &err), 0u);
  EXPECT_EQ(mox_bundle_message_count(h, luid), 2u);
  mox_bundle_refuse_message(h, refused);
  EXPECT_EQ(bundle_message_validate_add(h, MOX_NO_DB, refused, "message r", &err), 22u);
  EXPECT_EQ(err, 22u);
  mox_bundle_close(h);
  EXPECT_EQ(mox_bundle_is_open(h), 0u);
  EXPECT_EQ(mox_bundle_message_count(h, luid), 0u);
}

}  // namespace
