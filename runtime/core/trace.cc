// The trace library: module registration, the numbered emitters and a
// process-wide capture of every emitted message.
//
// An emitter renders the message from its section descriptor: the format at
// the given index, without its leading blank, filled with the arguments.  The
// conversions of the format are checked against the emitter's argument kinds
// first (only %s for a string and d, i, u, x, X, o, c for a 32-bit integer,
// with flags, width, precision and h/hh); a format that does not match, an
// index outside the section or a missing descriptor renders a placeholder that
// says so instead of passing the arguments on.
#include <atomic>
#include <cstdarg>
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

struct TraceState {
  std::mutex mutex;
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

void render(char *out, size_t room, const void *section, uint32_t index, const char *kinds,
            ...) {
  const auto *desc = static_cast<const quill_section_desc_t *>(section);
  if (!desc || !desc->formats || index >= desc->count || !desc->formats[index]) {
    std::snprintf(out, room, "<no format: section %u index %u>", desc ? desc->section : 0u,
                  index);
    return;
  }
  const char *fmt = desc->formats[index];
  if (*fmt == ' ') ++fmt;
  if (!format_matches(fmt, kinds)) {
    std::snprintf(out, room, "<format does not match arguments (%s): %s>",
                  *kinds ? kinds : "none", fmt);
    return;
  }
  va_list args;
  va_start(args, kinds);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(out, room, fmt, args);
#pragma GCC diagnostic pop
  va_end(args);
}

void keep(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
          mox_trace_record_t &rec) {
  rec.section = section;
  rec.index = index;
  rec.module_id = module_id;
  rec.level = level;
  TraceState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  // A fatal message (level 0) always reaches stderr: it precedes an abort,
  // and the capture dies with the process.
  if (s.to_stderr || level < kLevelErrorFloor) {
    const char *name = module_id >= 1 && module_id <= s.names.size()
                           ? s.names[module_id - 1].c_str()
                           : "?";
    const auto *desc = static_cast<const quill_section_desc_t *>(section);
    std::fprintf(stderr, "[%s %u:%u level 0x%x] %s\n", name, desc ? desc->section : 0u, index,
                 level, rec.text);
  }
  if (s.capture.size() >= kCaptureLimit) s.capture.pop_front();
  s.capture.push_back(rec);
}

}  // namespace

#define MOX_TRACE_EMIT(kinds, ...)                                               \
  do {                                                                           \
    mox_trace_record_t rec{};                                                    \
    render(rec.text, sizeof rec.text, section, index, kinds __VA_OPT__(, ) __VA_ARGS__); \
    keep(section, index, module_id, level, rec);                                 \
  } while (0)

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
  MOX_TRACE_EMIT("");
}

MOX_API void __QLf_1(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     const char *a) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("s", text_or_null(a));
}

MOX_API void __QLf_4(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     uint32_t a) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("u", a);
}

MOX_API void __QLf_11(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, const char *b) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("ss", text_or_null(a), text_or_null(b));
}

MOX_API void __QLf_14(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, uint32_t b) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("su", text_or_null(a), b);
}

MOX_API void __QLf_41(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, const char *b) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("us", a, text_or_null(b));
}

MOX_API void __QLf_44(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, uint32_t b) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("uu", a, b);
}

MOX_API void __QLf_111(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       const char *a, const char *b, const char *c) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("sss", text_or_null(a), text_or_null(b), text_or_null(c));
}

MOX_API void __QLf_444(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       uint32_t a, uint32_t b, uint32_t c) {
  MOX_RT_ENTER();
  MOX_TRACE_EMIT("uuu", a, b, c);
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
