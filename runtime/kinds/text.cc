// Bounded text output shared by the printers and XML renderers, and the two
// exported text helpers mox_print_space and mox_snprintf.
#include <charconv>
#include <cstdarg>
#include <cstdio>

#include "kinds/kinds_internal.h"

namespace mox_rt::kinds {

void TextOut::put(const char *s, size_t n) {
  if (overflow_) return;
  // One byte always stays for the NUL.
  const size_t avail = cap_ ? cap_ - 1 - pos_ : 0;
  const size_t take = n <= avail ? n : avail;
  if (take) std::memcpy(buf_ + pos_, s, take);
  pos_ += take;
  if (cap_) buf_[pos_] = '\0';
  if (take < n || !cap_) overflow_ = true;
}

void TextOut::spaces(uint32_t n) {
  static constexpr char kBlanks[] = "                                ";
  constexpr uint32_t kChunk = sizeof kBlanks - 1;
  while (n && !overflow_) {
    const uint32_t k = n < kChunk ? n : kChunk;
    put(kBlanks, k);
    n -= k;
  }
}

void TextOut::decimal(uint64_t v) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  put(digits, static_cast<size_t>(r.ptr - digits));
}

void TextOut::xml_text(std::string_view s) {
  size_t plain = 0;  // start of the run not yet written
  for (size_t i = 0; i < s.size(); ++i) {
    const char *ref = nullptr;
    switch (s[i]) {
      case '&': ref = "&amp;"; break;
      case '<': ref = "&lt;"; break;
      case '>': ref = "&gt;"; break;
      case '"': ref = "&quot;"; break;
      case '\'': ref = "&apos;"; break;
      case '\r': ref = "&#13;"; break;  // a literal CR would be normalised away on parsing
      default: continue;
    }
    put(s.data() + plain, i - plain);
    put(ref);
    plain = i + 1;
  }
  put(s.data() + plain, s.size() - plain);
}

}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

extern "C" {

// room counts the bytes available from the end of the existing text.
MOX_API uint32_t mox_print_space(mox_handle_t *h, uint32_t db, char *text, uint32_t indent,
                                 int32_t room, uint32_t *err) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!text) return fail(h, slot, kEINVAL), 0;
  if (!indent) return 0;
  TextOut out(text + std::strlen(text), room);
  out.spaces(indent);
  return finish(h, slot, out);
}

MOX_API uint32_t mox_snprintf(mox_handle_t *h, uint32_t db, char *buf, int32_t room,
                              uint32_t *err, const char *fmt, ...) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf || !fmt) return fail(h, slot, kEINVAL), 0;
  if (room <= 0) return fail(h, slot, kEMSGSIZE), 0;
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, static_cast<size_t>(room), fmt, ap);
  va_end(ap);
  if (n < 0) {
    buf[0] = '\0';
    return fail(h, slot, kEINVAL), 0;
  }
  if (n >= room) return fail(h, slot, kEMSGSIZE), static_cast<uint32_t>(room - 1);
  return static_cast<uint32_t>(n);
}

}  // extern "C"
