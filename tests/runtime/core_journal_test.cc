// The write journal and the JournalCheck helper built on it.
#include <gtest/gtest.h>

#include <cstring>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::JournalCheck;
using orva_test::ScopedHandle;

void announce(mox_handle_t *h, void *addr, uint32_t len, void *owner = nullptr) {
  h->write_notify(h, addr, len, 7, owner);
}

TEST(CoreJournal, RecordsRangesWithTheBytesBeforeTheStore) {
  ScopedHandle h;
  uint8_t rec[16];
  std::memset(rec, 0x11, sizeof rec);
  announce(h, rec, 4);  // journal off: nothing kept
  EXPECT_EQ(mox_journal_count(h), 0u);

  h.journal(true);
  announce(h, rec + 2, 3, rec);
  rec[2] = 0x22;  // the store after the announcement must not change the copy
  announce(h, rec + 2, 1);
  ASSERT_EQ(mox_journal_count(h), 2u);
  mox_journal_entry_t e;
  ASSERT_TRUE(mox_journal_get(h, 0, &e));
  EXPECT_EQ(e.addr, rec + 2);
  EXPECT_EQ(e.len, 3u);
  EXPECT_EQ(e.db, 7u);
  EXPECT_EQ(e.owner, rec);
  EXPECT_EQ(e.before[0], 0x11);
  ASSERT_TRUE(mox_journal_get(h, 1, &e));
  EXPECT_EQ(e.before[0], 0x22);
  EXPECT_FALSE(mox_journal_get(h, 2, &e));

  // Covered: every byte in some announced range, adjacent ranges together.
  announce(h, rec + 5, 2);  // [2, 7) now, a gap at 7 and 8
  announce(h, rec + 9, 4);
  EXPECT_TRUE(mox_journal_covers(h, rec + 2, 5));
  EXPECT_TRUE(mox_journal_covers(h, rec + 10, 3));
  EXPECT_FALSE(mox_journal_covers(h, rec + 2, 8));
  EXPECT_FALSE(mox_journal_covers(h, rec + 1, 2));
  EXPECT_FALSE(mox_journal_covers(h, rec + 12, 2));
  EXPECT_TRUE(mox_journal_covers(h, rec, 0));
  mox_journal_clear(h);
  EXPECT_EQ(mox_journal_count(h), 0u);
}

testing::AssertionResult names(const testing::AssertionResult &r, const char *byte,
                               const char *why) {
  const std::string m = r.message();
  if (!r && m.find(byte) != std::string::npos && m.find(why) != std::string::npos)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "expected a failure naming '" << byte << "' and '" << why
                                     << "', got: " << (r ? "success" : m);
}

TEST(CoreJournalCheck, PassesOnlyWhenEveryChangedByteWasAnnouncedFirst) {
  ScopedHandle h;
  uint8_t rec[24] = {};
  uint8_t other[8] = {};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}}, [&] {
    announce(h, rec + 5, 2);
    rec[5] = 1;
    rec[6] = 2;
  }));
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}, {other, 8, "other"}},
                                               [&] {
                                                 announce(h, rec, 1);
                                                 rec[0] = 9;
                                                 other[3] = 4;
                                               }),
                    "byte 3 of other", "without an announcement"));
  // Stored first, announced afterwards: refused although the range is covered.
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}}, [&] {
                      rec[10] = 0x7F;
                      announce(h, rec + 10, 1);
                    }),
                    "byte 10 of rec", "before its announcement"));

  EXPECT_EQ(mox_journal_enabled(h), 0u) << "the check restores the journal state it found";

  // Announcements recorded before the snapshot do not count for later stores.
  h.journal(true);
  announce(h, rec + 20, 1);
  {
    JournalCheck check(h, {{rec, sizeof rec, "rec"}});
    rec[20] = 1;
    EXPECT_FALSE(check.Verify());
    check.Rebase();
    EXPECT_TRUE(check.Verify()) << "after a rebase the current content is the reference";
    EXPECT_EQ(check.announcements(), 0u);
  }
  EXPECT_EQ(mox_journal_enabled(h), 1u);
}

}  // namespace
