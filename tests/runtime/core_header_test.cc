// Object header, type-info lookup, domain and variant services, and the
// state-tracking offsets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <tuple>
#include <unordered_map>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"
#include "runtime/core/address_table.h"

namespace {

using orva_test::ScopedHandle;

// Header fields in order: tinfo, variant, storage_variant, flags.
struct TestRecord { MOX_OBJ_HEADER; uint32_t value = 0; };

// A type-info record with its variant information, as a module defines one.
struct FakeType {
  mox_variant_entry_t entries[2]{};
  mox_variant_info_t info{2, entries};
  mox_type_info_t ti{};
  explicit FakeType(const char *luid_text) {
    ti.magic = MOX_TYPE_INFO_MAGIC;
    std::snprintf(ti.luid_text, sizeof ti.luid_text, "%s", luid_text);
    std::snprintf(ti.name, sizeof ti.name, "fake_t");
    ti.reserved0 = 0xFFFFFFFFu;
    ti.variant_info = &info;
    entries[1].variant = 1;
  }
};

// The initializer a module hands to mox_type_info_ptr_get: registers a copy.
FakeType *g_registering = nullptr;
int g_init_calls = 0;
uint32_t register_fake(mox_handle_t *h, uint32_t db, uint32_t *err) {
  ++g_init_calls;
  EXPECT_EQ(db, MOX_NO_DB);
  auto *copy = static_cast<mox_registered_type_info_t *>(
      h->registry_alloc(h->registry_heap, MOX_NO_DB, sizeof(mox_registered_type_info_t)));
  if (!copy) return *err = 12;
  std::memset(copy, 0, sizeof *copy);
  copy->info = g_registering->ti;
  copy->info.placement = h->placement;
  h->registry_insert(h->type_registry, MOX_NO_DB, copy->info.luid_text, copy);
  return mox_update_variant_info(h, MOX_NO_DB, &copy->info, &g_registering->ti, 1);
}

TEST(CoreHeader, ReadsVariantFlagsAndTypeInfoTheInitializerRunsOnceAndStaleVariantInfoIsRepointed) {
  ScopedHandle h;
  FakeType t("0123456789abcdef0123456789abcdef");
  TestRecord plain{&t.ti, -3, 1, MOX_FLAG_NESTED};
  EXPECT_EQ((std::tuple{mox_get_instance_variant(&plain, 1, 0),
                            mox_get_instance_variant(nullptr, 1, 1),
                            mox_get_instance_obj_flag(&plain)}),
            (std::tuple{-3, -1, uint8_t{MOX_FLAG_NESTED}}));
  // Directly or through the runtime block (its first word is the type info);
  // a missing block is for the caller to judge; a null record is 2; an error
  // on entry makes it a no-op.
  uint32_t err = 0;
  void *block[2] = {&t.ti, nullptr};
  TestRecord indirect{block, 0, 0, MOX_FLAG_TINFO_BLOCK}, no_block{nullptr, 0, 0, MOX_FLAG_TINFO_BLOCK};
  EXPECT_EQ((std::tuple{mox_get_manifested_type_info(&plain, &err), mox_get_manifested_type_info_ptr_mem(&plain, &err),
                        mox_get_manifested_type_info(&indirect, &err), mox_get_manifested_type_info_ptr_mem(&indirect, &err),
                        mox_get_manifested_type_info(&no_block, &err), err}),
            (std::tuple{&t.ti, static_cast<void *>(&plain.tinfo), &t.ti, static_cast<void *>(&block[0]),
                        static_cast<mox_type_info_t *>(nullptr), 0u}));
  EXPECT_EQ((std::tuple{mox_get_manifested_type_info(nullptr, &err), err, mox_get_manifested_type_info(&plain, &err)}),
            (std::tuple{static_cast<mox_type_info_t *>(nullptr), 2u, static_cast<mox_type_info_t *>(nullptr)}));

  const struct { uint8_t flags; uint32_t refuse_nested, refuse_embedded, result; int32_t tracked; } cases[] = {{0, 1, 1, 0, 0},
               {MOX_FLAG_NESTED, 1, 1, 22, 0},   {MOX_FLAG_NESTED, 0, 1, 0, 0},
               {MOX_FLAG_EMBEDDED, 1, 1, 22, 0}, {MOX_FLAG_EMBEDDED, 1, 0, 0, 0},
               {MOX_FLAG_STATE_TRACKED | MOX_FLAG_NESTED, 0, 0, 0, 1}};
  for (const auto &c : cases) {
    TestRecord r{nullptr, 0, 0, c.flags};
    EXPECT_EQ((std::tuple{moxlib_validate_object_flags(h, &r, c.refuse_nested, c.refuse_embedded),
                          moxlib_type_header_get_state_tracking_flag(h, &r)}), (std::tuple{c.result, c.tracked}))
        << int(c.flags) << " " << c.refuse_nested << c.refuse_embedded;
  }
  EXPECT_EQ((std::tuple{moxlib_validate_object_flags(h, nullptr, 0, 0), moxlib_type_header_get_state_tracking_flag(h, nullptr)}),
            (std::tuple{22u, -1}));

  // The type-info look-up with its initializer, and repointing.
  g_registering = &t;
  g_init_calls = 0;
  mox_handle_set_placement(h, 1);
  mox_type_info_t *copy = mox_type_info_ptr_get(h, 5, &t.ti, register_fake);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ((std::tuple{copy != &t.ti, copy->placement, copy->variant_info, mox_type_info_ptr_get(h, 5, &t.ti, register_fake),
                        g_init_calls, mox_registry_count(h.registry())}),
            (std::tuple{true, 1u, &t.info, copy, 1, 1u}));

  // Nothing registered and the initializer fails: null, not a stale pointer.
  ScopedHandle other;
  other.fail_alloc_after(0);
  EXPECT_EQ((std::tuple{mox_type_info_ptr_get(other, 5, &t.ti, register_fake), mox_type_info_ptr_get(other, 5, &t.ti, nullptr)}),
            (std::tuple{static_cast<mox_type_info_t *>(nullptr), static_cast<mox_type_info_t *>(nullptr)}));

  // Repointing the variant information: an up-to-date copy is not written.
  mox_variant_info_t stale{1, nullptr};
  mox_type_info_t dup = t.ti;
  h.journal(true);
  mox_journal_clear(h);
  EXPECT_EQ((std::tuple{mox_update_variant_info(h, MOX_NO_DB, &dup, &t.ti, 0), mox_journal_count(h)}), (std::tuple{0u, 0u}));
  dup.variant_info = &stale;
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&dup, sizeof dup, "copy"}}, [&] {
    EXPECT_EQ(mox_update_variant_info(h, MOX_NO_DB, &dup, &t.ti, 0), 0u);
  }));
  EXPECT_EQ((std::tuple{dup.variant_info, mox_update_variant_info(h, MOX_NO_DB, nullptr, &t.ti, 1)}),
            (std::tuple{&t.info, 22u}));
}

TEST(CoreDomain, LookupsAndAdjustVariantWithinAllLimits) {
  ScopedHandle h;
  FakeType a("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), b("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
  mox_domain_t *d = &h->domain;
  uint32_t slot = 0;
  for (int round = 0; round < 2; ++round) {  // fresh, and after a reset
    EXPECT_EQ((std::tuple{mox_domain_lookup_variant(h, d, &a.ti, &slot), mox_domain_lookup_table_ok(h, d, &a.ti, &slot),
                          mox_domain_lookup_message_ok(h, nullptr, &a.ti, &slot), std::string(mox_domain_name(d))}),
              (std::tuple{127, 1u, 1u, "default"}));
    mox_domain_set_variant(h, a.ti.luid_text, -1);
    mox_domain_set_table_ok(h, a.ti.luid_text, 0);
    mox_domain_set_message_ok(h, a.ti.luid_text, 0);
    mox_domain_set_default_variant(h, 0);
    mox_domain_set_name(h, "legacy-peers");
    // b has no entry: the default variant applies; lookups report through
    // their result, not the slot.
    EXPECT_EQ((std::tuple{mox_domain_lookup_variant(h, d, &a.ti, &slot), mox_domain_lookup_variant(h, nullptr, &b.ti, &slot),
                          mox_domain_lookup_table_ok(h, d, &a.ti, &slot), mox_domain_lookup_message_ok(h, d, &a.ti, &slot),
                          mox_domain_lookup_table_ok(h, d, &b.ti, &slot), std::string(mox_domain_name(d)), slot}),
              (std::tuple{-1, 0, 0u, 0u, 1u, "legacy-peers", 0u}));
    mox_domain_reset(h);
  }
  uint32_t busy = 43;
  EXPECT_EQ((std::tuple{mox_domain_lookup_variant(h, d, &b.ti, &busy), mox_domain_lookup_table_ok(h, d, &b.ti, &busy),
                        mox_domain_lookup_message_ok(h, d, &b.ti, &busy), busy}), (std::tuple{-1, 0u, 0u, 43u}));

  // Adjusting a variant: raised within all limits, never lowered.
  FakeType &t = b;
  constexpr int kOpen = 127;  // no domain entry for the type
  const struct {
    int8_t variant; uint8_t storage; uint32_t highest; int domain; uint32_t enabled, err; int8_t expect; const char *why;
  } cases[] = {
      {0, 1, 1, kOpen, 1, 0, 1, "raised"},
      {0, 0, 1, kOpen, 1, 0, 0, "storage laid out for variant 0 only"},
      {0, 1, 0, kOpen, 1, 0, 0, "the type has no newer variant"},
      {0, 1, 1, 0, 1, 0, 0, "the domain allows only variant 0"},
      {1, 1, 1, 0, 1, 0, 1, "never lowered"},
      {-1, 1, 1, kOpen, 1, 0, -1, "a negative variant is left alone"},
      {0, 1, 1, kOpen, 0, 0, 0, "switched off"},
      {0, 1, 1, kOpen, 1, 22, 0, "an error on entry"},
  };
  for (const auto &c : cases) {
    mox_domain_reset(h);
    if (c.domain != kOpen) mox_domain_set_variant(h, t.ti.luid_text, c.domain);
    h->adjust_variant_enabled = c.enabled;
    uint32_t err = c.err;
    TestRecord r{&t.ti, c.variant, c.storage, 0};
    EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&r, sizeof r, "record"}}, [&] {
      moxlib_adjust_variant(h, MOX_NO_DB, &r, &t.ti, c.highest, &err);
    })) << c.why;
    EXPECT_EQ(r.variant, c.expect) << c.why;
  }
  // Without a type-info argument the record's own (through its block) is used.
  uint32_t err = 0;
  void *block[1] = {&t.ti};
  TestRecord r{block, 0, 1, MOX_FLAG_TINFO_BLOCK};
  mox_domain_set_variant(h, t.ti.luid_text, 0);
  moxlib_adjust_variant(h, MOX_NO_DB, &r, nullptr, 1, &err);
  const int8_t held = r.variant;
  mox_domain_reset(h);
  moxlib_adjust_variant(h, MOX_NO_DB, &r, nullptr, 1, &err);
  EXPECT_EQ((std::tuple{held, r.variant}), (std::tuple{int8_t{0}, int8_t{1}}));
  moxlib_adjust_variant(h, MOX_NO_DB, nullptr, &t.ti, 1, &err);  // tolerated
}

TEST(CoreSttrOffset, KeptPerObjectFlagAnnouncedAndForgotten) {
  ScopedHandle h;
  TestRecord a{nullptr, 0, 0, MOX_FLAG_STATE_TRACKED};
  TestRecord b{nullptr, 0, 0, 0};
  EXPECT_EQ(moxlib_get_sttr_offset(h, MOX_NO_DB, &a), 0u);
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&a, sizeof a, "a"}}, [&] {
    EXPECT_EQ(moxlib_update_sttr_offset(h, MOX_NO_DB, &a, 40), 0u);
  }));
  EXPECT_EQ(a.flags, MOX_FLAG_STATE_TRACKED | MOX_FLAG_STTR_OFFSET_HELD);
  const uint64_t one = mox_handle_footprint(h);
  moxlib_update_sttr_offset(h, MOX_NO_DB, &b, 12);
  moxlib_update_sttr_offset(h, MOX_NO_DB, &a, 44);
  EXPECT_EQ((std::tuple{moxlib_get_sttr_offset(h, MOX_NO_DB, &a), moxlib_get_sttr_offset(h, MOX_NO_DB, &b)}), (std::tuple{44u, 12u}));
  ScopedHandle other;  // offsets are per handle
  EXPECT_EQ((std::tuple{moxlib_get_sttr_offset(other, MOX_NO_DB, &a), moxlib_update_sttr_offset(h, MOX_NO_DB, nullptr, 1)}),
            (std::tuple{0u, 22u}));

  // Released, or forgotten with the handle mapping: gone, and the footprint
  // is back where it was.
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{moxlib_release_sttr_offset(h, MOX_NO_DB, &b), moxlib_get_sttr_offset(h, MOX_NO_DB, &b),
                        mox_handle_footprint(h), moxlib_release_sttr_offset(h, MOX_NO_DB, nullptr)}),
            (std::tuple{0u, 0u, one, 22u}));
  mox_hd_mapping_destroy(h, MOX_NO_DB, &a, &err);
  EXPECT_EQ((std::tuple{err, moxlib_get_sttr_offset(h, MOX_NO_DB, &a)}), (std::tuple{0u, 0u}));

  // The bulk forms: a null entry skipped, each flag store announced.
  TestRecord c{nullptr, 0, 0, 0};
  void *objs[] = {&b, nullptr, &c};
  const uint32_t offsets[] = {8, 9, 16};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&b, sizeof b, "b"}, {&c, sizeof c, "c"}}, [&] {
    EXPECT_EQ(moxlib_update_sttr_offsets(h, MOX_NO_DB, 3, objs, offsets), 0u);
  }));
  EXPECT_EQ((std::tuple{moxlib_get_sttr_offset(h, MOX_NO_DB, &b), moxlib_get_sttr_offset(h, MOX_NO_DB, &c),
                        c.flags, moxlib_update_sttr_offsets(h, MOX_NO_DB, 1, nullptr, offsets)}),
            (std::tuple{8u, 16u, uint8_t{MOX_FLAG_STTR_OFFSET_HELD}, 22u}));
  EXPECT_EQ((std::tuple{moxlib_release_sttr_offsets(h, MOX_NO_DB, 3, objs), moxlib_get_sttr_offset(h, MOX_NO_DB, &c),
                        moxlib_get_sttr_offset(h, MOX_NO_DB, &b), moxlib_release_sttr_offsets(nullptr, MOX_NO_DB, 0, objs)}),
            (std::tuple{0u, 0u, 0u, 22u}));
}

}  // namespace

// The offsets table against a std::unordered_map: random sets, overwrites
// and erases over few addresses, so that probe runs collide and wrap.
TEST(CoreSttrOffset, AddressTableBehavesLikeAMap) {
  mox_rt::AddressTable table;
  std::unordered_map<const void *, uint32_t> model;
  static char objects[300];
  std::mt19937 rng(7);
  for (int step = 0; step < 200000; ++step) {
    const void *key = &objects[rng() % sizeof objects];
    uint32_t op = rng() % 3, value = rng();
    if (op == 0) table.set(key, value), model[key] = value;
    if (op == 1) table.erase(key), model.erase(key);
    const uint32_t *found = table.find(key);
    auto it = model.find(key);
    ASSERT_EQ(found != nullptr, it != model.end()) << step;
    if (found != nullptr) {
      ASSERT_EQ(*found, it->second) << step;
    }
    ASSERT_EQ(table.size(), model.size()) << step;
  }
  for (const auto &[key, value] : model) ASSERT_EQ(*table.find(key), value);
}
