// libFuzzer harness of the XML engine.
//
// Input: one selector byte, then an XML document.  The selector picks the
// record type (kTypes order) and the handle's state-tracking configuration
// (none, off, on), as in wire_fuzz.  For each input the harness
//
//   1. parses the document (the runtime refuses what is not well-formed, has
//      a document type declaration or is too large) and fills a fresh record
//      A from "//<type>";
//   2. when that succeeded, renders A into an exact-size heap buffer: the
//      render must succeed, report 90 with one byte less, and write a
//      NUL-terminated text;
//   3. parses that rendering, fills a fresh record B from it and renders B:
//      both renderings must be identical.  With tracking on the renderings
//      compared are made with the mode switched off, since state flags are
//      rendered but not read back; the rendering with flags is made too;
//   4. fills A a second time from the same document (list entries are
//      appended, the dynamic array's elements set again): when the first fill
//      succeeded, so must the second;
//   5. fills a fresh record from the document with the handle refusing
//      every allocation after the first n (n from the input's length): the
//      fill must end as the unhindered one did or with 12;
//   6. destroys every record and document: the handle's live record storage
//      must then be zero.
//
// Every broken expectation aborts, so libFuzzer reports it with the input.
// Inputs above kMaxInput bytes are skipped, so that a slow input is a finding
// of the time limit rather than the cost of a huge document.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "serial/xml.h"
#include "types/lifecycle.h"

namespace {

using orva::TypeDesc;
constexpr uint32_t kDb = MOX_NO_DB;
constexpr size_t kMaxInput = 32 * 1024;
constexpr int32_t kMaxText = 64 << 20;

// The input's type.
const TypeDesc *g_t;
using orva_fuzz::expect;
using orva_fuzz::g_mode;

struct Doc {
  mox_xml_doc_t *doc = nullptr;
  ~Doc() { mox_xml_doc_free(doc); }
};

uint32_t to_xml(mox_handle_t *h, const void *obj, char *buf, int32_t room, uint32_t &err) {
  return orva::record_to_xml(*g_t, h, kDb, g_t->name, buf, obj, room, 0, &(err = 0));
}

// Renders obj under its type's name, growing the buffer while it is cut, then
// once more into a heap buffer of exactly the size the text needs, and once
// into one byte less (a NUL-terminated prefix and 90).
std::string render(mox_handle_t *h, const void *obj) {
  uint32_t n = 0, err = 0;
  for (int32_t room = 4096; err == 90 || room == 4096; room *= 2) {
    expect(room <= kMaxText, "rendering larger than the limit", room);
    n = to_xml(h, obj, std::unique_ptr<char[]>(new char[room]).get(), room, err);
  }
  expect(err == 0, "render of a parsed record fails", err);
  const auto exact = static_cast<int32_t>(n + 1);
  std::unique_ptr<char[]> buf(new char[exact]);
  uint32_t m = to_xml(h, obj, buf.get(), exact, err);
  expect(err == 0 && m == n && buf[n] == '\0', "render into an exact-size buffer differs", m, n);
  std::string text(buf.get(), n);
  m = to_xml(h, obj, buf.get(), exact - 1, err);
  expect(err == 90 && m < n && buf[m] == '\0' && !std::memcmp(buf.get(), text.data(), m),
         "render one byte short is no cut prefix", err, m);
  return text;
}

// The rendering without state flags (the mode switched off for it).
std::string plain(mox_handle_t *h, const void *obj) {
  if (g_mode != MOX_STTR_ON) return render(h, obj);
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  std::string text = render(h, obj);
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  return text;
}

void *create(mox_handle_t *h) {
  void *obj = orva::record_create(*g_t, h, kDb);
  expect(obj != nullptr, "record_create failed");
  return obj;
}
// Fills obj from doc (err set); destroys it unless keep.
void *fill(mox_handle_t *h, const Doc &doc, void *obj, uint32_t &err, bool keep = true) {
  static char msg[256];
  orva::record_from_xml(*g_t, h, kDb, ("//" + std::string(g_t->name)).c_str(), doc.doc, obj, &(err = 0), msg,
                        sizeof msg);
  if (!keep) orva::record_destroy(*g_t, h, kDb, obj);
  return obj;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  orva_fuzz::g_fuzzer = "xml_fuzz";
  mox_trace_set_stderr(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > kMaxInput) return 0;
  const uint32_t sel = data[0] % orva_fuzz::selector_count();
  g_t = orva::kTypes[sel / orva_fuzz::kModeCount];
  orva_fuzz::g_subject = g_t->name;
  g_mode = orva_fuzz::kModes[sel % orva_fuzz::kModeCount];
  char msg[256];
  mox_trace_clear();
  orva_fuzz::Handle h(g_mode);
  {
    Doc in;
    if (mox_xml_doc_parse(reinterpret_cast<const char *>(data + 1), size - 1, &in.doc, msg, sizeof msg) != 0)
      return 0;
    uint32_t err = 0, e2 = 0;
    void *a = fill(h, in, create(h), err);
    if (err == 0) {
      if (g_mode == MOX_STTR_ON) render(h, a);  // with state flags
      const std::string first = plain(h, a);
      Doc again;
      e2 = mox_xml_doc_parse(first.data(), first.size(), &again.doc, msg, sizeof msg);
      expect(e2 == 0, "own rendering does not parse", e2, first.size());
      void *b = fill(h, again, create(h), e2);
      expect(e2 == 0, "own rendering does not fill a record", e2, first.size());
      expect(plain(h, b) == first, "rendering of the reparsed rendering differs");
      orva::record_destroy(*g_t, h, kDb, b);
    }
    fill(h, in, a, e2, false);
    expect(err != 0 || e2 == 0, "second fill from the same document fails", e2);
    void *c = create(h);
    mox_handle_fail_alloc_after(h, static_cast<int64_t>(size % 61));
    fill(h, in, c, e2);
    mox_handle_fail_alloc_after(h, -1);
    orva::record_destroy(*g_t, h, kDb, c);
    expect(e2 == err || e2 == 12, "fill under allocation faults ends otherwise", e2, err);
  }
  expect(h.live_bytes() == 0, "record storage leaked", h.live_bytes());
  mox_trace_clear();
  return 0;
}
