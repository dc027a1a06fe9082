// The print engine over every record type, in both state-tracking modes and
// at every variant; the golden texts of the deep records (which hold every
// shape of field) and every cut of them.
#include "serial/print.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "frame/catalogue.h"
#include "golden.h"
#include "handle.h"
#include "record_fill.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

constexpr uint32_t kDb = MOX_NO_DB;

// Prints obj labelled with its type's name into a buffer of room bytes.
std::string print(const orva::TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t *err,
                  size_t room = 1 << 20) {
  std::unique_ptr<char[]> buf(new char[room]);  // exact size: ASan sees a write past it
  uint32_t n = orva::record_print(t, h, kDb, buf.get(), 0, t.name, obj, int32_t(room), err);
  EXPECT_EQ(n, room ? std::strlen(buf.get()) : 0) << t.name << " " << room;
  return std::string(buf.get(), n);
}

TEST(Print, EveryTypeBothModesEveryVariantPrintsNestedBlocks) {
  for (uint32_t mode : {MOX_STTR_ON, MOX_STTR_OFF}) {
    ScopedHandle h(mode);
    for (uint32_t i = 0; i < orva::kTypeCount; ++i) {
      const orva::TypeDesc &t = *orva::kTypes[i];
      void *obj = orva::record_create(t, h, kDb);
      fill_record(t, h, kDb, obj, 7 + i);
      int8_t &variant = static_cast<mox_obj_header_t *>(obj)->variant;
      const int8_t own = variant;
      for (variant = t.highest; variant >= -1; --variant) {
        uint32_t err = 0;
        std::string text = print(t, h, obj, &err);
        std::string what = std::string(t.name) + " variant " + std::to_string(variant) + ": ";
        EXPECT_EQ(err, 0u) << what;
        EXPECT_EQ(text.rfind(std::string(t.name) + "@" + t.name + ": {\n", 0), 0u) << what;
        // The variant-1 field only from variant 1; nothing at all below 0.
        EXPECT_EQ(variant < 0, text.find('\n') + 3 == text.size()) << what;
        for (uint16_t k = 0; k < t.field_count; ++k) {
          if (t.fields[k].variant == 0) continue;
          EXPECT_EQ(text.find(std::string("\n  ") + t.fields[k].name + ":") != std::string::npos,
                    variant > 0) << what << t.fields[k].name;
        }
      }
      variant = own;
      orva::record_destroy(t, h, kDb, obj);
    }
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// The deep records print the same in both modes, as their golden files say;
// for every buffer length the text is the longest prefix of the full text
// that fits with its NUL, and a cut text reports 90.
TEST(Print, GoldenTextsOfTheDeepRecordsAndEveryCut) {
  for (const char *type : kGoldenTypes) {
    const orva::TypeDesc &t = type_named(type);
    std::string full[2];
    for (uint32_t tracked : {0, 1}) {
      ScopedHandle h(tracked ? MOX_STTR_ON : MOX_STTR_OFF);
      void *obj = golden_record(type, h);
      uint32_t err = 0;
      full[tracked] = print(t, h, obj, &err);
      EXPECT_EQ(err, 0u) << type;
      for (size_t room = 0; tracked && room <= full[1].size() + 1; ++room) {
        err = 0;
        std::string cut = print(t, h, obj, &err, room);
        ASSERT_EQ(err, room <= full[1].size() ? 90u : 0u) << type << " " << room;
        ASSERT_EQ(cut, full[1].substr(0, room ? room - 1 : 0)) << type << " " << room;
      }
      orva::record_destroy(t, h, kDb, obj);
    }
    EXPECT_EQ(full[0], full[1]) << type;
    golden_compare(type, ".txt", full[1]);
  }
}

}  // namespace
}  // namespace orva_test
