// The integer kinds (u_int8, u_int16, u_int32, u_int64, int16) and
// mox_boolean.  Wire form: the value in network byte order at its own width;
// a boolean is one byte, 0 or 1.  Text: decimal; booleans "true"/"false".
#include <charconv>

#include "kinds/kind_engine.h"

namespace mox_rt::kinds {
namespace {

template <class T>
struct IntKind {
  using Field = T;
  using Plain = T;
  using Wire = std::make_unsigned_t<T>;

  static Plain read(const Field &f) { return f; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, f, v);
    return 0;
  }
  static uint32_t wire_size(const Plain &) { return sizeof(T); }
  static void encode(const Plain &v, uint8_t *out) { put_be(out, static_cast<Wire>(v)); }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < sizeof(T)) return kEMSGSIZE;
    *v = static_cast<T>(get_be<Wire>(in));
    *used = sizeof(T);
    return 0;
  }
  static std::string_view text(const Plain &v, Scratch &s) {
    const auto r = std::to_chars(s, s + sizeof s, v);
    return {s, static_cast<size_t>(r.ptr - s)};
  }
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
  }
  static int32_t compare(const Plain &a, const Plain &b) { return (a > b) - (a < b); }
};

struct U8Kind : IntKind<uint8_t> { static constexpr const char *kName = "u_int8"; };
struct U16Kind : IntKind<uint16_t> { static constexpr const char *kName = "u_int16"; };
struct U32Kind : IntKind<uint32_t> { static constexpr const char *kName = "u_int32"; };
struct U64Kind : IntKind<uint64_t> { static constexpr const char *kName = "u_int64"; };
struct I16Kind : IntKind<int16_t> { static constexpr const char *kName = "int16"; };

// Any non-zero value stored into a boolean becomes 1.
struct BooleanKind {
  using Field = mox_boolean_t;
  using Plain = uint32_t;
  static constexpr const char *kName = "mox_boolean";

  static Plain read(const Field &f) { return f != 0; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, f, static_cast<mox_boolean_t>(v != 0));
    return 0;
  }
  static uint32_t wire_size(const Plain &) { return 1; }
  static void encode(const Plain &v, uint8_t *out) { out[0] = v != 0; }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < 1) return kEMSGSIZE;
    if (in[0] > 1) return kEBADMSG;
    *v = in[0];
    *used = 1;
    return 0;
  }
  static std::string_view text(const Plain &v, Scratch &) { return v ? "true" : "false"; }
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    if (s == "true" || s == "1") return *v = 1, true;
    if (s == "false" || s == "0") return *v = 0, true;
    return false;
  }
  static int32_t compare(const Plain &a, const Plain &b) { return (a > b) - (a < b); }
};

// Fixed arrays of an integer kind in one call, with exactly the effect of n
// single calls made one after the other at advancing positions, the error
// slot stopping the sequence: the elements that fit are written or stored,
// the first that does not sets EMSGSIZE, and the result is the bytes the
// elements that fit took.  A decode announces the stored elements' range in
// one announcement before storing any of them.
template <class K>
struct Bulk {
  using T = typename K::Field;
  static constexpr uint32_t kSize = sizeof(T);

  static uint32_t fitting(int32_t room, uint32_t n) {
    if (room <= 0) return 0;
    const uint32_t fit = static_cast<uint32_t>(room) / kSize;
    return fit < n ? fit : n;
  }

  static uint32_t marshal(mox_handle_t *h, uint8_t *buf, const T *f, uint32_t n, int32_t buflen,
                          uint32_t *err) {
    Slot slot(err);
    if (slot.busy() || n == 0) return 0;
    if (!buf || !f) return fail(h, slot, kEINVAL), 0;
    const uint32_t k = fitting(buflen, n);
    for (uint32_t i = 0; i < k; ++i) K::encode(f[i], buf + i * kSize);
    if (k < n) fail(h, slot, kEMSGSIZE);
    return k * kSize;
  }

  static uint32_t unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, T *f, uint32_t n,
                            int32_t len, uint32_t *err) {
    Slot slot(err);
    if (slot.busy() || n == 0) return 0;
    if (!buf || !f) return fail(h, slot, kEINVAL), 0;
    const uint32_t k = fitting(len, n);
    if (k) {
      mox_rt::notify(h, f, k * kSize, db);
      for (uint32_t i = 0; i < k; ++i)
        f[i] = static_cast<T>(get_be<typename K::Wire>(buf + i * kSize));
    }
    if (k < n) fail(h, slot, kEMSGSIZE);
    return k * kSize;
  }

  // The first element that differs decides; null sorts first.
  static int32_t compare(const T *a, const T *b, uint32_t n) {
    if (n == 0) return 0;
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    for (uint32_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return K::compare(a[i], b[i]);
    return 0;
  }
};

}  // namespace
}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

#define MOX_KIND_DEFINE_ARRAY(K, CT, TR)                                                      \
  MOX_API uint32_t K##_array_len(mox_handle_t *h, uint32_t db, const CT *field, uint32_t n) {  \
    MOX_RT_ENTER();                                                                           \
    return n * static_cast<uint32_t>(sizeof(CT));                                             \
  }                                                                                           \
  MOX_API uint32_t K##_array_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,               \
                                     const CT *field, uint32_t n, int32_t buflen,             \
                                     uint32_t *err) {                                         \
    MOX_RT_ENTER();                                                                           \
    return Bulk<TR>::marshal(h, buf, field, n, buflen, err);                                  \
  }                                                                                           \
  MOX_API uint32_t K##_array_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,       \
                                       CT *field, uint32_t n, int32_t len, uint32_t flag,     \
                                       uint32_t *err) {                                       \
    MOX_RT_ENTER();                                                                           \
    return Bulk<TR>::unmarshal(h, db, buf, field, n, len, err);                               \
  }                                                                                           \
  MOX_API int32_t K##_array_compare(const CT *a, const CT *b, uint32_t n) {                    \
    MOX_RT_ENTER();                                                                           \
    return Bulk<TR>::compare(a, b, n);                                                        \
  }

extern "C" {
MOX_KIND_DEFINE_SCALAR(u_int8, uint8_t, uint8_t, U8Kind)
MOX_KIND_DEFINE_SCALAR(u_int16, uint16_t, uint16_t, U16Kind)
MOX_KIND_DEFINE_SCALAR(u_int32, uint32_t, uint32_t, U32Kind)
MOX_KIND_DEFINE_SCALAR(u_int64, uint64_t, uint64_t, U64Kind)
MOX_KIND_DEFINE_SCALAR(int16, int16_t, int16_t, I16Kind)
MOX_KIND_DEFINE_ARRAY(u_int8, uint8_t, U8Kind)
MOX_KIND_DEFINE_ARRAY(u_int16, uint16_t, U16Kind)
MOX_KIND_DEFINE_ARRAY(u_int32, uint32_t, U32Kind)
MOX_KIND_DEFINE_ARRAY(u_int64, uint64_t, U64Kind)
MOX_KIND_DEFINE_ARRAY(int16, int16_t, I16Kind)
MOX_KIND_DEFINE_SCALAR(mox_boolean, mox_boolean_t, uint32_t, BooleanKind)
MOX_KIND_DEFINE_OBJECT(mox_boolean, mox_boolean_t, BooleanKind)
}
