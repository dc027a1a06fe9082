/*
 * mox record runtime: primitive field kinds and wire helpers.
 *
 * Every kind has the same family of operations.  Arguments follow the module
 * convention: handle, database id, the field, the operation's own arguments,
 * the error slot.  Stores into a field are announced through the handle's
 * write_notify before they are made.  Byte layouts are in docs/wire-format.md.
 *
 *   K_get(h, db, field, err)                      -> pointer to the field, null on error
 *   K_get_value(h, db, field, err)                -> the value, 0 on error
 *   K_set(h, db, field, source, err)              -> status; copies a K object
 *   K_set_value(h, db, field, value, err)         -> status
 *   K_len(h, db, field_or_null)                   -> bytes K_marshal writes
 *   K_marshal(h, db, buf, field, buflen, err)     -> bytes written (90 when short)
 *   K_unmarshal(h, db, buf, field, len, flag, err)-> bytes read (90 when short)
 *   K_print(h, db, buf, indent, label, field, room, err) -> characters written
 *   K_to_xml(h, db, name, buf, field, buflen, state_flag, err) -> characters written
 *   K_from_xml(h, db, path, doc, field, err, msg, msglen)  (2 when absent)
 *   K_compare(a, b)                               -> <0, 0, >0; null sorts first
 *
 * Object kinds (MAC address, string, IP address, calendar time, boolean and the
 * two runtime enumerations) also have _initialize, _set_instance_embedded,
 * _decr_object_reference and _destroy_internal.
 */
#ifndef MOX_KINDS_H
#define MOX_KINDS_H

#include <stddef.h>
#include <stdint.h>

#include "mox/api.h"

#ifdef __cplusplus
extern "C" {
#endif

struct mox_handle;
struct mox_type_info;
typedef struct mox_xml_doc mox_xml_doc_t;

/* ------------------------------------------------------------------------ */
/* In-memory representation (sizes on a 32-bit target)                       */
/* ------------------------------------------------------------------------ */

typedef uint32_t mox_boolean_t;                            /* 4 bytes, 0 or 1 */
typedef struct mox_mac_addr { uint8_t octet[6]; } mox_mac_addr_t; /* 6 bytes, byte aligned */
typedef struct mox_vstring {                               /* 8 bytes */
  char *str;    /* NUL-terminated copy owned by the field, or null */
  uint32_t len; /* characters, without the NUL */
} mox_vstring_t;
#define MOX_IP_NONE 0u
#define MOX_IP_V4 4u
#define MOX_IP_V6 6u
typedef struct ip_address {                                /* 24 bytes */
  uint8_t family;     /* MOX_IP_NONE, MOX_IP_V4, MOX_IP_V6 */
  uint8_t reserved[3];
  uint8_t addr[16];   /* network order; IPv4 uses the first 4 bytes */
  uint32_t scope_id;
} ip_address_t;
typedef struct calendar_time {                             /* 16 bytes, 8 aligned */
  MOX_ALIGN8 int64_t sec; /* seconds since the epoch */
  uint32_t usec;          /* 0 .. 999999 */
  uint32_t reserved;
} calendar_time_t;

/* The two runtime enumerations are enumeration objects (12 bytes). */
typedef struct enm_obj {  /* same layout as mox_enum_obj_t */
  void *tinfo;
  int8_t variant;
  uint8_t storage_variant;
  uint8_t flags;
  uint32_t value;
} enm_client_type_t, enm_radio_band_type_t;

/* enm_client_type members */
#define ENM_CLIENT_TYPE_UNKNOWN 0u
#define ENM_CLIENT_TYPE_DATA 1u
#define ENM_CLIENT_TYPE_VOICE 2u
#define ENM_CLIENT_TYPE_VIDEO 3u
#define ENM_CLIENT_TYPE_COUNT 4u
/* enm_radio_band_type members */
#define ENM_RADIO_BAND_UNKNOWN 0u
#define ENM_RADIO_BAND_2_4GHZ 1u
#define ENM_RADIO_BAND_5GHZ 2u
#define ENM_RADIO_BAND_6GHZ 3u
#define ENM_RADIO_BAND_COUNT 4u

/* Layout checks: modules read and write these objects directly. */
#ifdef __cplusplus
#define MOX_KINDS_ASSERT(cond, what) static_assert(cond, what)
#define MOX_KINDS_ALIGNOF(t) alignof(t)
#else
#define MOX_KINDS_ASSERT(cond, what) _Static_assert(cond, what)
#define MOX_KINDS_ALIGNOF(t) _Alignof(t)
#endif
MOX_KINDS_ASSERT(sizeof(mox_boolean_t) == 4, "mox_boolean is 4 bytes");
MOX_KINDS_ASSERT(sizeof(mox_mac_addr_t) == 6 && MOX_KINDS_ALIGNOF(mox_mac_addr_t) == 1,
                 "mox_mac_addr is 6 bytes, byte aligned");
MOX_KINDS_ASSERT(sizeof(ip_address_t) == 24, "ip_address is 24 bytes");
MOX_KINDS_ASSERT(sizeof(calendar_time_t) == 16 && MOX_KINDS_ALIGNOF(calendar_time_t) == 8,
                 "calendar_time is 16 bytes, 8 aligned");
#if UINTPTR_MAX == 0xFFFFFFFF
MOX_KINDS_ASSERT(sizeof(mox_vstring_t) == 8, "mox_vstring is 8 bytes");
MOX_KINDS_ASSERT(sizeof(enm_client_type_t) == 12, "an enumeration object is 12 bytes");
#else
MOX_KINDS_ASSERT(sizeof(mox_vstring_t) == 16, "mox_vstring is 16 bytes");
MOX_KINDS_ASSERT(sizeof(enm_client_type_t) == 16, "an enumeration object is 16 bytes");
#endif

/* Type-info records of the runtime's object kinds (module "mox_runtime"). */
MOX_API extern struct mox_type_info _mox_mac_addr_type_info_internal;
MOX_API extern struct mox_type_info _mox_vstring_type_info_internal;
MOX_API extern struct mox_type_info _ip_address_type_info_internal;
MOX_API extern struct mox_type_info _calendar_time_type_info_internal;
MOX_API extern struct mox_type_info _mox_boolean_type_info_internal;
MOX_API extern struct mox_type_info _enm_client_type_type_info_internal;
MOX_API extern struct mox_type_info _enm_radio_band_type_type_info_internal;

/* ------------------------------------------------------------------------ */
/* The common family                                                         */
/* ------------------------------------------------------------------------ */

#define MOX_KIND_COMMON_OPS(K, CT)                                                           \
  MOX_API CT *K##_get(struct mox_handle *h, uint32_t db, CT *field, uint32_t *err);                   \
  MOX_API uint32_t K##_set(struct mox_handle *h, uint32_t db, CT *field, const CT *source,            \
                   uint32_t *err);                                                            \
  MOX_API uint32_t K##_len(struct mox_handle *h, uint32_t db, const CT *field);                       \
  MOX_API uint32_t K##_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf, const CT *field,      \
                       int32_t buflen, uint32_t *err);                                        \
  MOX_API uint32_t K##_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf, CT *field,    \
                         int32_t len, uint32_t flag, uint32_t *err);                          \
  MOX_API uint32_t K##_print(struct mox_handle *h, uint32_t db, char *buf, uint32_t indent,           \
                     const char *label, const CT *field, int32_t room, uint32_t *err);        \
  MOX_API uint32_t K##_to_xml(struct mox_handle *h, uint32_t db, const char *name, char *buf,         \
                      const CT *field, int32_t buflen, uint32_t state_flag, uint32_t *err);   \
  MOX_API void K##_from_xml(struct mox_handle *h, uint32_t db, const char *path, mox_xml_doc_t *doc,  \
                    CT *field, uint32_t *err, char *msg, uint32_t msglen);                    \
  MOX_API int32_t K##_compare(const CT *a, const CT *b)

#define MOX_KIND_SCALAR_OPS(K, CT, VT)                                                       \
  MOX_KIND_COMMON_OPS(K, CT);                                                                 \
  MOX_API VT K##_get_value(struct mox_handle *h, uint32_t db, const CT *field, uint32_t *err);        \
  MOX_API uint32_t K##_set_value(struct mox_handle *h, uint32_t db, CT *field, VT value, uint32_t *err)

#define MOX_KIND_OBJECT_OPS(K, CT)                                                           \
  MOX_API uint32_t K##_initialize(struct mox_handle *h, uint32_t db, CT *obj,                         \
                          struct mox_type_info *ti, uint32_t notify, uint32_t skip_stats,     \
                          uint32_t flags, uint8_t *sttr_base, uint32_t *err);                 \
  MOX_API void K##_set_instance_embedded(struct mox_handle *h, uint32_t db, CT *obj);                 \
  MOX_API void K##_decr_object_reference(struct mox_handle *h, uint32_t db, CT *obj, uint32_t *err);  \
  MOX_API void K##_destroy_internal(struct mox_handle *h, uint32_t db, CT *obj, uint32_t free_storage)

MOX_KIND_SCALAR_OPS(u_int8, uint8_t, uint8_t);
MOX_KIND_SCALAR_OPS(u_int16, uint16_t, uint16_t);
MOX_KIND_SCALAR_OPS(u_int32, uint32_t, uint32_t);
MOX_KIND_SCALAR_OPS(u_int64, uint64_t, uint64_t);
MOX_KIND_SCALAR_OPS(int16, int16_t, int16_t);
MOX_KIND_SCALAR_OPS(mox_boolean, mox_boolean_t, uint32_t);
MOX_KIND_SCALAR_OPS(enm_client_type, enm_client_type_t, uint32_t);
MOX_KIND_SCALAR_OPS(enm_radio_band_type, enm_radio_band_type_t, uint32_t);

MOX_KIND_COMMON_OPS(mox_mac_addr, mox_mac_addr_t);
MOX_KIND_COMMON_OPS(mox_vstring, mox_vstring_t);
MOX_KIND_COMMON_OPS(ip_address, ip_address_t);
MOX_KIND_COMMON_OPS(calendar_time, calendar_time_t);

MOX_KIND_OBJECT_OPS(mox_boolean, mox_boolean_t);
MOX_KIND_OBJECT_OPS(enm_client_type, enm_client_type_t);
MOX_KIND_OBJECT_OPS(enm_radio_band_type, enm_radio_band_type_t);
MOX_KIND_OBJECT_OPS(mox_mac_addr, mox_mac_addr_t);
MOX_KIND_OBJECT_OPS(mox_vstring, mox_vstring_t);
MOX_KIND_OBJECT_OPS(ip_address, ip_address_t);
MOX_KIND_OBJECT_OPS(calendar_time, calendar_time_t);

/* Fixed arrays of the integer kinds: one call does what n single calls on
 * field[0..n-1] at advancing buffer positions do, stopping at the first error
 * (same bytes, same result as the sum of theirs, same slot and last_error).
 *   K_array_len(h, db, field, n)                       -> n * element wire size
 *   K_array_marshal(h, db, buf, field, n, buflen, err) -> bytes written; when
 *       short, the elements that fit are written and the slot gets 90
 *   K_array_unmarshal(h, db, buf, field, n, len, flag, err) -> bytes read; when
 *       short, the elements that fit are stored and the slot gets 90.  The
 *       stored elements are announced in one write_notify over their range.
 *   K_array_compare(a, b, n)  -> K_compare of the first differing element, 0
 *       when all are equal (or n is 0); a null array sorts first. */
#define MOX_KIND_ARRAY_OPS(K, CT)                                                            \
  MOX_API uint32_t K##_array_len(struct mox_handle *h, uint32_t db, const CT *field,          \
                                 uint32_t n);                                                 \
  MOX_API uint32_t K##_array_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf,         \
                                     const CT *field, uint32_t n, int32_t buflen,             \
                                     uint32_t *err);                                          \
  MOX_API uint32_t K##_array_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf, \
                                       CT *field, uint32_t n, int32_t len, uint32_t flag,     \
                                       uint32_t *err);                                        \
  MOX_API int32_t K##_array_compare(const CT *a, const CT *b, uint32_t n)

MOX_KIND_ARRAY_OPS(u_int8, uint8_t);
MOX_KIND_ARRAY_OPS(u_int16, uint16_t);
MOX_KIND_ARRAY_OPS(u_int32, uint32_t);
MOX_KIND_ARRAY_OPS(u_int64, uint64_t);
MOX_KIND_ARRAY_OPS(int16, int16_t);

/* Value setters of the non-scalar kinds. */
MOX_API uint32_t mox_mac_addr_set_value(struct mox_handle *h, uint32_t db, mox_mac_addr_t *field,
                                const uint8_t octet[6], uint32_t *err);
/* Copies text (may be null: the string becomes empty) into storage from record_alloc. */
MOX_API uint32_t mox_vstring_set_value(struct mox_handle *h, uint32_t db, mox_vstring_t *field,
                               const char *text, uint32_t *err);
/* Parses dotted IPv4 or IPv6 text; 22 when it is neither. */
MOX_API uint32_t ip_address_set_value(struct mox_handle *h, uint32_t db, ip_address_t *field,
                              const char *text, uint32_t *err);
MOX_API uint32_t calendar_time_set_value(struct mox_handle *h, uint32_t db, calendar_time_t *field,
                                 int64_t sec, uint32_t usec, uint32_t *err);
/* Text of a runtime enumeration member, or null when value has none. */
MOX_API const char *enm_client_type_member_name(uint32_t value);
MOX_API const char *enm_radio_band_type_member_name(uint32_t value);

/* ------------------------------------------------------------------------ */
/* Wire helpers                                                              */
/* ------------------------------------------------------------------------ */

/* Runtime instance data carried after the flag byte when RA_DATA is set. */
typedef struct mox_ra_data {
  uint32_t owner_id;
  uint32_t generation;
} mox_ra_data_t;

/* The sixteen header fields of a message or table record. */
typedef struct mox_msg_header {
  uint8_t version;        /* 0xBC */
  uint8_t marker[6];      /* 0xFF each */
  uint8_t sttr;           /* state-tracking byte */
  uint32_t handle_word;
  uint32_t encoded_length;
} mox_msg_header_t;
#define MOX_MSG_HEADER_VERSION 0xBCu
#define MOX_MSG_HEADER_WIRE_SIZE 27u

MOX_API uint32_t _mox_instance_variant_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf,
                                       int8_t variant, int32_t buflen, uint32_t *err);
MOX_API uint32_t _mox_instance_variant_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                         int8_t *variant, int32_t len, uint32_t *err);
MOX_API uint32_t _mox_instance_obj_flag_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf,
                                        uint8_t flags, int32_t buflen, uint32_t *err);
MOX_API uint32_t _mox_instance_obj_flag_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                          uint8_t *flags, int32_t len, uint32_t *err);
MOX_API uint32_t _mox_instance_ra_data_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf,
                                       const mox_ra_data_t *ra, uint8_t ra_flag, int32_t buflen,
                                       uint32_t *err);
MOX_API uint32_t _mox_instance_ra_data_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                         mox_ra_data_t *ra, uint8_t *ra_flag, int32_t len,
                                         uint32_t *err);
MOX_API uint32_t _mox_variant_jump_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf, uint32_t jump,
                                   int32_t buflen, uint32_t *err);
MOX_API uint32_t _mox_variant_jump_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                     uint32_t *jump, int32_t len, uint32_t *err);
MOX_API uint32_t _mox_list_len_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf, uint32_t count,
                               int32_t buflen, uint32_t *err);
MOX_API uint32_t _mox_list_len_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                 uint32_t *count, int32_t len, uint32_t *err);
MOX_API uint32_t _mox_message_header_marshal(struct mox_handle *h, uint32_t db, uint8_t *buf,
                                     const mox_msg_header_t *hdr, int32_t buflen, uint32_t *err);
/* Refuses a header with a wrong version, marker or size byte with 74 (EBADMSG). */
MOX_API uint32_t _mox_message_header_unmarshal(struct mox_handle *h, uint32_t db, const uint8_t *buf,
                                       mox_msg_header_t *hdr, int32_t len, uint32_t *err);

#ifdef __cplusplus
}
#endif

#endif /* MOX_KINDS_H */
