// The four enumerations end to end through their exported operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "trace_capture.h"
#include "orva_qos_data/orva_qos_data.h"

namespace orva_test {
namespace {

constexpr uint32_t kDb = MOX_NO_DB;

// The four enumerations' exported operations, gathered so that one test body
// runs over all of them.  The generated operations take their own object
// types; the test calls them all through qos_pm_type's, whose layout they share.
#define ENUM_OPS(X, e)                                                                       \
  X(e, create) X(e, initialize) X(e, destroy) X(e, destroy_internal) X(e, get_value)          \
  X(e, set_value) X(e, compare) X(e, marshal) X(e, unmarshal) X(e, to_xml) X(e, from_xml)
#define OP_FIELD(e, op) decltype(&e##_##op) op;
#define OP_CAST(e, op) , reinterpret_cast<decltype(EnumApi::op)>(e##_##op)
#define ENUM_API(e, latest, v0, all) \
  EnumApi { #e, &_##e##_type_info_internal, latest, v0, all ENUM_OPS(OP_CAST, e) }

using Obj = qos_pm_type_t;
struct EnumApi {
  const char *name;
  mox_type_info_t *ti;
  int latest;
  uint32_t members_v0, members_all;  // members of variant 0, of every variant
  ENUM_OPS(OP_FIELD, qos_pm_type)
};

void PrintTo(const EnumApi &e, std::ostream *os) { *os << e.name; }

const std::vector<EnumApi> kEnums = {
    ENUM_API(qos_pm_state, 1, 11, 12), ENUM_API(qos_pm_type, 0, 6, 6),
    ENUM_API(bssid_qos_pm_type, 0, 2, 2), ENUM_API(qos_cac_state_type, 0, 2, 2)};

class Enums : public ::testing::TestWithParam<EnumApi> {
 protected:
  ScopedHandle h;
  const EnumApi &e = GetParam();

  Obj *make(uint32_t value = 0) {
    Obj *obj = e.create(h, kDb);
    EXPECT_NE(obj, nullptr);
    obj->value = value;  // test setup, outside any operation
    return obj;
  }
};

TEST_P(Enums, CreateInitializeDestroyAndPlacement) {
  const mox_alloc_stats_t before = h.alloc_stats();
  mox_type_stats_t &stats = e.ti->variant_info->entries[e.latest].stats;
  uint32_t created = stats.created, destroyed = stats.destroyed;
  Obj *obj = e.create(h, kDb);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(std::make_tuple(obj->tinfo, int(obj->variant), int(obj->storage_variant),
                            int(obj->flags), obj->value),
            std::make_tuple(static_cast<void *>(e.ti), e.latest, e.latest, 0, 0u));
  EXPECT_EQ(stats.created, created + 1);
  e.destroy(h, kDb, obj);
  EXPECT_EQ(stats.destroyed, destroyed + 1);
  // An instance of a variant beyond the type's: a notice, and counted in the newest.
  obj = e.create(h, kDb);
  obj->variant = 5;  // test setup, outside any operation
  e.destroy(h, kDb, obj);
  EXPECT_EQ(stats.destroyed, destroyed + 2);
  const std::string notice = "variant 5 requested only " + std::to_string(e.latest + 1) +
                             " variants present";
  ASSERT_EQ(TraceRecords().size(), 1u);
  EXPECT_EQ(std::make_pair(std::string(TraceRecords()[0].text), TraceRecords()[0].level),
            std::make_pair(notice, 0x6000000u));
  const mox_alloc_stats_t after = h.alloc_stats();
  EXPECT_EQ(after.live_bytes, before.live_bytes);
  EXPECT_EQ(after.allocs - before.allocs, after.frees - before.frees);

  // initialize announces every header store and adds the caller's flags.
  Obj local{};
  JournalCheck check(h, {{&local, sizeof local}});
  uint32_t err = 0;
  EXPECT_EQ(e.initialize(h, kDb, &local, e.ti, 1, 0, MOX_FLAG_NESTED, nullptr, &err),
            MOX_FLAG_NESTED);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(local.flags, MOX_FLAG_NESTED);
  EXPECT_TRUE(check.Verify());

  // A placed handle stores the registered copy of the type-info record.
  mox_handle_set_placement(h, 2);
  obj = e.create(h, kDb);
  ASSERT_NE(obj, nullptr);
  auto *registered = static_cast<mox_type_info_t *>(
      mox_registry_lookup(h->type_registry, kDb, e.ti->luid_text));
  ASSERT_NE(registered, nullptr);
  EXPECT_NE(registered, e.ti);
  EXPECT_EQ(obj->tinfo, registered);
  EXPECT_EQ(registered->placement, 2u);
  e.destroy(h, kDb, obj);
}

TEST_P(Enums, CrModeFallsBackToThePlaceholder) {
  const mox_alloc_stats_t before = h.alloc_stats();

  // An earlier failure: no allocation, the placeholder, last_error untouched.
  h->cr_mode = 1;
  h->last_error = 22;
  Obj *first = e.create(h, kDb);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(h->last_error, 22u);

  // Allocation failure in _cr mode: the same placeholder and 12.
  h->last_error = 0;
  mox_handle_fail_alloc_after(h, 0);
  Obj *second = e.create(h, kDb);
  EXPECT_EQ(second, first);
  EXPECT_EQ(h->last_error, 12u);

  // Without _cr mode the failure is a plain null and no error.
  h->cr_mode = 0;
  h->last_error = 0;
  EXPECT_EQ(e.create(h, kDb), nullptr);
  EXPECT_EQ(h->last_error, 0u);
  mox_handle_fail_alloc_after(h, -1);

  // The placeholder is never freed.
  e.destroy(h, kDb, first);
  e.destroy_internal(h, kDb, nullptr, 1);
  const mox_alloc_stats_t after = h.alloc_stats();
  EXPECT_EQ(after.allocs, before.allocs);
  EXPECT_EQ(after.frees, before.frees);
}

TEST_P(Enums, AnOperationEnteredWithAnErrorChangesAndCallsNothing) {
  Obj *obj = make(1);
  Obj snapshot = *obj;
  uint8_t buf[16] = {};
  char text[64] = {};
  h->last_error = 77;
  uint64_t calls = mox_rt_call_count();
  uint32_t err = 5;
  EXPECT_EQ(e.get_value(h, kDb, obj, &err), 0u);
  EXPECT_EQ(e.set_value(h, kDb, obj, 0, &err), 5u);
  EXPECT_EQ(e.marshal(h, kDb, buf, obj, sizeof buf, &err), 0u);
  EXPECT_EQ(e.unmarshal(h, kDb, buf, obj, sizeof buf, 0, &err), 0u);
  EXPECT_EQ(e.to_xml(h, kDb, "f", text, obj, sizeof text, &err), 0u);
  e.from_xml(h, kDb, "//f", nullptr, obj, &err, nullptr, 0);
  EXPECT_EQ(e.initialize(h, kDb, obj, e.ti, 1, 0, MOX_FLAG_NESTED, nullptr, &err), 0u);
  EXPECT_EQ(mox_rt_call_count(), calls);
  EXPECT_EQ(err, 5u);
  EXPECT_EQ(h->last_error, 77u);
  EXPECT_EQ(std::memcmp(obj, &snapshot, sizeof snapshot), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(text[0], 0);
  e.destroy(h, kDb, obj);
}

TEST_P(Enums, SetValueKeepsToTheMembersAndCompareOrdersByValue) {
  Obj *obj = make(), *low = make(0);
  uint32_t err = 0;
  h->last_error = 99;
  {
    JournalCheck check(h, {{obj, sizeof *obj}});
    EXPECT_EQ(e.set_value(h, kDb, obj, e.members_all - 1, &err), 0u);
    EXPECT_TRUE(check.Verify());
  }
  EXPECT_EQ(h->last_error, 0u) << "last error is cleared on entry";
  EXPECT_EQ(obj->value, e.members_all - 1);
  for (uint32_t bad : {e.members_all, e.members_all + 1, 0xFFFFFFFFu}) {
    err = 0;
    EXPECT_EQ(e.set_value(h, kDb, obj, bad, &err), 43u) << bad;
    EXPECT_EQ(h->epoch_error, 43u);
    EXPECT_EQ(obj->value, e.members_all - 1) << "unchanged after a refused value";
  }
  err = 0;
  EXPECT_EQ(e.get_value(h, kDb, nullptr, &err), 0u);
  EXPECT_EQ(err, 22u);

  EXPECT_LT(e.compare(low, obj), 0);
  EXPECT_GT(e.compare(obj, low), 0);
  EXPECT_EQ(e.compare(low, low), 0);
  EXPECT_EQ(e.compare(low, nullptr), 1);
  EXPECT_EQ(e.compare(nullptr, low), -1);
  EXPECT_EQ(e.compare(nullptr, nullptr), 0);
  e.destroy(h, kDb, obj);
  e.destroy(h, kDb, low);
}

TEST_P(Enums, WireFormRoundTripsAndRefusesShortBuffers) {
  Obj *obj = make(e.members_all - 1);
  uint8_t buf[16];
  uint32_t err = 0;
  uint32_t n = e.marshal(h, kDb, buf, obj, sizeof buf, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(n, 5u) << "variant byte and 32-bit value";
  EXPECT_EQ(static_cast<int8_t>(buf[0]), e.latest);

  Obj *back = make();
  JournalCheck check(h, {{back, sizeof *back}});
  EXPECT_EQ(e.unmarshal(h, kDb, buf, back, static_cast<int32_t>(n), 0, &err), n);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(e.compare(obj, back), 0);
  EXPECT_EQ(back->variant, e.latest);
  EXPECT_TRUE(check.Verify());

  err = 0;
  EXPECT_EQ(e.marshal(h, kDb, buf, obj, 0, &err), 0u);
  EXPECT_EQ(err, 90u);
  err = 0;
  EXPECT_EQ(e.unmarshal(h, kDb, buf, back, 0, 0, &err), 0u);
  EXPECT_EQ(err, 90u);
  err = 0;
  e.unmarshal(h, kDb, buf, back, 3, 0, &err);
  EXPECT_EQ(err, 90u) << "value cut short";
  e.destroy(h, kDb, obj);
  e.destroy(h, kDb, back);
}

TEST_P(Enums, XmlRoundTripAndTheOutOfRangeText) {
  Obj *obj = make(e.members_v0 - 1);
  char xml[256] = {};
  uint32_t err = 0;
  uint32_t n = e.to_xml(h, kDb, "field", xml, obj, sizeof xml, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(n, std::strlen(xml));

  mox_xml_doc_t *doc = nullptr;
  char msg[128] = {};
  ASSERT_EQ(mox_xml_doc_parse(xml, n, &doc, msg, sizeof msg), 0u) << msg;
  Obj *back = make();
  e.from_xml(h, kDb, "//field", doc, back, &err, msg, sizeof msg);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(back->value, obj->value);
  // No member element at all: 2, value unchanged.
  back->value = 0;
  e.from_xml(h, kDb, "//nothing", doc, back, &err, msg, sizeof msg);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(back->value, 0u);
  mox_xml_doc_free(doc);

  obj->value = e.members_all + 7;
  err = 0;
  e.to_xml(h, kDb, "field", xml, obj, sizeof xml, &err);
  EXPECT_EQ(err, 0u);
  std::string expected = std::string("<") + e.name + " value out of range/>";
  EXPECT_NE(std::strstr(xml, expected.c_str()), nullptr) << xml;
  char tiny[4] = {};
  e.to_xml(h, kDb, "field", tiny, obj, sizeof tiny, &err);
  EXPECT_EQ(err, 90u);
  e.destroy(h, kDb, obj);
  e.destroy(h, kDb, back);
}

INSTANTIATE_TEST_SUITE_P(AllFour, Enums, ::testing::ValuesIn(kEnums),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Behaviour particular to one enumeration.
// ---------------------------------------------------------------------------

TEST(QosPmState, TheNewestMemberNeedsVariantOneAndEncodingDowngrades) {
  ScopedHandle h;
  uint32_t err = 0;
  const char *luid = _qos_pm_state_type_info_internal.luid_text;
  qos_pm_state_t *obj = qos_pm_state_create(h, kDb);
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, obj, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 0u);
  // An instance of variant 0 in a domain that keeps it there cannot hold 11.
  mox_domain_set_variant(h, luid, 0);
  qos_pm_state_t *old = qos_pm_state_create(h, kDb);
  EXPECT_EQ(old->variant, 0);
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 43u);
  err = 0;
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_INSTALL_SUCCESS, &err), 0u);

  // Encoding the newer instance: with the epoch report deferred the slot
  // stays clear and the encoding is of variant 0; otherwise nothing is encoded.
  qos_pm_state_set_value(h, kDb, obj, QOS_PM_STATE_POLICY_INVALID, &err);
  h->epoch_defer = 1;
  uint8_t buf[8];
  EXPECT_EQ(qos_pm_state_marshal(h, kDb, buf, obj, sizeof buf, &err), 5u);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(h->epoch_error, 43u);
  EXPECT_EQ(buf[0], 0);
  h->epoch_defer = 0;
  EXPECT_EQ(qos_pm_state_marshal(h, kDb, buf, obj, sizeof buf, &err), 0u);
  EXPECT_EQ(err, 43u);
  err = 0;

  // Once the domain allows variant 1 the setter raises the instance first.
  mox_domain_set_variant(h, luid, 1);
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 0u);
  EXPECT_EQ(old->variant, 1);
  qos_pm_state_destroy(h, kDb, old);
  qos_pm_state_destroy(h, kDb, obj);
}

TEST(QosPmType, DecodesAnyVariantIntoItsOnlyVariant) {
  ScopedHandle h;
  uint32_t err = 0;
  qos_pm_state_t *state = qos_pm_state_create(h, kDb);
  qos_pm_type_t *type = qos_pm_type_create(h, kDb);
  uint8_t buf[8];
  uint32_t n = qos_pm_state_marshal(h, kDb, buf, state, sizeof buf, &err);
  ASSERT_EQ(buf[0], 1);
  EXPECT_EQ(qos_pm_type_unmarshal(h, kDb, buf, type, static_cast<int32_t>(n), 0, &err), n);
  EXPECT_EQ(type->variant, 0) << "clamped to the storage variant";
  n = qos_pm_type_marshal(h, kDb, buf, type, sizeof buf, &err);
  EXPECT_EQ(buf[0], 0);
  qos_pm_state_destroy(h, kDb, state);
  qos_pm_type_destroy(h, kDb, type);
}

TEST(QosPmType, FirstMemberPresentInTheDocumentWins) {
  ScopedHandle h;
  const char *xml =
      "<rec><qos_pm_type><QOS_PM_TYPE_AAA/><QOS_PM_TYPE_LOCAL/></qos_pm_type></rec>";
  mox_xml_doc_t *doc = nullptr;
  char msg[128] = {};
  ASSERT_EQ(mox_xml_doc_parse(xml, std::strlen(xml), &doc, msg, sizeof msg), 0u) << msg;
  qos_pm_type_t *obj = qos_pm_type_create(h, kDb);
  uint32_t err = 0;
  qos_pm_type_from_xml(h, kDb, "//rec/qos_pm_type", doc, obj, &err, msg, sizeof msg);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(obj->value, QOS_PM_TYPE_LOCAL) << "members are tried in value order";

  // A lookup failure other than absence is kept and described.
  qos_pm_type_from_xml(h, kDb, "//rec[", doc, obj, &err, msg, sizeof msg);
  EXPECT_NE(err, 0u);
  EXPECT_NE(err, 2u);
  EXPECT_EQ(h->last_error, err);
  EXPECT_STREQ(msg, "Failed xpath: //rec[");
  qos_pm_type_destroy(h, kDb, obj);
  mox_xml_doc_free(doc);
}

TEST(EnumDeath, DestroyOfACorruptObjectAborts) {
  ScopedHandle h;
  qos_cac_state_type_t *obj = qos_cac_state_type_create(h, kDb);
  ASSERT_NE(obj, nullptr);
  static mox_type_info_t bogus{};
  obj->tinfo = &bogus;
  EXPECT_DEATH(
      {
        mox_trace_set_stderr(1);
        qos_cac_state_type_destroy(h, kDb, obj);
      },
      "tinfo is null or corrupted");
  obj->tinfo = &_qos_cac_state_type_type_info_internal;
  qos_cac_state_type_destroy(h, kDb, obj);
}

}  // namespace
}  // namespace orva_test
