#include "journal_check.h"

#include <cstdio>
#include <cstring>

namespace orva_test {

JournalCheck::JournalCheck(mox_handle_t *h, std::initializer_list<Region> regions)
    : JournalCheck(h, std::vector<Region>(regions)) {}

JournalCheck::JournalCheck(mox_handle_t *h, std::vector<Region> regions)
    : h_(h), was_enabled_(mox_journal_enabled(h)) {
  for (auto &r : regions) snapshots_.push_back(Snapshot{std::move(r), {}});
  mox_journal_enable(h_, 1);
  Rebase();
}

JournalCheck::~JournalCheck() { mox_journal_enable(h_, was_enabled_); }

void JournalCheck::Rebase() {
  first_entry_ = mox_journal_count(h_);
  for (auto &s : snapshots_) {
    const auto *p = static_cast<const uint8_t *>(s.region.addr);
    s.bytes.assign(p, p + s.region.len);
  }
}

uint32_t JournalCheck::announcements() const { return mox_journal_count(h_) - first_entry_; }

namespace {

std::string hex(uint8_t b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02x", b);
  return buf;
}

}  // namespace

::testing::AssertionResult JournalCheck::Verify() const {
  const uint32_t end = mox_journal_count(h_);
  for (const auto &s : snapshots_) {
    const auto *now = static_cast<const uint8_t *>(s.region.addr);
    size_t offending = 0;
    std::string first;
    for (size_t off = 0; off < s.region.len; ++off) {
      if (now[off] == s.bytes[off]) continue;
      const uint8_t *byte = now + off;
      // The first announcement after the snapshot that covers the byte.
      bool announced = false;
      bool in_time = false;
      for (uint32_t i = first_entry_; i < end && !announced; ++i) {
        mox_journal_entry_t e;
        mox_journal_get(h_, i, &e);
        const auto *lo = static_cast<const uint8_t *>(e.addr);
        if (byte < lo || byte >= lo + e.len) continue;
        announced = true;
        in_time = e.before && e.before[byte - lo] == s.bytes[off];
      }
      if (announced && in_time) continue;
      if (offending++ == 0) {
        first = "byte " + std::to_string(off) + " of " + s.region.name + " changed " +
                hex(s.bytes[off]) + " -> " + hex(now[off]) + " " +
                (announced ? "before its announcement (the announced old value differs)"
                           : "without an announcement");
      }
    }
    if (offending) {
      return ::testing::AssertionFailure()
             << first << "; " << offending << " offending byte(s) in " << s.region.name << ", "
             << (end - first_entry_) << " announcement(s) seen";
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult StoresAnnounced(mox_handle_t *h, std::initializer_list<Region> regions,
                                           const std::function<void()> &op) {
  JournalCheck check(h, regions);
  op();
  return check.Verify();
}

}  // namespace orva_test
