// The runtime's primitive kinds behind one table, so that the engines switch
// on a field's Kind once and call the same operation for every type.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

struct KindOps {
  void *(*get)(mox_handle_t *h, uint32_t db, void *field, uint32_t *err);
  uint32_t (*set)(mox_handle_t *h, uint32_t db, void *field, const void *src, uint32_t *err);
  // Scalar kinds only (null otherwise): values travel as 64-bit words.
  uint64_t (*get_value)(mox_handle_t *h, uint32_t db, const void *field, uint32_t *err);
  uint32_t (*set_value)(mox_handle_t *h, uint32_t db, void *field, uint64_t value, uint32_t *err);
  uint32_t (*len)(mox_handle_t *h, uint32_t db, const void *field);
  uint32_t (*marshal)(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *field, int32_t buflen,
                      uint32_t *err);
  uint32_t (*unmarshal)(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *field, int32_t len,
                        uint32_t flag, uint32_t *err);
  uint32_t (*print)(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent, const char *label,
                    const void *field, int32_t room, uint32_t *err);
  uint32_t (*to_xml)(mox_handle_t *h, uint32_t db, const char *name, char *buf, const void *field,
                     int32_t buflen, uint32_t state_flag, uint32_t *err);
  void (*from_xml)(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, void *field,
                   uint32_t *err, char *msg, uint32_t msglen);
  int32_t (*compare)(const void *a, const void *b);
  // Object kinds only (null otherwise).
  uint32_t (*initialize)(mox_handle_t *h, uint32_t db, void *obj, mox_type_info_t *ti,
                         uint32_t notify, uint32_t skip_stats, uint32_t flags, uint8_t *base,
                         uint32_t *err);
  void (*set_instance_embedded)(mox_handle_t *h, uint32_t db, void *obj);
  // Released on destroy (MAC address, string, IP address, time); null otherwise.
  void (*decr_object_reference)(mox_handle_t *h, uint32_t db, void *obj, uint32_t *err);
  void (*destroy_internal)(mox_handle_t *h, uint32_t db, void *obj, uint32_t free_storage);
  mox_type_info_t *ti;  // the runtime's type-info record of an object kind
  bool scalar;          // has get_value/set_value
};

// The operations of a primitive kind (every Kind but Enum and Record).
const KindOps &kind_ops(Kind k);

}  // namespace orva
