// The print engine over every record type: block layout and indentation in
// both state-tracking modes and at every variant, every cut of the deep
// records, and their golden printed text.
#include "serial/print.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/catalogue.h"
#include "golden.h"
#include "handle.h"
#include "record_fill.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

constexpr uint32_t kDb = MOX_NO_DB;

std::string print(const orva::TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t *err) {
  std::vector<char> buf(1 << 20);
  uint32_t n = orva::record_print(t, h, kDb, buf.data(), 0, t.name, obj, int32_t(buf.size()), err);
  EXPECT_EQ(n, std::strlen(buf.data())) << t.name;
  return std::string(buf.data(), n);
}

// Every block opens with "<label>@<type>: {" and closes with "}" at the same
// indentation; every line inside it is indented two more.
void expect_blocks(const std::string &text, const std::string &what) {
  std::vector<size_t> open;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = text.substr(at, end - at);
    size_t indent = line.find_first_not_of(' ');
    if (line.substr(indent) == "}") {
      ASSERT_TRUE(!open.empty() && open.back() == indent) << what << ": " << line;
      open.pop_back();
      continue;
    }
    ASSERT_TRUE(open.empty() ? at == 0 : indent == open.back() + 2) << what << ": " << line;
    if (line.size() > 3 && line.compare(line.size() - 3, 3, ": {") == 0) open.push_back(indent);
  }
  EXPECT_TRUE(open.empty() && at == text.size()) << what;
}

TEST(Print, EveryTypeBothModesEveryVariantPrintsNestedBlocks) {
  for (uint32_t mode : {MOX_STTR_ON, MOX_STTR_OFF}) {
    ScopedHandle h(mode);
    for (uint32_t i = 0; i < orva::kTypeCount; ++i) {
      const orva::TypeDesc &t = *orva::kTypes[i];
      void *obj = orva::record_create(t, h, kDb);
      fill_record(t, h, kDb, obj, 7 + i);
      auto *hd = static_cast<mox_obj_header_t *>(obj);
      const int8_t own = hd->variant;
      for (int v = t.highest; v >= -1; --v) {
        hd->variant = static_cast<int8_t>(v);
        uint32_t err = 0;
        std::string text = print(t, h, obj, &err);
        std::string what = std::string(t.name) + " variant " + std::to_string(v);
        EXPECT_EQ(err, 0u) << what;
        EXPECT_EQ(text.rfind(std::string(t.name) + "@" + t.name + ": {\n", 0), 0u) << what;
        expect_blocks(text, what);
        if (v < 0) {
          EXPECT_EQ(text, std::string(t.name) + "@" + t.name + ": {\n}\n");
        }
        for (uint16_t k = 0; k < t.field_count; ++k) {
          if (t.fields[k].variant == 0) continue;
          EXPECT_EQ(text.find(std::string("\n  ") + t.fields[k].name) != std::string::npos,
                    t.fields[k].variant <= v)
              << what << " " << t.fields[k].name;
        }
      }
      hd->variant = own;
      orva::record_destroy(t, h, kDb, obj);
    }
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// For every buffer length, the text is the longest prefix of the full text
// that fits with its NUL, and a cut text reports 90.
TEST(Print, EveryCutOfTheDeepRecordsIsAPrefixWithTheBufferError) {
  ScopedHandle h(MOX_STTR_ON);
  for (const char *type : kGoldenTypes) {
    const orva::TypeDesc &t = type_named(type);
    void *obj = golden_record(type, h);
    uint32_t err = 0;
    const std::string full = print(t, h, obj, &err);
    for (size_t len = 0; len <= full.size() + 1; ++len) {
      std::unique_ptr<char[]> buf(new char[len]);
      err = 0;
      uint32_t n = orva::record_print(t, h, kDb, buf.get(), 0, t.name, obj, int32_t(len), &err);
      ASSERT_EQ(err, len <= full.size() ? 90u : 0u) << type << " " << len;
      ASSERT_EQ(n, len == 0 ? 0 : std::min(len - 1, full.size())) << type << " " << len;
      if (len > 0) {
        ASSERT_EQ(std::string(buf.get()), full.substr(0, n)) << type << " " << len;
      }
    }
    orva::record_destroy(t, h, kDb, obj);
  }
}

TEST(Print, GoldenPrintedTextOfTheDeepRecordsInBothModes) {
  for (const char *type : kGoldenTypes) {
    std::string texts[2];
    for (int on = 0; on < 2; ++on) {
      ScopedHandle h(on ? MOX_STTR_ON : MOX_STTR_OFF);
      const orva::TypeDesc &t = type_named(type);
      void *obj = golden_record(type, h);
      uint32_t err = 0;
      texts[on] = print(t, h, obj, &err);
      EXPECT_EQ(err, 0u);
      orva::record_destroy(t, h, kDb, obj);
    }
    EXPECT_EQ(texts[0], texts[1]) << type;
    golden_compare(type, ".txt", texts[1]);
  }
}

}  // namespace
}  // namespace orva_test
