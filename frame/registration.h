// Module registration: module node, type-info initializer, bundle handler.
#pragma once

#include <cstdint>

#include "mox/runtime.h"

namespace orva {

// The type-info list in list order, null-terminated, and its length.
extern mox_type_info_t *const kTypeInfoList[];
extern const uint32_t kTypeInfoCount;

void link_module();
void unlink_module();
const mox_module_node_t *module();

uint32_t typeinfo_initialize(mox_handle_t *h, uint32_t db, uint32_t *err);
mox_bundle_handler_fn bundle_handler_register(mox_bundle_handler_fn handler);
mox_bundle_handler_fn bundle_handler_unregister();

}  // namespace orva
