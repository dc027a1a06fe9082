// JournalCheck: proves that an operation announced every store it made, and
// announced it before making it.
//
//   orva_test::JournalCheck check(h, {{rec, size, "record"}, {buf, n, "buffer"}});
//   qos_ap_data_t_wtp_mac_set(h, db, rec, &mac, &err);
//   EXPECT_TRUE(check.Verify());
//
// The check snapshots the regions and turns the handle's journal on.  Verify()
// compares each region with its snapshot.  Every byte that changed must lie in
// a range announced after the snapshot, and the first such announcement must
// have seen the byte's old value (its `before` copy equals the snapshot):
// otherwise the store was made before it was announced.  The failure message
// names the region, the offset of the first offending byte and its values.
//
// The regions must stay valid until Verify() runs.  Destroying the check
// restores the journal state it found.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "mox/runtime.h"

namespace orva_test {

struct Region {
  const void *addr;
  size_t len;
  std::string name = "region";
};

class JournalCheck {
 public:
  JournalCheck(mox_handle_t *h, std::initializer_list<Region> regions);
  JournalCheck(mox_handle_t *h, std::vector<Region> regions);
  ~JournalCheck();
  JournalCheck(const JournalCheck &) = delete;
  JournalCheck &operator=(const JournalCheck &) = delete;

  // Checks the stores made since construction (or the last Rebase()).
  ::testing::AssertionResult Verify() const;
  // Takes a new snapshot and forgets the announcements made so far.
  void Rebase();

  // Announcements made since the snapshot.
  uint32_t announcements() const;

 private:
  struct Snapshot {
    Region region;
    std::vector<uint8_t> bytes;
  };
  mox_handle_t *h_;
  uint32_t was_enabled_;
  uint32_t first_entry_ = 0;
  std::vector<Snapshot> snapshots_;
};

// Runs op between a snapshot and the verification.
::testing::AssertionResult StoresAnnounced(mox_handle_t *h, std::initializer_list<Region> regions,
                                           const std::function<void()> &op);

}  // namespace orva_test
