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

  mox_journal_clear(h);
  EXPECT_EQ(mox_journal_count(h), 0u);
}

TEST(CoreJournal, CoversNeedsEveryByteInSomeAnnouncedRange) {
  ScopedHandle h;
  h.journal(true);
  uint8_t buf[32] = {};
  announce(h, buf + 4, 4);
  announce(h, buf + 8, 2);   // adjacent: [4, 10) is covered together
  announce(h, buf + 12, 4);  // a gap at 10 and 11
  EXPECT_TRUE(mox_journal_covers(h, buf + 4, 6));
  EXPECT_TRUE(mox_journal_covers(h, buf + 13, 3));
  EXPECT_FALSE(mox_journal_covers(h, buf + 4, 9));
  EXPECT_FALSE(mox_journal_covers(h, buf + 3, 2));
  EXPECT_FALSE(mox_journal_covers(h, buf + 15, 2));
  EXPECT_TRUE(mox_journal_covers(h, buf, 0));
}

TEST(CoreJournalCheck, PassesOnlyWhenEveryChangedByteWasAnnouncedFirst) {
  ScopedHandle h;
  uint8_t rec[24] = {};
  uint8_t other[8] = {};

  // Announced, then stored: accepted.
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}}, [&] {
    announce(h, rec + 5, 2);
    rec[5] = 1;
    rec[6] = 2;
  }));

  // A store with no announcement: refused, naming the byte.
  {
    JournalCheck check(h, {{rec, sizeof rec, "rec"}, {other, sizeof other, "other"}});
    announce(h, rec + 0, 1);
    rec[0] = 9;
    other[3] = 4;
    auto r = check.Verify();
    EXPECT_FALSE(r);
    EXPECT_NE(std::string(r.message()).find("byte 3 of other"), std::string::npos) << r.message();
    EXPECT_NE(std::string(r.message()).find("without an announcement"), std::string::npos);
  }

  // Stored first, announced afterwards: refused although the range is covered.
  {
    JournalCheck check(h, {{rec, sizeof rec, "rec"}});
    rec[10] = 0x7F;
    announce(h, rec + 10, 1);
    auto r = check.Verify();
    EXPECT_FALSE(r);
    EXPECT_NE(std::string(r.message()).find("byte 10 of rec"), std::string::npos) << r.message();
    EXPECT_NE(std::string(r.message()).find("before its announcement"), std::string::npos);
  }

  // Announcements made before the snapshot do not count for later stores.
  {
    announce(h, rec + 20, 1);
    JournalCheck check(h, {{rec, sizeof rec, "rec"}});
    rec[20] = 1;
    EXPECT_FALSE(check.Verify());
    check.Rebase();
    EXPECT_TRUE(check.Verify()) << "after a rebase the current content is the reference";
    EXPECT_EQ(check.announcements(), 0u);
  }
}

TEST(CoreJournalCheck, RestoresTheJournalStateItFound) {
  ScopedHandle h;
  uint8_t b = 0;
  { JournalCheck check(h, {{&b, 1}}); EXPECT_EQ(mox_journal_enabled(h), 1u); }
  EXPECT_EQ(mox_journal_enabled(h), 0u);
  h.journal(true);
  { JournalCheck check(h, {{&b, 1}}); }
  EXPECT_EQ(mox_journal_enabled(h), 1u);
}

}  // namespace
