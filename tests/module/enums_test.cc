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
  uint32_t err = 0;

  Obj *make(uint32_t value = 0) {
    Obj *obj = e.create(h, kDb);
    EXPECT_NE(obj, nullptr);
    obj->value = value;  // test setup, outside any operation
    return obj;
  }
};

// Create, destroy (also of a variant beyond the type's: a notice, counted in
// the newest), initialize, placement, and the _cr placeholder.
TEST_P(Enums, LifecyclePlacementAndThePlaceholder) {
  const mox_alloc_stats_t before = h.alloc_stats();
  mox_type_stats_t &stats = e.ti->variant_info->entries[e.latest].stats;
  const uint32_t created = stats.created, destroyed = stats.destroyed;
  Obj *obj = e.create(h, kDb);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ((std::tuple{obj->tinfo, int(obj->variant), int(obj->storage_variant), int(obj->flags),
                            obj->value, stats.created}),
            (std::tuple{static_cast<void *>(e.ti), e.latest, e.latest, 0, 0u, created + 1}));
  e.destroy(h, kDb, obj);
  obj = e.create(h, kDb);
  obj->variant = 5;  // test setup, outside any operation
  e.destroy(h, kDb, obj);
  EXPECT_EQ(stats.destroyed, destroyed + 2);
  const std::string notice = "variant 5 requested only " + std::to_string(e.latest + 1) + " variants present";
  ASSERT_EQ(TraceRecords().size(), 1u);
  EXPECT_EQ(std::make_pair(std::string(TraceRecords()[0].text), TraceRecords()[0].level),
            std::make_pair(notice, 0x6000000u));

  // initialize announces every header store and adds the caller's flags.
  Obj local{};
  JournalCheck check(h, {{&local, sizeof local}});
  EXPECT_EQ(e.initialize(h, kDb, &local, e.ti, 1, 0, MOX_FLAG_NESTED, nullptr, &err), MOX_FLAG_NESTED);
  EXPECT_EQ((std::tuple{err, int(local.flags)}), (std::tuple{0u, int(MOX_FLAG_NESTED)}));
  EXPECT_TRUE(check.Verify());

  // _cr mode: an earlier failure gives the placeholder without allocating and
  // keeps last_error; an allocation failure gives the same placeholder and 12;
  // without _cr mode a failure is a plain null and no error.
  h->cr_mode = 1;
  h->last_error = 22;
  Obj *first = e.create(h, kDb);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(h->last_error, 22u);
  h->last_error = 0;
  h.fail_alloc_after(0);
  EXPECT_EQ((std::tuple{e.create(h, kDb), h->last_error}), (std::tuple{first, 12u}));
  h->cr_mode = 0;
  h->last_error = 0;
  EXPECT_EQ((std::tuple{e.create(h, kDb), h->last_error}), (std::tuple{nullptr, 0u}));
  h.fail_alloc_after(-1);
  e.destroy(h, kDb, first);  // the placeholder is never freed
  e.destroy_internal(h, kDb, nullptr, 1);
  const mox_alloc_stats_t after = h.alloc_stats();
  EXPECT_EQ((std::tuple{after.live_bytes, after.allocs - before.allocs, after.frees - before.frees}),
            (std::tuple{before.live_bytes, 2u, 2u}));

  // A placed handle stores the registered copy of the type-info record.
  mox_handle_set_placement(h, 2);
  obj = e.create(h, kDb);
  ASSERT_NE(obj, nullptr);
  auto *registered = static_cast<mox_type_info_t *>(mox_registry_lookup(h->type_registry, kDb, e.ti->luid_text));
  ASSERT_NE(registered, nullptr);
  EXPECT_NE(registered, e.ti);
  EXPECT_EQ((std::tuple{obj->tinfo, registered->placement}), (std::tuple{registered, 2u}));
  e.destroy(h, kDb, obj);
}

// An operation entered with an error changes and calls nothing; set_value
// keeps to the members, compare orders by value.
TEST_P(Enums, ErrorSlotSetValueAndCompare) {
  Obj *obj = make(1), *low = make(0);
  Obj snapshot = *obj;
  uint8_t buf[16] = {};
  char text[64] = {};
  h->last_error = 77;
  uint64_t calls = mox_rt_call_count();
  err = 5;
  EXPECT_EQ((std::tuple{e.get_value(h, kDb, obj, &err), e.set_value(h, kDb, obj, 0, &err),
                        e.marshal(h, kDb, buf, obj, sizeof buf, &err), e.unmarshal(h, kDb, buf, obj, sizeof buf, 0, &err),
                        e.to_xml(h, kDb, "f", text, obj, sizeof text, &err),
                        e.initialize(h, kDb, obj, e.ti, 1, 0, MOX_FLAG_NESTED, nullptr, &err)}),
            (std::tuple{0u, 5u, 0u, 0u, 0u, 0u}));
  e.from_xml(h, kDb, "//f", nullptr, obj, &err, nullptr, 0);
  EXPECT_EQ((std::tuple{mox_rt_call_count(), err, h->last_error, buf[0], text[0]}),
            (std::tuple{calls, 5u, 77u, uint8_t{0}, '\0'}));
  EXPECT_EQ(std::memcmp(obj, &snapshot, sizeof snapshot), 0);
  err = 0;
  obj->value = 0;  // the store below changes it for every enumeration
  h->last_error = 99;
  {
    JournalCheck check(h, {{obj, sizeof *obj}});
    EXPECT_EQ(e.set_value(h, kDb, obj, e.members_all - 1, &err), 0u);
    EXPECT_TRUE(check.Verify());
  }
  EXPECT_EQ(h->last_error, 0u) << "last error is cleared on entry";
  for (uint32_t bad : {e.members_all, e.members_all + 1, 0xFFFFFFFFu}) {
    err = 0;
    EXPECT_EQ((std::tuple{e.set_value(h, kDb, obj, bad, &err), h->epoch_error, obj->value}),
              (std::tuple{43u, 43u, e.members_all - 1})) << bad;
  }
  err = 0;
  EXPECT_EQ((std::tuple{e.get_value(h, kDb, nullptr, &err), err}), (std::tuple{0u, 22u}));
  const std::tuple<Obj *, Obj *, int> order[] = {{low, obj, -1}, {obj, low, 1}, {low, low, 0},
                                                 {low, nullptr, 1}, {nullptr, low, -1}, {nullptr, nullptr, 0}};
  for (auto [a, b, want] : order) EXPECT_EQ((e.compare(a, b) > 0) - (e.compare(a, b) < 0), want);
  e.destroy(h, kDb, obj);
  e.destroy(h, kDb, low);
}

// Wire form: variant byte and 32-bit value; short buffers and inputs refused
// with 90.  XML: an absent member element is 2, a value out of range renders
// as its own element.  (Round trips: the all-types wire and XML tests.)
TEST_P(Enums, WireAndXmlRefusals) {
  Obj *obj = make(e.members_all - 1), *back = make();
  uint8_t buf[16];
  EXPECT_EQ((std::tuple{e.marshal(h, kDb, buf, obj, sizeof buf, &err), err, int(static_cast<int8_t>(buf[0]))}),
            (std::tuple{5u, 0u, e.latest}));
  // (decode?, length): no room at all gives 0 and 90; a value cut short is 90.
  const std::pair<uint32_t, int32_t> shorts[] = {{0, 0}, {1, 0}, {1, 3}};
  for (auto [decode, len] : shorts) {
    err = 0;
    const uint32_t got = decode ? e.unmarshal(h, kDb, buf, back, len, 0, &err) : e.marshal(h, kDb, buf, obj, len, &err);
    EXPECT_EQ((std::tuple{len ? 0u : got, err}), (std::tuple{0u, 90u})) << decode << " " << len;
  }
  char xml[256] = {}, msg[128] = {};
  err = 0;
  const uint32_t len = e.to_xml(h, kDb, "field", xml, obj, sizeof xml, &err);
  mox_xml_doc_t *doc = nullptr;
  ASSERT_EQ(mox_xml_doc_parse(xml, len, &doc, msg, sizeof msg), 0u) << msg;
  e.from_xml(h, kDb, "//nothing", doc, back, &err, msg, sizeof msg);
  EXPECT_EQ((std::tuple{err, back->value}), (std::tuple{2u, 0u}));
  mox_xml_doc_free(doc);
  obj->value = e.members_all + 7;
  err = 0;
  e.to_xml(h, kDb, "field", xml, obj, sizeof xml, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_NE(std::strstr(xml, (std::string("<") + e.name + " value out of range/>").c_str()), nullptr) << xml;
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

// qos_pm_state's newest member needs variant 1; encoding a newer instance
// downgrades only with the epoch report deferred; qos_pm_type (one variant)
// decodes any variant into its own.
TEST(QosPmState, TheNewestMemberNeedsVariantOneAndEncodingDowngrades) {
  ScopedHandle h;
  uint32_t err = 0;
  const char *luid = _qos_pm_state_type_info_internal.luid_text;
  qos_pm_state_t *obj = qos_pm_state_create(h, kDb);
  qos_pm_type_t *type = qos_pm_type_create(h, kDb);
  uint8_t buf[8];
  uint32_t n = qos_pm_state_marshal(h, kDb, buf, obj, sizeof buf, &err);
  ASSERT_EQ(buf[0], 1);
  EXPECT_EQ(qos_pm_type_unmarshal(h, kDb, buf, type, static_cast<int32_t>(n), 0, &err), n);
  EXPECT_EQ(type->variant, 0) << "clamped to the storage variant";
  qos_pm_type_marshal(h, kDb, buf, type, sizeof buf, &err);
  EXPECT_EQ(buf[0], 0);
  qos_pm_type_destroy(h, kDb, type);

  EXPECT_EQ(qos_pm_state_set_value(h, kDb, obj, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 0u);
  // An instance of variant 0 in a domain that keeps it there cannot hold 11.
  mox_domain_set_variant(h, luid, 0);
  qos_pm_state_t *old = qos_pm_state_create(h, kDb);
  EXPECT_EQ(old->variant, 0);
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 43u);
  err = 0;
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_INSTALL_SUCCESS, &err), 0u);
  qos_pm_state_set_value(h, kDb, obj, QOS_PM_STATE_POLICY_INVALID, &err);
  h->epoch_defer = 1;
  EXPECT_EQ((std::tuple{qos_pm_state_marshal(h, kDb, buf, obj, sizeof buf, &err), err, h->epoch_error, buf[0]}),
            (std::tuple{5u, 0u, 43u, uint8_t{0}}));
  h->epoch_defer = 0;
  EXPECT_EQ((std::tuple{qos_pm_state_marshal(h, kDb, buf, obj, sizeof buf, &err), err}), (std::tuple{0u, 43u}));
  err = 0;
  // Once the domain allows variant 1 the setter raises the instance first.
  mox_domain_set_variant(h, luid, 1);
  EXPECT_EQ(qos_pm_state_set_value(h, kDb, old, QOS_PM_STATE_IFID_LIMIT_REACHED, &err), 0u);
  EXPECT_EQ(old->variant, 1);
  qos_pm_state_destroy(h, kDb, old);
  qos_pm_state_destroy(h, kDb, obj);
}

TEST(QosPmType, FirstMemberPresentInTheDocumentWins) {
  ScopedHandle h;
  const char *xml = "<rec><qos_pm_type><QOS_PM_TYPE_AAA/><QOS_PM_TYPE_LOCAL/></qos_pm_type></rec>";
  mox_xml_doc_t *doc = nullptr;
  char msg[128] = {};
  ASSERT_EQ(mox_xml_doc_parse(xml, std::strlen(xml), &doc, msg, sizeof msg), 0u) << msg;
  qos_pm_type_t *obj = qos_pm_type_create(h, kDb);
  uint32_t err = 0;
  qos_pm_type_from_xml(h, kDb, "//rec/qos_pm_type", doc, obj, &err, msg, sizeof msg);
  EXPECT_EQ((std::tuple{err, obj->value}), (std::tuple{0u, uint32_t{QOS_PM_TYPE_LOCAL}}))
      << "members are tried in value order";
  // A lookup failure other than absence is kept and described.
  qos_pm_type_from_xml(h, kDb, "//rec[", doc, obj, &err, msg, sizeof msg);
  EXPECT_EQ((std::tuple{err != 0 && err != 2, h->last_error, std::string(msg)}), (std::tuple{true, err, "Failed xpath: //rec["}));
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
