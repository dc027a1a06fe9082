// Wire helpers for the items around record bodies: instance variant, object
// flags, ra-data block, variant jump, list length and the 27-byte message
// header.  All multi-byte numbers are in network byte order; layouts are in
// docs/wire-format.md.  Every helper returns the bytes written or read.
#include "kinds/kinds_internal.h"

namespace mox_rt::kinds {
namespace {

constexpr size_t kRaDataSize = 9;
constexpr uint8_t kHeaderRevision = 1;
constexpr size_t kMarkerCount = sizeof(mox_msg_header_t::marker);
static_assert(sizeof(mox_msg_header_t) == 16, "the header fields have no padding");

// Shared frame of every fixed-size item: slot check, room check, then the
// item's own writer.
template <size_t N, class Write>
uint32_t put_fixed(mox_handle_t *h, uint8_t *buf, int32_t buflen, uint32_t *err, Write write) {
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf) return fail(h, slot, kEINVAL), 0;
  if (buflen < static_cast<int32_t>(N)) return fail(h, slot, kEMSGSIZE), 0;
  if (uint32_t rc = write(buf)) return fail(h, slot, rc), 0;
  return N;
}

// The reader validates and stores (announced); a refused item stores nothing.
template <size_t N, class Read>
uint32_t get_fixed(mox_handle_t *h, const uint8_t *buf, int32_t len, uint32_t *err, Read read) {
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf) return fail(h, slot, kEINVAL), 0;
  if (len < static_cast<int32_t>(N)) return fail(h, slot, kEMSGSIZE), 0;
  if (uint32_t rc = read(buf)) return fail(h, slot, rc), 0;
  return N;
}

// One number of type V carried as the unsigned W.
template <class V, class W = std::make_unsigned_t<V>>
uint32_t put_number(mox_handle_t *h, uint8_t *buf, V value, int32_t buflen, uint32_t *err) {
  return put_fixed<sizeof(W)>(h, buf, buflen, err, [&](uint8_t *out) {
    put_be(out, static_cast<W>(value));
    return 0u;
  });
}

template <class V, class W = std::make_unsigned_t<V>>
uint32_t get_number(mox_handle_t *h, uint32_t db, const uint8_t *buf, V *out, int32_t len,
                    uint32_t *err) {
  return get_fixed<sizeof(W)>(h, buf, len, err, [&](const uint8_t *in) {
    if (!out) return kEINVAL;
    mox_rt::store(h, db, out, static_cast<V>(get_be<W>(in)));
    return 0u;
  });
}

bool header_identity_ok(const mox_msg_header_t &hdr) {
  if (hdr.version != MOX_MSG_HEADER_VERSION) return false;
  for (uint8_t m : hdr.marker)
    if (m != 0xFF) return false;
  return true;
}

}  // namespace
}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

extern "C" {

MOX_API uint32_t _mox_instance_variant_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,
                                               int8_t variant, int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  return put_number(h, buf, variant, buflen, err);
}

MOX_API uint32_t _mox_instance_variant_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                                 int8_t *variant, int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  return get_number(h, db, buf, variant, len, err);
}

MOX_API uint32_t _mox_instance_obj_flag_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,
                                                uint8_t flags, int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  return put_number(h, buf, flags, buflen, err);
}

MOX_API uint32_t _mox_instance_obj_flag_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                                  uint8_t *flags, int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  return get_number(h, db, buf, flags, len, err);
}

MOX_API uint32_t _mox_instance_ra_data_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,
                                               const mox_ra_data_t *ra, uint8_t ra_flag,
                                               int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  return put_fixed<kRaDataSize>(h, buf, buflen, err, [&](uint8_t *out) {
    if (!ra) return kEINVAL;
    out[0] = ra_flag;
    put_be(out + 1, ra->owner_id);
    put_be(out + 5, ra->generation);
    return 0u;
  });
}

MOX_API uint32_t _mox_instance_ra_data_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                                 mox_ra_data_t *ra, uint8_t *ra_flag, int32_t len,
                                                 uint32_t *err) {
  MOX_RT_ENTER();
  return get_fixed<kRaDataSize>(h, buf, len, err, [&](const uint8_t *in) {
    if (!ra || !ra_flag) return kEINVAL;
    mox_rt::store(h, db, ra_flag, in[0]);
    mox_rt::store(h, db, &ra->owner_id, get_be<uint32_t>(in + 1));
    mox_rt::store(h, db, &ra->generation, get_be<uint32_t>(in + 5));
    return 0u;
  });
}

MOX_API uint32_t _mox_variant_jump_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,
                                           uint32_t jump, int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  return put_number(h, buf, jump, buflen, err);
}

MOX_API uint32_t _mox_variant_jump_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                             uint32_t *jump, int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  return get_number(h, db, buf, jump, len, err);
}

MOX_API uint32_t _mox_list_len_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, uint32_t count,
                                       int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  return put_number(h, buf, count, buflen, err);
}

MOX_API uint32_t _mox_list_len_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                         uint32_t *count, int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  return get_number(h, db, buf, count, len, err);
}

// A header whose version or markers are not the fixed values is refused
// (EINVAL) rather than written: no reader would accept it.
MOX_API uint32_t _mox_message_header_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf,
                                             const mox_msg_header_t *hdr, int32_t buflen,
                                             uint32_t *err) {
  MOX_RT_ENTER();
  return put_fixed<MOX_MSG_HEADER_WIRE_SIZE>(h, buf, buflen, err, [&](uint8_t *out) {
    if (!hdr || !header_identity_ok(*hdr)) return kEINVAL;
    std::memset(out, 0, MOX_MSG_HEADER_WIRE_SIZE);
    out[0] = hdr->version;
    std::memcpy(out + 1, hdr->marker, kMarkerCount);
    out[7] = hdr->sttr;
    put_be(out + 8, hdr->handle_word);
    put_be(out + 12, hdr->encoded_length);
    out[16] = MOX_MSG_HEADER_WIRE_SIZE;
    out[17] = kHeaderRevision;
    return 0u;  // bytes 18..26 stay zero
  });
}

MOX_API uint32_t _mox_message_header_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                               mox_msg_header_t *hdr, int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  return get_fixed<MOX_MSG_HEADER_WIRE_SIZE>(h, buf, len, err, [&](const uint8_t *in) {
    if (!hdr) return kEINVAL;
    mox_msg_header_t v{};
    v.version = in[0];
    std::memcpy(v.marker, in + 1, kMarkerCount);
    v.sttr = in[7];
    v.handle_word = get_be<uint32_t>(in + 8);
    v.encoded_length = get_be<uint32_t>(in + 12);
    if (!header_identity_ok(v) || in[16] != MOX_MSG_HEADER_WIRE_SIZE ||
        in[17] != kHeaderRevision)
      return kEBADMSG;
    mox_rt::store(h, db, hdr, v);
    return 0u;
  });
}

}  // extern "C"
