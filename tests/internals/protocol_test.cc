// The type-info checks and the enumeration printer, tested on the module's
// objects directly (none is exported).  The error-slot,
// variant and tracking-mode rules are tested through the exported operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue_descriptors.h"
#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "handle.h"
#include "serial/enums.h"
#include "trace_capture.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

// A variant beyond the type's is clamped, with a notice under the module's
// trace id (its text and level: the lifecycle tests).
TEST(Protocol, TypeInfoAndVariantInfoChecks) {
  const orva::EntityDesc &who = orva::k_qos_ap_radio_key_t;
  mox_enum_obj_t obj{};
  obj.tinfo = who.ti;
  EXPECT_EQ(orva::checked_type_info(who, &obj), who.ti);
  mox_trace_clear();
  EXPECT_EQ(orva::stats_area(who, who.ti, 5), &who.ti->variant_info->entries[0].stats);
  EXPECT_EQ((std::tuple{TraceRecords().size(), TraceRecords().at(0).module_id}),
            (std::tuple{size_t{1}, g_mox_orva_qos_data_trace_module_id}));
  // An integrity failure says why on stderr before it aborts, whatever the
  // trace settings.
  mox_type_info_t corrupt = *who.ti;
  corrupt.magic = 0;
  obj.tinfo = &corrupt;
  mox_type_info_t no_varinfo = *who.ti;
  no_varinfo.variant_info = nullptr;
  mox_trace_set_stderr(0);
  EXPECT_DEATH(orva::checked_type_info(who, &obj), "tinfo is null or corrupted");
  EXPECT_DEATH(orva::stats_area(who, &no_varinfo, 0), "varinfo is NULL");
}

// With state tracking on, a record's nested records have their state offsets
// kept by the runtime; destroying the record must take them away again, also
// when the allocator never hands an address out twice.
std::vector<void *> g_quarantine;

TEST(Protocol, CreateDestroyCyclesKeepTheHandleFootprintConstant) {
  // With containment on the event log fills up to its limit first.
  for (uint32_t containment : {0u, 1u}) {
    ScopedHandle h(MOX_STTR_ON);
    h->containment_enabled = containment;
    h->record_alloc = [](void *, uint32_t, uint32_t n) { return std::calloc(1, n); };
    h->record_free = [](void *, uint32_t, void *p) { g_quarantine.push_back(p); };
    const orva::TypeDesc &t = orva::k_qos_client_data_t;
    auto cycles = [&](int n) {
      for (int i = 0; i < n; ++i) orva::record_destroy(t, h, MOX_NO_DB, orva::record_create(t, h, MOX_NO_DB));
    };
    cycles(MOX_EVENT_LOG_LIMIT);
    const uint64_t footprint = mox_handle_footprint(h);
    cycles(10000);
    EXPECT_EQ(mox_handle_footprint(h), footprint) << "containment " << containment;
    for (void *p : g_quarantine) std::free(p);
    g_quarantine.clear();
  }
}

TEST(EnumPrint, LabelEnumerationAndMemberOrTheOutOfRangeText) {
  ScopedHandle h;
  mox_enum_obj_t obj{};
  char buf[128] = {};
  uint32_t err = 0;
  uint32_t n = orva::enum_print(orva::k_qos_cac_state_type, h, MOX_NO_DB, buf, 4, "cac_state",
                                &obj, sizeof buf, &err);
  EXPECT_EQ((std::tuple{err, std::string(buf), n}),
            (std::tuple{0u, "    cac_state@qos_cac_state_type:BSSID_CAC_STATE_INVALID\n", uint32_t(std::strlen(buf))}));

  std::memset(buf, 0, sizeof buf);
  obj.value = 9;
  n = orva::enum_print(orva::k_qos_pm_type, h, MOX_NO_DB, buf, 0, "qos_pm_type", &obj, sizeof buf,
                       &err);
  EXPECT_STREQ(buf, "qos_pm_type@qos_pm_type:Enum value out of range");

  // Out of room: 90 and nothing past the buffer.
  char small[24];
  std::memset(small, 0, sizeof small);
  small[sizeof small - 1] = 0x5A;
  orva::enum_print(orva::k_qos_pm_type, h, MOX_NO_DB, small, 0, "qos_pm_type", &obj,
                   sizeof small - 1, &err);
  EXPECT_EQ((std::tuple{err, small[sizeof small - 1]}), (std::tuple{90u, char{0x5A}}));
}

}  // namespace
}  // namespace orva_test
