// Shared plumbing of the primitive kinds, wire helpers, XML and text helpers:
// error-slot handling, big-endian codecs and a bounded text writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "internal.h"
#include "mox/kinds.h"
#include "mox/xml.h"

namespace mox_rt::kinds {

// errno values the kinds report.
inline constexpr uint32_t kENOENT = 2;
inline constexpr uint32_t kENOMEM = 12;
inline constexpr uint32_t kEINVAL = 22;
inline constexpr uint32_t kEBADMSG = 74;
inline constexpr uint32_t kEMSGSIZE = 90;

// The caller's error slot, which may be null (then failures reach only the
// handle's last_error).  A plain pointer: no private word on the stack, so the
// single-value operations need no frame for it.
class Slot {
 public:
  explicit Slot(uint32_t *p) : p_(p) {}
  Slot(const Slot &) = delete;
  Slot &operator=(const Slot &) = delete;
  // An error is already pending: the operation must do nothing.
  bool busy() const { return p_ && *p_ != 0; }
  uint32_t value() const { return p_ ? *p_ : 0; }
  uint32_t *ptr() { return p_; }

 private:
  uint32_t *p_;
};

// Records code in the slot and the handle, and hands it back for returning.
inline uint32_t fail(mox_handle_t *h, Slot &slot, uint32_t code) {
  mox_rt::fail(h, slot.ptr(), code);
  return code;
}

// ASCII blanks around a value are tolerated in text input.
inline std::string_view trim_blanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Network byte order for every fixed-width item of the wire form.
template <class U>
inline void put_be(uint8_t *out, U value) {
  static_assert(std::is_unsigned_v<U>);
  for (size_t i = 0; i < sizeof(U); ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * (sizeof(U) - 1 - i)));
}

template <class U>
inline U get_be(const uint8_t *in) {
  static_assert(std::is_unsigned_v<U>);
  U value = 0;
  for (size_t i = 0; i < sizeof(U); ++i) value = static_cast<U>((value << 8) | in[i]);
  return value;
}

// Appends text to a caller's buffer of `room` bytes without ever writing past
// it.  The text is kept NUL-terminated while at least one byte is available;
// text that does not fit is cut and the writer remembers the overflow.
class TextOut {
 public:
  TextOut(char *buf, int32_t room)
      : buf_(buf), cap_(buf && room > 0 ? static_cast<size_t>(room) : 0) {}

  void put(const char *s, size_t n);
  void put(std::string_view s) { put(s.data(), s.size()); }
  void spaces(uint32_t n);
  void decimal(uint64_t v);
  // Text content of an element: markup characters become entity references.
  void xml_text(std::string_view s);

  bool overflow() const { return overflow_; }
  uint32_t written() const { return static_cast<uint32_t>(pos_); }

 private:
  char *buf_;
  size_t cap_;
  size_t pos_ = 0;
  bool overflow_ = false;
};

// Ends a rendering operation: an overflow becomes EMSGSIZE in the slot.
// Returns the characters written.
inline uint32_t finish(mox_handle_t *h, Slot &slot, const TextOut &out) {
  if (out.overflow()) fail(h, slot, kEMSGSIZE);
  return out.written();
}

// Tags shared by start_tag/end_tag and the per-kind XML renderers.
void xml_open_tag(TextOut &out, const char *name, uint32_t state_flag);
void xml_close_tag(TextOut &out, const char *name);

// A text value found in a document, owned by the XML library.
class XmlText {
 public:
  XmlText() = default;
  XmlText(const XmlText &) = delete;
  XmlText &operator=(const XmlText &) = delete;
  ~XmlText();
  std::string_view view() const { return {text_ ? text_ : "", len_}; }
  void adopt(char *text);

 private:
  char *text_ = nullptr;
  size_t len_ = 0;
};

// Text content of the first node that path selects: 0, kENOENT when nothing
// is selected, kEINVAL for an unusable document or path.
uint32_t xml_lookup_text(mox_xml_doc_t *doc, const char *path, XmlText *out);

// Writes "Failed xpath: <path>" and an optional reason into the caller's
// message buffer, cut to msglen.
void xml_path_message(char *msg, uint32_t msglen, const char *path, const char *reason);

}  // namespace mox_rt::kinds
