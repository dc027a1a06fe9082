// Placeholder: filled in by the engine.
#include "serial/wire.h"

namespace orva {
uint32_t record_len(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj) { return {}; }
uint32_t record_marshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, uint8_t *buf, const void *obj, int32_t buflen, uint32_t domain_check, uint32_t *err) { return {}; }
uint32_t record_unmarshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, const uint8_t *buf, void *obj, int32_t len, uint32_t in_place, uint32_t *err) { return {}; }
uint32_t record_clone(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *src, void **dst, uint8_t *buf, int32_t buflen, bool fresh, uint32_t *err) { return {}; }

}  // namespace orva
