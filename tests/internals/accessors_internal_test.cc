// The dynamic array's element setter in its cloning form (the XML decoder's
// path, not exported): the source is copied in through its wire form.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "catalogue_descriptors.h"
#include "frame/catalogue.h"
#include "handle.h"
#include "journal_check.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "types/accessors.h"
#include "types/lifecycle.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;

// The clone's source is the array's own element 1, inside the block that the
// growth to three elements replaces.  Without a failure the element is an
// independent copy, every store announced; a clone that runs out of memory at
// any step leaves an array that destroys cleanly: every element created is
// destroyed exactly once, and no storage inside the block is released alone.
TEST(AccessorsInternal, CloningElementSetterCopiesThroughTheWireFormOrLeavesAWholeArray) {
  const orva::TypeDesc &client = orva::k_qos_client_data_t, &call = orva::k_apf_call_record_t;
  uint16_t f = 0;
  while (std::string(client.fields[f].name) != "call_record") ++f;
  const mox_type_stats_t &stats = call.ti->variant_info->entries[0].stats;
  for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
    for (int64_t n = -1; n < 14; ++n) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", allocations before failure " + std::to_string(n));
      orva_test::ScopedHandle h(mode);
      uint32_t err = 0;
      auto *c = static_cast<qos_client_data_t *>(orva::record_create(client, h, kDb));
      auto *src = static_cast<apf_call_record_t *>(orva::record_create(call, h, kDb));
      for (mox_vstring_t *s : {&src->call_id, &src->called_party, &src->calling_party})
        mox_vstring_set_value(h, kDb, s, "some-party@example", &err);
      src->call_code = 12;
      ASSERT_EQ(err, 0u);
      const uint32_t created = stats.created, destroyed = stats.destroyed;
      // Element 1 first takes src by the record-level copy, and with it
      // src's free-standing header.
      orva::dynamic_set_at(client, f, h, kDb, c, 1, src, false, &err);
      ASSERT_EQ(err, 0u);
      orva_test::JournalCheck jc(h, {{c, orva::record_sizeof_internal(client, h, c, 1, 0), "client"}});
      h.fail_alloc_after(n);
      orva::dynamic_set_at(client, f, h, kDb, c, 2, &c->call_record[1], true, &err);
      h.fail_alloc_after(-1);
      if (n < 0) {
        EXPECT_TRUE(jc.Verify());
        ASSERT_EQ((std::tuple{err, int(c->call_record_index)}), (std::tuple{0u, 3}));
        const apf_call_record_t &e = c->call_record[2];
        EXPECT_EQ((std::tuple{e.call_code, std::string(e.called_party.str), e.called_party.str != c->call_record[1].called_party.str,
                              e.flags & MOX_FLAG_NESTED}), (std::tuple{12u, "some-party@example", true, MOX_FLAG_NESTED}));
        if (mode == MOX_STTR_ON) {
          for (uint32_t i : {0u, 2u}) EXPECT_EQ(orva::field_state_get_at(client, f, h, kDb, c, i, &err), i);
        }
      } else if (err != 0) {
        EXPECT_EQ(err, 12u);
      } else {
        EXPECT_STREQ(c->call_record[2].calling_party.str, "some-party@example");
      }
      orva::record_destroy(client, h, kDb, c);
      EXPECT_EQ(stats.created - created, stats.destroyed - destroyed);
      orva::record_destroy(call, h, kDb, src);
      EXPECT_EQ(h.live_bytes(), 0u);
    }
  }
}

}  // namespace
