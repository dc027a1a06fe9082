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

std::string golden_path(const std::string &type, const char *extension) {
  return std::string(ORVA_SOURCE_DIR) + "/tests/golden/" + type + extension;
}

void golden_compare(const std::string &type, const char *extension, const std::string &text) {
  const std::string path = golden_path(type, extension);
  const char *update = std::getenv("ORVA_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << text;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing golden file " << path << " (ORVA_UPDATE_GOLDEN=1 writes it)";
  std::stringstream want;
  want << in.rdbuf();
  if (want.str() == text) return;
  std::istringstream a(want.str()), b(text);
  std::string la, lb;
  for (int line = 1;; ++line) {
    const bool ga = static_cast<bool>(std::getline(a, la)), gb = static_cast<bool>(std::getline(b, lb));
    if (!ga && !gb) break;
    if (!ga || !gb || la != lb) {
      ADD_FAILURE() << path << " line " << line << ": want \"" << (ga ? la : "<end>")
                    << "\", got \"" << (gb ? lb : "<end>") << "\"";
      return;
    }
  }
  ADD_FAILURE() << path << ": differs";
}

}  // namespace orva_test
