// Loading the module links its node at the tail of the runtime's module list,
// once however often it is opened; unloading unlinks it and leaves its
// neighbours joined.  This binary does not link the module: it loads it with
// dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "mox/runtime.h"

namespace {

mox_module_root_t &root = mox_module_tot_root;

void append(mox_module_node_t *node) {
  node->next = nullptr;
  node->prev = root.last;
  *root.last = node;
  root.last = &node->next;
  root.count++;
}

void remove(mox_module_node_t *node) {
  if (node->next) node->next->prev = node->prev;
  else root.last = node->prev;
  *node->prev = node->next;
  root.count--;
}

TEST(ModuleList, LoadLinksOnceAtTheTailAndUnloadJoinsTheNeighbours) {
  mox_module_node_t before{"before", nullptr, nullptr, nullptr};
  mox_module_node_t after{"after", nullptr, nullptr, nullptr};
  append(&before);
  const uint32_t count = root.count;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    void *lib = dlopen(ORVA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    void *again = dlopen(ORVA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    dlclose(again);
    EXPECT_EQ(root.count, count + 1) << "a second open runs no second link";
    mox_module_node_t *node = before.next;
    ASSERT_TRUE(node && node->type_list);
    EXPECT_EQ((std::tuple{std::string(node->name), node->prev, root.last}),
              (std::tuple{"orva_qos_data", &before.next, &node->next}));
    size_t n = 0;
    while (node->type_list[n]) ++n;
    EXPECT_EQ(n, 58u);

    // A module linked after ours: ours now sits in the middle.
    append(&after);
    EXPECT_EQ(node->next, &after);
    ASSERT_EQ(dlclose(lib), 0);
    // before and after remain, joined.
    EXPECT_EQ((std::tuple{root.count, before.next, after.prev, root.last}),
              (std::tuple{count + 1, &after, &before.next, &after.next}));
    remove(&after);
    EXPECT_EQ(root.count, count);
  }
  remove(&before);
}

}  // namespace
