// Every message of every catalogue section, emitted with sample arguments
// under binary capture, decodes offline (qosdata trace, reading nothing but
// the library file) to exactly the line the live capture gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frame/conventions.h"
#include "frame/descriptors.h"
#include "mox/runtime.h"
#include "orva_qos_data/orva_qos_data.h"

namespace {

std::string run(const std::string &command) {
  std::string out;
  std::FILE *p = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  EXPECT_TRUE(p != nullptr && pclose(p) == 0) << command;
  return out;
}

TEST(TraceCatalogue, LiveCaptureDecodesOfflineToTheSameLines) {
  orva::trace_init();  // the module's id and the catalogue's texts
  const uint16_t id = g_mox_orva_qos_data_trace_module_id;
  const std::string capture = testing::TempDir() + "trace_catalogue_test.capture";
  ASSERT_EQ(mox_trace_capture_open(capture.c_str()), 0u);
  mox_trace_clear();
  const char *a = "alpha", *b = "beta", *none = nullptr;
  uint32_t emitted = 0;
  for (uint32_t s = 0; s < orva::kTraceSectionCount; ++s) {
    const quill_section_desc_t *sec = orva::kTraceSections[s];
    const auto *entry = reinterpret_cast<const uint8_t *>(sec) + 20;
    for (uint32_t i = 0; i < orva::kTraceSectionSizes[s]; ++i, entry += 6, ++emitted) {
      const uint32_t word = entry[0] | entry[1] << 8 | entry[2] << 16 | uint32_t{entry[3]} << 24;
      const uint32_t level = word & 0xFF000000u;
      switch (word & 0xFFFFu) {
        case 0: __QLf_0(sec, i, id, level); break;
        case 1: __QLf_1(sec, i, id, level, a); break;
        case 4: __QLf_4(sec, i, id, level, i); break;
        case 11: __QLf_11(sec, i, id, level, a, none); break;
        case 14: __QLf_14(sec, i, id, level, b, 4294967295u); break;
        case 41: __QLf_41(sec, i, id, level, 7, b); break;
        case 44: __QLf_44(sec, i, id, level, i, 0); break;
        case 111: __QLf_111(sec, i, id, level, a, b, none); break;
        case 444: __QLf_444(sec, i, id, level, 1, 22, 333); break;
        default: ADD_FAILURE() << "section " << s << " index " << i << ": kinds " << (word & 0xFFFFu);
      }
    }
  }
  mox_trace_capture_open(nullptr);
  std::string live;
  mox_trace_record_t r;
  for (uint32_t k = 0; mox_trace_get(k, &r); ++k) {
    EXPECT_NE(r.text[0], '<') << "no text or wrong arguments: " << r.text;
    char line[700];
    std::snprintf(line, sizeof line, "[mox_orva_qos_data %u:%u level 0x%x] %s\n",
                  static_cast<const quill_section_desc_t *>(r.section)->section, r.index, r.level, r.text);
    live += line;
  }
  EXPECT_EQ(mox_trace_count(), emitted);
  EXPECT_EQ(run(std::string(ORVA_QOSDATA) + " trace " + ORVA_LIBRARY_FILE + " " + capture), live);
  std::remove(capture.c_str());
}

}  // namespace
