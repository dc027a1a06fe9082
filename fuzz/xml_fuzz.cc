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

[[noreturn]] void fail(const char *what, const TypeDesc &t, uint32_t mode, uint64_t a,
                       uint64_t b) {
  std::fprintf(stderr, "xml_fuzz: %s (type %s, sttr mode 0x%x): %llu vs %llu\n", what, t.name,
               mode, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

struct Doc {
  mox_xml_doc_t *doc = nullptr;
  ~Doc() { mox_xml_doc_free(doc); }
};

// Renders obj under its type's name, growing the buffer while it is cut, then
// once more into a heap buffer of exactly the size the text needs.
std::string render(const TypeDesc &t, mox_handle_t *h, uint32_t mode, const void *obj) {
  int32_t room = 4096;
  uint32_t n = 0, err = 0;
  for (;; room *= 2) {
    std::unique_ptr<char[]> buf(new char[room]);
    err = 0;
    n = orva::record_to_xml(t, h, kDb, t.name, buf.get(), obj, room, 0, &err);
    if (err != 90) break;
    if (room >= kMaxText) fail("rendering larger than the limit", t, mode, room, 0);
  }
  if (err != 0) fail("render of a parsed record fails", t, mode, err, 0);
  auto exact = static_cast<int32_t>(n + 1);
  std::unique_ptr<char[]> buf(new char[exact]);
  uint32_t m = orva::record_to_xml(t, h, kDb, t.name, buf.get(), obj, exact, 0, &err);
  if (err != 0 || m != n) fail("render into an exact-size buffer differs", t, mode, m, n);
  if (buf[n] != '\0') fail("rendering not NUL-terminated", t, mode, n, 0);
  std::string text(buf.get(), n);
  uint32_t cut_err = 0;
  m = orva::record_to_xml(t, h, kDb, t.name, buf.get(), obj, exact - 1, 0, &cut_err);
  if (cut_err != 90 || m >= n || buf[m] != '\0' || std::memcmp(buf.get(), text.data(), m) != 0)
    fail("render one byte short is no cut prefix", t, mode, cut_err, m);
  return text;
}

// The rendering without state flags (the mode switched off for it).
std::string plain(const TypeDesc &t, mox_handle_t *h, uint32_t mode, const void *obj) {
  if (mode != MOX_STTR_ON) return render(t, h, mode, obj);
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  std::string text = render(t, h, mode, obj);
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  return text;
}

void *create(const TypeDesc &t, mox_handle_t *h, uint32_t mode) {
  void *obj = orva::record_create(t, h, kDb);
  if (obj == nullptr) fail("record_create failed", t, mode, 0, 0);
  return obj;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  mox_trace_set_stderr(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > kMaxInput) return 0;
  uint32_t sel = data[0] % orva_fuzz::selector_count();
  const TypeDesc &t = *orva::kTypes[sel / orva_fuzz::kModeCount];
  uint32_t mode = orva_fuzz::kModes[sel % orva_fuzz::kModeCount];
  const std::string path = std::string("//") + t.name;
  char msg[256];
  mox_trace_clear();

  orva_fuzz::Handle h(mode);
  {
    Doc in;
    if (mox_xml_doc_parse(reinterpret_cast<const char *>(data + 1), size - 1, &in.doc, msg,
                          sizeof msg) != 0)
      return 0;
    void *a = create(t, h, mode);
    uint32_t err = 0;
    orva::record_from_xml(t, h, kDb, path.c_str(), in.doc, a, &err, msg, sizeof msg);
    if (err == 0) {
      if (mode == MOX_STTR_ON) render(t, h, mode, a);  // with state flags
      std::string first = plain(t, h, mode, a);
      Doc again;
      uint32_t perr = mox_xml_doc_parse(first.data(), first.size(), &again.doc, msg, sizeof msg);
      if (perr != 0) fail("own rendering does not parse", t, mode, perr, first.size());
      void *b = create(t, h, mode);
      uint32_t berr = 0;
      orva::record_from_xml(t, h, kDb, path.c_str(), again.doc, b, &berr, msg, sizeof msg);
      if (berr != 0) fail("own rendering does not fill a record", t, mode, berr, first.size());
      std::string second = plain(t, h, mode, b);
      if (second != first)
        fail("rendering of the reparsed rendering differs", t, mode, second.size(), first.size());
      orva::record_destroy(t, h, kDb, b);
    }
    uint32_t err2 = 0;
    orva::record_from_xml(t, h, kDb, path.c_str(), in.doc, a, &err2, msg, sizeof msg);
    if (err == 0 && err2 != 0) fail("second fill from the same document fails", t, mode, err2, 0);
    orva::record_destroy(t, h, kDb, a);
    void *c = create(t, h, mode);
    uint32_t cerr = 0;
    mox_handle_fail_alloc_after(h, static_cast<int64_t>(size % 61));
    orva::record_from_xml(t, h, kDb, path.c_str(), in.doc, c, &cerr, msg, sizeof msg);
    mox_handle_fail_alloc_after(h, -1);
    if (cerr != err && cerr != 12) fail("fill under allocation faults ends otherwise", t, mode, cerr, err);
    orva::record_destroy(t, h, kDb, c);
  }
  if (h.live_bytes() != 0) fail("record storage leaked", t, mode, h.live_bytes(), 0);
  mox_trace_clear();
  return 0;
}
