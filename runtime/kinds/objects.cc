// The object kinds without a header: MAC address, string, IP address and
// calendar time.  Byte layouts are in docs/wire-format.md, text formats in
// docs/runtime.md.
#include <arpa/inet.h>

#include <charconv>
#include <cstdio>

#include "kinds/kind_engine.h"

namespace mox_rt::kinds {
namespace {

template <class T>
int32_t sign_of(T v) {
  return (v > 0) - (v < 0);
}

struct MacKind {
  using Field = mox_mac_addr_t;
  using Plain = mox_mac_addr_t;
  static constexpr const char *kName = "mox_mac_addr";
  static constexpr size_t kSize = sizeof(mox_mac_addr_t::octet);

  static Plain read(const Field &f) { return f; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, f, v);
    return 0;
  }
  static uint32_t wire_size(const Plain &) { return kSize; }
  static void encode(const Plain &v, uint8_t *out) { std::memcpy(out, v.octet, kSize); }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < kSize) return kEMSGSIZE;
    std::memcpy(v->octet, in, kSize);
    *used = kSize;
    return 0;
  }
  // aa:bb:cc:dd:ee:ff, lower case.
  static std::string_view text(const Plain &v, Scratch &s) {
    const int n = std::snprintf(s, sizeof s, "%02x:%02x:%02x:%02x:%02x:%02x", v.octet[0],
                                v.octet[1], v.octet[2], v.octet[3], v.octet[4], v.octet[5]);
    return {s, static_cast<size_t>(n)};
  }
  // Six pairs of hex digits (either case) separated by colons.
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    if (s.size() != 3 * kSize - 1) return false;
    for (size_t i = 0; i < kSize; ++i) {
      if (i + 1 < kSize && s[3 * i + 2] != ':') return false;
      const char *first = s.data() + 3 * i;
      const auto r = std::from_chars(first, first + 2, v->octet[i], 16);
      if (r.ec != std::errc() || r.ptr != first + 2) return false;
    }
    return true;
  }
  static int32_t compare(const Plain &a, const Plain &b) {
    return sign_of(std::memcmp(a.octet, b.octet, kSize));
  }
};

// A string value: p is null only for a field that never held a string.
struct Text {
  const char *p = nullptr;
  size_t n = 0;
};

// Strings are stored NUL-terminated in storage from record_alloc, owned by the
// field.  Every store makes a fresh copy (an empty string included), then
// releases the old storage, so copying a field onto itself is safe; only a
// decode may write into the block the field holds (store_decoded).
struct VstringKind {
  using Field = mox_vstring_t;
  using Plain = Text;
  static constexpr const char *kName = "mox_vstring";
  static constexpr bool kLongText = true;
  static constexpr size_t kMaxLen = 0x7FFFFFFEu;

  // The field keeps its length beside the text (every store sets both).
  static Plain read(const Field &f) { return {f.str, f.str ? f.len : 0}; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    if (v.n > kMaxLen || !h || !h->record_alloc) return kEINVAL;
    auto *copy = static_cast<char *>(h->record_alloc(h->record_heap, db, uint32_t(v.n + 1)));
    if (!copy) return kENOMEM;
    if (v.n) std::memcpy(copy, v.p, v.n);
    copy[v.n] = '\0';
    char *old = f->str;
    mox_rt::store(h, db, &f->str, copy);
    mox_rt::store(h, db, &f->len, static_cast<uint32_t>(v.n));
    if (old && h->record_free) h->record_free(h->record_heap, db, old);
    return 0;
  }
  // A decoded text goes into the block the field already owns when that
  // block is known to hold it and is at most twice its size (a table record
  // decoded again in place keeps its string blocks): the text and its NUL are
  // announced and copied, the length stored when it changes.  Otherwise, and
  // for blocks of a caller's allocator, the value is stored as a fresh copy.
  static uint32_t store_decoded(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    const size_t need = v.n + 1;
    const size_t room = f->str ? record_block_room(h, db, f->str) : 0;
    if (room < need || room / 2 >= need) return store(h, db, f, v);
    mox_rt::notify(h, f->str, static_cast<uint32_t>(need), db);
    std::memmove(f->str, v.p, v.n);
    f->str[v.n] = '\0';
    if (f->len != v.n) mox_rt::store(h, db, &f->len, static_cast<uint32_t>(v.n));
    return 0;
  }
  static void release(mox_handle_t *h, uint32_t db, Field *f) {
    char *old = f->str;
    if (old) mox_rt::store(h, db, &f->str, static_cast<char *>(nullptr));
    if (f->len) mox_rt::store(h, db, &f->len, 0u);
    if (old && h && h->record_free) h->record_free(h->record_heap, db, old);
  }
  static uint32_t wire_size(const Plain &v) { return static_cast<uint32_t>(4 + v.n); }
  static void encode(const Plain &v, uint8_t *out) {
    put_be(out, static_cast<uint32_t>(v.n));
    if (v.n) std::memcpy(out + 4, v.p, v.n);
  }
  // The length prefix is trusted only as far as the input reaches; a NUL
  // inside the text has no in-memory representation and is refused.
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < 4) return kEMSGSIZE;
    const uint32_t n = get_be<uint32_t>(in);
    if (n > len - 4) return kEMSGSIZE;
    if (std::memchr(in + 4, 0, n)) return kEBADMSG;
    *v = {reinterpret_cast<const char *>(in + 4), n};
    *used = 4 + size_t{n};
    return 0;
  }
  static std::string_view text(const Plain &v, Scratch &) { return {v.p ? v.p : "", v.n}; }
  static bool parse(std::string_view s, Plain *v) {
    *v = {s.data(), s.size()};
    return true;
  }
  // A field without a string is the empty string here, as in its wire form
  // and text: a record and its decoded copy compare equal.
  static int32_t compare(const Plain &a, const Plain &b) {
    const size_t common = std::min(a.n, b.n);
    const int c = common ? std::memcmp(a.p, b.p, common) : 0;
    return c ? sign_of(c) : sign_of(static_cast<int64_t>(a.n) - static_cast<int64_t>(b.n));
  }
};

// IPv4 or IPv6 address; IPv6 keeps its scope id.  A field whose family byte
// is none of MOX_IP_NONE/V4/V6 is read as "no address".
struct IpKind {
  using Field = ip_address_t;
  using Plain = ip_address_t;
  static constexpr const char *kName = "ip_address";

  static size_t addr_len(uint8_t family) {
    return family == MOX_IP_V4 ? 4 : family == MOX_IP_V6 ? 16 : 0;
  }
  static Plain read(const Field &f) {
    Plain v{};
    v.family = addr_len(f.family) ? f.family : MOX_IP_NONE;
    std::memcpy(v.addr, f.addr, addr_len(v.family));
    if (v.family == MOX_IP_V6) v.scope_id = f.scope_id;
    return v;
  }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, f, v);
    return 0;
  }
  static uint32_t wire_size(const Plain &v) {
    return static_cast<uint32_t>(1 + addr_len(v.family) + (v.family == MOX_IP_V6 ? 4 : 0));
  }
  static void encode(const Plain &v, uint8_t *out) {
    out[0] = v.family;
    std::memcpy(out + 1, v.addr, addr_len(v.family));
    if (v.family == MOX_IP_V6) put_be(out + 17, v.scope_id);
  }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < 1) return kEMSGSIZE;
    *v = Plain{};
    v->family = in[0];
    if (v->family != MOX_IP_NONE && !addr_len(v->family)) return kEBADMSG;
    const size_t need = wire_size(*v);
    if (len < need) return kEMSGSIZE;
    std::memcpy(v->addr, in + 1, addr_len(v->family));
    if (v->family == MOX_IP_V6) v->scope_id = get_be<uint32_t>(in + 17);
    *used = need;
    return 0;
  }
  // "none", dotted IPv4, or IPv6 text with "%<scope>" when the scope is set.
  static std::string_view text(const Plain &v, Scratch &s) {
    if (v.family == MOX_IP_NONE) return "none";
    const int af = v.family == MOX_IP_V4 ? AF_INET : AF_INET6;
    if (!inet_ntop(af, v.addr, s, sizeof s)) return "none";
    size_t n = std::strlen(s);
    if (v.family == MOX_IP_V6 && v.scope_id)
      n += static_cast<size_t>(std::snprintf(s + n, sizeof s - n, "%%%u", v.scope_id));
    return {s, n};
  }
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    *v = Plain{};
    if (s.empty() || s == "none") return true;
    char addr[INET6_ADDRSTRLEN];
    const size_t pct = s.find('%');
    const std::string_view host = s.substr(0, pct);
    if (host.size() >= sizeof addr) return false;
    std::memcpy(addr, host.data(), host.size());
    addr[host.size()] = '\0';
    if (pct == std::string_view::npos && inet_pton(AF_INET, addr, v->addr) == 1) {
      v->family = MOX_IP_V4;
      return true;
    }
    if (inet_pton(AF_INET6, addr, v->addr) != 1) return false;
    v->family = MOX_IP_V6;
    if (pct == std::string_view::npos) return true;
    const std::string_view scope = s.substr(pct + 1);
    const auto r = std::from_chars(scope.data(), scope.data() + scope.size(), v->scope_id);
    return !scope.empty() && r.ec == std::errc() && r.ptr == scope.data() + scope.size();
  }
  static int32_t compare(const Plain &a, const Plain &b) {
    if (a.family != b.family) return sign_of(int{a.family} - int{b.family});
    if (int c = std::memcmp(a.addr, b.addr, addr_len(a.family))) return sign_of(c);
    return sign_of(int64_t{a.scope_id} - int64_t{b.scope_id});
  }
};

struct CalendarKind {
  using Field = calendar_time_t;
  using Plain = calendar_time_t;
  static constexpr const char *kName = "calendar_time";
  static constexpr uint32_t kUsecPerSec = 1000000;

  static Plain read(const Field &f) {
    Plain v{};
    v.sec = f.sec;
    v.usec = f.usec;
    return v;
  }
  static uint32_t check(const Plain &v) { return v.usec < kUsecPerSec ? 0 : kEINVAL; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, f, v);
    return 0;
  }
  static uint32_t wire_size(const Plain &) { return 12; }
  static void encode(const Plain &v, uint8_t *out) {
    put_be(out, static_cast<uint64_t>(v.sec));
    put_be(out + 8, v.usec);
  }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < 12) return kEMSGSIZE;
    *v = Plain{};
    v->sec = static_cast<int64_t>(get_be<uint64_t>(in));
    v->usec = get_be<uint32_t>(in + 8);
    if (v->usec >= kUsecPerSec) return kEBADMSG;
    *used = 12;
    return 0;
  }
  // "<sec>.<usec as 6 digits>": the two fields, so -1.250000 is sec -1, usec 250000.
  static std::string_view text(const Plain &v, Scratch &s) {
    const int n = std::snprintf(s, sizeof s, "%lld.%06u", static_cast<long long>(v.sec), v.usec);
    return {s, static_cast<size_t>(n)};
  }
  // "<sec>" or "<sec>.<exactly 6 digits>".
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    *v = Plain{};
    const char *end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, v->sec);
    if (s.empty() || r.ec != std::errc()) return false;
    if (r.ptr == end) return true;
    if (*r.ptr != '.' || end - r.ptr != 7) return false;
    for (const char *p = r.ptr + 1; p < end; ++p) {
      if (*p < '0' || *p > '9') return false;
      v->usec = v->usec * 10 + static_cast<uint32_t>(*p - '0');
    }
    return true;
  }
  static int32_t compare(const Plain &a, const Plain &b) {
    if (a.sec != b.sec) return a.sec < b.sec ? -1 : 1;
    return (a.usec > b.usec) - (a.usec < b.usec);
  }
};

}  // namespace
}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

extern "C" {

MOX_KIND_DEFINE_COMMON(mox_mac_addr, mox_mac_addr_t, MacKind)
MOX_KIND_DEFINE_OBJECT(mox_mac_addr, mox_mac_addr_t, MacKind)
MOX_KIND_DEFINE_COMMON(mox_vstring, mox_vstring_t, VstringKind)
MOX_KIND_DEFINE_OBJECT(mox_vstring, mox_vstring_t, VstringKind)
MOX_KIND_DEFINE_COMMON(ip_address, ip_address_t, IpKind)
MOX_KIND_DEFINE_OBJECT(ip_address, ip_address_t, IpKind)
MOX_KIND_DEFINE_COMMON(calendar_time, calendar_time_t, CalendarKind)
MOX_KIND_DEFINE_OBJECT(calendar_time, calendar_time_t, CalendarKind)

MOX_API uint32_t mox_mac_addr_set_value(mox_handle_t *h, uint32_t db, mox_mac_addr_t *field,
                                        const uint8_t octet[6], uint32_t *err) {
  MOX_RT_ENTER();
  mox_mac_addr_t v{};
  if (!octet) return Engine<MacKind>::set_plain(h, db, nullptr, v, err);  // refused: EINVAL
  std::memcpy(v.octet, octet, sizeof v.octet);
  return Engine<MacKind>::set_plain(h, db, field, v, err);
}

MOX_API uint32_t mox_vstring_set_value(mox_handle_t *h, uint32_t db, mox_vstring_t *field,
                                       const char *text, uint32_t *err) {
  MOX_RT_ENTER();
  return Engine<VstringKind>::set_plain(h, db, field, Text{text, text ? std::strlen(text) : 0},
                                        err);
}

MOX_API uint32_t ip_address_set_value(mox_handle_t *h, uint32_t db, ip_address_t *field,
                                      const char *text, uint32_t *err) {
  MOX_RT_ENTER();
  return Engine<IpKind>::set_text(h, db, field, text, err);
}

MOX_API uint32_t calendar_time_set_value(mox_handle_t *h, uint32_t db, calendar_time_t *field,
                                         int64_t sec, uint32_t usec, uint32_t *err) {
  MOX_RT_ENTER();
  calendar_time_t v{};
  v.sec = sec;
  v.usec = usec;
  return Engine<CalendarKind>::set_plain(h, db, field, v, err);
}

}  // extern "C"
