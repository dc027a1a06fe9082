// The AVL engine against std::set: random insert, delete, search, first,
// last, next and prev (equal keys refused, probes absent from the tree),
// with order, balances, parent links and the height slot checked after every
// step, and the journal check proving that every link and balance store was
// announced before it was made.  Runs on private memory and inside a shared
// database under its write lock (where every store is also range-checked).
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "db_test_util.h"
#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using db_test::compare;
using db_test::key_of;
using db_test::Rec;

// Height of the subtree at n; fails the test on a bad parent link or balance.
int check(const e_avl_node_t *n, const e_avl_node_t *parent, std::vector<uint32_t> &order) {
  if (!n) return 0;
  EXPECT_EQ(n->parent, parent) << "key " << key_of(n);
  const int l = check(n->left, n, order);
  order.push_back(key_of(n));
  const int r = check(n->right, n, order);
  EXPECT_EQ(n->balance, r - l) << "key " << key_of(n);
  EXPECT_LE(std::abs(r - l), 1);
  return 1 + std::max(l, r);
}

TEST(DbAvl, MatchesStdSetWithEveryStoreAnnounced) {
  for (const bool in_db : {false, true}) {
    SCOPED_TRACE(in_db ? "shared database" : "private memory");
    orva_test::ScopedHandle h;
    uint32_t err = 0, db = MOX_NO_DB;
    constexpr uint32_t kKeys = 48;
    std::vector<Rec> private_recs(kKeys);
    Rec *recs = private_recs.data();
    struct Slots { e_avl_node_t *root; int32_t height; } local{}, *slots = &local;
    if (in_db) {
      db = mox_database_create(h, "avl", 1 << 20, MOX_DB_SHARED, &err);
      mox_database_lock(h, db, MOX_DB_LOCK_WRITE, &err);
      recs = static_cast<Rec *>(db_test::alloc(h, db, kKeys * sizeof(Rec)));
      slots = db_test::make<Slots>(h, db);
      ASSERT_TRUE(recs && slots && err == 0);
    }
    for (uint32_t i = 0; i < kKeys; ++i) recs[i] = Rec{i * 2, {}};  // odd keys: never in the tree
    orva_test::JournalCheck journal(h, {{recs, kKeys * sizeof(Rec), "records"}, {slots, sizeof(Slots), "slots"}});
    std::set<uint32_t> model;
    std::mt19937 rng(12);
    auto find = [&](uint32_t k) { return k % 2 ? nullptr : &recs[k / 2].node; };
    auto key_or_none = [](const e_avl_node_t *n) { return n ? key_of(n) : ~0u; };
    for (int step = 0; step < 6000; ++step) {
      const uint32_t k = rng() % (2 * kKeys), op = rng() % 7;
      Rec probe{k, {}};
      const bool has = model.count(k) != 0;
      SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " key " << k);
      switch (op) {
        case 0:
        case 1: {  // insert: refused for a present key, with nothing stored
          if (k % 2) break;
          const uint32_t before = journal.announcements();
          EXPECT_EQ(e_avl_insert(h, db, &slots->root, find(k), &slots->height, compare), !has);
          if (has) {
            EXPECT_EQ(journal.announcements(), before);
          }
          model.insert(k);
          break;
        }
        case 2:  // delete: a node not in the tree is refused
          EXPECT_EQ(e_avl_delete(h, db, &slots->root, k % 2 ? &probe.node : find(k),
                                 &slots->height, compare),
                    has ? 1u : 0u);
          model.erase(k);
          break;
        case 3:
          EXPECT_EQ(key_or_none(e_avl_search(h, db, &slots->root, &probe.node, compare)),
                    has ? k : ~0u);
          break;
        case 4:
          EXPECT_EQ(key_or_none(e_avl_get_first(h, db, &slots->root)),
                    model.empty() ? ~0u : *model.begin());
          EXPECT_EQ(key_or_none(e_avl_get_last(h, db, &slots->root)),
                    model.empty() ? ~0u : *model.rbegin());
          break;
        default: {  // next/prev of a probe, and of the linked node when present
          auto up = model.upper_bound(k), down = model.lower_bound(k);
          const uint32_t next = up == model.end() ? ~0u : *up;
          const uint32_t prev = down == model.begin() ? ~0u : *std::prev(down);
          for (const e_avl_node_t *from : {&probe.node, has ? find(k) : &probe.node}) {
            EXPECT_EQ(key_or_none(e_avl_get_next(h, db, &slots->root, from, compare)), next);
            EXPECT_EQ(key_or_none(e_avl_get_prev(h, db, &slots->root, from, compare)), prev);
          }
        }
      }
      std::vector<uint32_t> order;
      const int height = check(slots->root, nullptr, order);
      ASSERT_EQ(order, std::vector<uint32_t>(model.begin(), model.end()));
      ASSERT_EQ(slots->height, height);
      ASSERT_TRUE(journal.Verify());
      journal.Rebase();
    }
    // Everything deleted leaves the tree empty and every node unlinked.
    for (uint32_t k : std::vector<uint32_t>(model.begin(), model.end()))
      EXPECT_EQ(e_avl_delete(h, db, &slots->root, find(k), &slots->height, compare), 1u);
    EXPECT_TRUE(slots->root == nullptr && slots->height == 0);
    for (uint32_t i = 0; i < kKeys; ++i)
      EXPECT_TRUE(!recs[i].node.left && !recs[i].node.right && !recs[i].node.parent);
    EXPECT_TRUE(journal.Verify());
    if (in_db) mox_database_destroy(h, db, &err);
    EXPECT_EQ(err, 0u);
  }
}

}  // namespace
