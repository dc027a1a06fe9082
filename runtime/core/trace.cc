// The trace library: module registration, the numbered emitters, a
// process-wide capture of every emitted message and its binary form in a file.
//
// An emitter receives the address of a section's index header; the texts of
// the section are those a module registered for that address
// (quill_catalogue_register).  It renders the format at the given index,
// without its leading blank, filled with the arguments.  The
// conversions of the format are checked against the emitter's argument kinds
// first (only %s for a string and d, i, u, x, X, o, c for a 32-bit integer,
// with flags, width, precision and h/hh); a format that does not match, an
// index outside the section or a section without registered texts renders a
// placeholder that says so instead of passing the arguments on.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "internal.h"

namespace {

// The capture keeps the newest records up to this many.
constexpr size_t kCaptureLimit = 65536;
// Levels below this one (top byte 0) are fatal.
constexpr uint32_t kLevelErrorFloor = 0x1000000;
// The first eight bytes of a binary capture file.
constexpr char kCaptureMagic[] = "QLCAPT1\n";

// The texts a module registered for one section.
struct Texts {
  uint32_t count;
  const char *const *formats;
};

struct TraceState {
  std::mutex mutex;
  std::unordered_map<const void *, Texts> catalogues;
  std::FILE *capture_file = nullptr;
  std::unordered_map<std::string, uint16_t> ids;
  std::deque<std::string> names;  // names[id - 1]; a deque keeps c_str() stable
  std::deque<mox_trace_record_t> capture;
  std::atomic<bool> to_stderr{false};
  std::atomic<uint32_t> trans_inits{0};
};

TraceState &state() {
  static TraceState *s = [] {
    auto *fresh = new TraceState();  // never destroyed: destructors may still trace
    const char *env = std::getenv("MOX_TRACE_STDERR");
    fresh->to_stderr = env && std::strcmp(env, "1") == 0;
    const char *path = std::getenv("MOX_TRACE_CAPTURE");
    if (path && *path) fresh->capture_file = std::fopen(path, "wb");
    if (fresh->capture_file) std::fputs(kCaptureMagic, fresh->capture_file);
    return fresh;
  }();
  return *s;
}

// Argument kinds of an emitter, one character per argument: 's' or 'u'.
bool format_matches(const char *fmt, const char *kinds) {
  size_t next = 0;
  for (const char *p = fmt; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    while (*p == 'h') ++p;
    if (!*p) return false;
    char want;
    if (*p == 's')
      want = 's';
    else if (std::strchr("diuxXoc", *p))
      want = 'u';
    else
      return false;
    if (kinds[next] != want) return false;
    ++next;
  }
  return kinds[next] == '\0';
}

const char *text_or_null(const char *s) { return s ? s : "(null)"; }

// One argument of an emitter, as kept for the binary capture.
struct Arg {
  char kind;  // 's' or 'u'
  const char *s;
  uint32_t u;
};
Arg arg(const char *s) { return {'s', s, 0}; }
Arg arg(uint32_t u) { return {'u', nullptr, u}; }

const char *format_of(const void *section, uint32_t index) {
  if (!section) return nullptr;
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.catalogues.find(section);
  if (it == s.catalogues.end() || !it->second.formats || index >= it->second.count) return nullptr;
  return it->second.formats[index];
}

uint16_t section_number(const void *section) {
  return section ? static_cast<const quill_section_desc_t *>(section)->section : 0;
}

template <typename... A>
void render(char *out, size_t room, const void *section, uint32_t index, const char *kinds,
            A... args) {
  const char *fmt = format_of(section, index);
  if (!fmt) {
    std::snprintf(out, room, "<no format: section %u index %u>", section_number(section), index);
    return;
  }
  if (*fmt == ' ') ++fmt;
  if (!format_matches(fmt, kinds)) {
    std::snprintf(out, room, "<format does not match arguments (%s): %s>",
                  *kinds ? kinds : "none", fmt);
    return;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  std::snprintf(out, room, fmt, args...);
#pragma GCC diagnostic pop
}

void put(std::string &b, const void *p, size_t n) { b.append(static_cast<const char *>(p), n); }
void put32(std::string &b, uint32_t v) {
  const unsigned char w[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  put(b, w, 4);
}
void put16(std::string &b, uint16_t v) {
  const unsigned char w[2] = {uint8_t(v), uint8_t(v >> 8)};
  put(b, w, 2);
}

// One capture record (docs/runtime.md, "Binary trace capture"), without its
// leading length word.
std::string capture_record(const void *section, uint32_t index, const char *module,
                           uint32_t level, const Arg *args, size_t n) {
  std::string b;
  static const uint8_t kNoLuid[16] = {};
  const auto *desc = static_cast<const quill_section_desc_t *>(section);
  put(b, desc ? desc->luid : kNoLuid, 16);
  put16(b, section_number(section));
  put32(b, index);
  put32(b, level);
  const size_t name_len = std::strlen(module);
  put16(b, static_cast<uint16_t>(name_len));
  put(b, module, name_len);
  b.push_back(static_cast<char>(n));
  for (size_t i = 0; i < n; ++i) {
    if (args[i].kind == 'u') {
      b.push_back(4);
      put32(b, args[i].u);
    } else {
      b.push_back(1);
      const uint32_t len = args[i].s ? static_cast<uint32_t>(std::strlen(args[i].s)) : 0xFFFFFFFFu;
      put32(b, len);
      if (args[i].s) put(b, args[i].s, len);
    }
  }
  return b;
}

void keep(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
          mox_trace_record_t &rec, const Arg *args, size_t n) {
  rec.section = section;
  rec.index = index;
  rec.module_id = module_id;
  rec.level = level;
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const char *name = module_id >= 1 && module_id <= s.names.size()
                         ? s.names[module_id - 1].c_str()
                         : "?";
  // A fatal message (level 0) always reaches stderr: it precedes an abort,
  // and the capture dies with the process.
  if (s.to_stderr || level < kLevelErrorFloor)
    std::fprintf(stderr, "[%s %u:%u level 0x%x] %s\n", name, section_number(section), index,
                 level, rec.text);
  if (s.capture_file) {
    const std::string b = capture_record(section, index, name, level, args, n);
    std::string framed;
    put32(framed, static_cast<uint32_t>(b.size()));
    framed += b;
    std::fwrite(framed.data(), 1, framed.size(), s.capture_file);
    // Flushed per record: a fatal message is followed by an abort.
    std::fflush(s.capture_file);
  }
  if (s.capture.size() >= kCaptureLimit) s.capture.pop_front();
  s.capture.push_back(rec);
}

// Renders, captures and keeps one message; args are const char * or uint32_t.
template <typename... A>
void emit(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
          const char *kinds, A... args) {
  mox_trace_record_t rec{};
  render(rec.text, sizeof rec.text, section, index, kinds, args...);
  const Arg list[] = {arg(args)..., Arg{}};
  keep(section, index, module_id, level, rec, list, sizeof...(A));
}

}  // namespace

extern "C" {

// Returns the module id; ids are 1, 2, ... in order of first registration.
MOX_API uint32_t quill_module_init_fn(const char *name, uint16_t *module_id, uint32_t *reg_word) {
  MOX_RT_ENTER();
  if (!name) return 0;
  TraceState &s = state();
  // The caller's words are written under the lock too, so two threads
  // registering through the same words do not race on them; a caller that
  // reads them without calling here needs its own once-only registration.
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.ids.find(name);
  if (it == s.ids.end()) {
    s.names.emplace_back(name);
    it = s.ids.emplace(name, static_cast<uint16_t>(s.names.size())).first;
  }
  const uint16_t id = it->second;
  if (module_id) *module_id = id;
  if (reg_word) *reg_word = 1;
  return id;
}

MOX_API void __QLf_0(const void *section, uint32_t index, uint16_t module_id, uint32_t level) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "");
}

MOX_API void __QLf_1(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     const char *a) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "s", text_or_null(a));
}

MOX_API void __QLf_4(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     uint32_t a) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "u", a);
}

MOX_API void __QLf_11(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, const char *b) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "ss", text_or_null(a), text_or_null(b));
}

MOX_API void __QLf_14(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, uint32_t b) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "su", text_or_null(a), b);
}

MOX_API void __QLf_41(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, const char *b) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "us", a, text_or_null(b));
}

MOX_API void __QLf_44(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, uint32_t b) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "uu", a, b);
}

MOX_API void __QLf_111(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       const char *a, const char *b, const char *c) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "sss", text_or_null(a), text_or_null(b), text_or_null(c));
}

MOX_API void __QLf_444(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       uint32_t a, uint32_t b, uint32_t c) {
  MOX_RT_ENTER();
  emit(section, index, module_id, level, "uuu", a, b, c);
}

// The tree libraries keep no trace state of their own; their initializers
// only count how often they were asked.
MOX_API void trans_avl_trace_init(void) {
  MOX_RT_ENTER();
  ++state().trans_inits;
}

MOX_API void trans_gbt_trace_init(void) {
  MOX_RT_ENTER();
  ++state().trans_inits;
}

MOX_API void trans_ravl_trace_init(void) {
  MOX_RT_ENTER();
  ++state().trans_inits;
}

MOX_API void quill_catalogue_register(const quill_section_desc_t *section, uint32_t count,
                                      const char *const *formats) {
  MOX_RT_ENTER();
  if (!section) return;
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.catalogues[section] = Texts{count, formats};
}

MOX_API uint32_t mox_trace_capture_open(const char *path) {
  MOX_RT_ENTER();
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.capture_file) std::fclose(s.capture_file);
  s.capture_file = nullptr;
  if (!path) return 0;
  s.capture_file = std::fopen(path, "wb");
  if (!s.capture_file) return static_cast<uint32_t>(errno);
  std::fputs(kCaptureMagic, s.capture_file);
  return 0;
}

MOX_API uint32_t mox_trace_trans_init_calls(void) { return state().trans_inits.load(); }

MOX_API uint32_t mox_trace_count(void) {
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<uint32_t>(s.capture.size());
}

MOX_API int mox_trace_get(uint32_t i, mox_trace_record_t *out) {
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!out || i >= s.capture.size()) return 0;
  *out = s.capture[i];
  return 1;
}

MOX_API void mox_trace_clear(void) {
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.capture.clear();
}

MOX_API void mox_trace_set_stderr(uint32_t on) { state().to_stderr = on != 0; }

MOX_API const char *mox_trace_module_name(uint16_t module_id) {
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return module_id >= 1 && module_id <= s.names.size() ? s.names[module_id - 1].c_str() : nullptr;
}

}  // extern "C"
