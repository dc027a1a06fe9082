#include "golden.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "frame/catalogue.h"
#include "record_fill.h"
#include "types/lifecycle.h"

namespace orva_test {

const orva::TypeDesc &type_named(const std::string &name) {
  for (uint32_t i = 0; i < orva::kTypeCount; ++i)
    if (name == orva::kTypes[i]->name) return *orva::kTypes[i];
  ADD_FAILURE() << "no type " << name;
  return *orva::kTypes[0];
}

void *golden_record(const std::string &type, mox_handle_t *h) {
  const orva::TypeDesc &t = type_named(type);
  void *obj = orva::record_create(t, h, MOX_NO_DB);
  if (obj != nullptr) fill_record(t, h, MOX_NO_DB, obj, 2026);
  return obj;
}

void golden_compare(const std::string &type, const char *extension, const std::string &text) {
  const std::string path = std::string(ORVA_SOURCE_DIR) + "/tests/golden/" + type + extension;
  const char *update = std::getenv("ORVA_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << text;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing golden file " << path << " (ORVA_UPDATE_GOLDEN=1 writes it)";
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(want.str(), text) << path;  // multi-line texts: gtest shows the differing lines
}

}  // namespace orva_test
