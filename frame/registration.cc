// Registration of the module with the runtime: the module node in the
// runtime's module list (linked at load, unlinked at unload), the type-info
// initializer that publishes the 58 type-info records into a type registry,
// and the bundle handler handed on to the three sibling registries.
#include <cstring>

#include "frame/conventions.h"
#include "frame/registration.h"

namespace orva {

namespace {

mox_module_node_t module_node = {"orva_qos_data", kTypeInfoList, nullptr, nullptr};

// Set once the node has been linked; never cleared, so a second load-time
// call (or a re-run constructor) cannot link the node twice.
uint8_t linked_guard = 0;

}  // namespace

void link_module() {
  mox_module_root_t &root = mox_module_tot_root;
  if (linked_guard) return;
  root.count++;
  module_node.next = nullptr;
  module_node.prev = root.last;
  *root.last = &module_node;
  root.last = &module_node.next;
  linked_guard = 1;
}

void unlink_module() {
  mox_module_root_t &root = mox_module_tot_root;
  if (module_node.next == nullptr && module_node.prev == nullptr) return;
  if (module_node.next != nullptr)
    module_node.next->prev = module_node.prev;
  else
    root.last = module_node.prev;
  *module_node.prev = module_node.next;
  module_node.next = nullptr;
  module_node.prev = nullptr;
  root.count--;
}

const mox_module_node_t *module() { return &module_node; }

uint32_t typeinfo_initialize(mox_handle_t *h, uint32_t /*db: registry calls use no database*/,
                             uint32_t *err) {
  uint32_t status = 0;
  for (mox_type_info_t *const *p = kTypeInfoList; *p != nullptr; ++p) {
    mox_type_info_t *original = *p;
    auto *copy = static_cast<mox_type_info_t *>(
        h->registry_lookup(h->type_registry, MOX_NO_DB, original->luid_text));
    if (copy == nullptr) {
      auto *fresh = static_cast<mox_registered_type_info_t *>(
          h->registry_alloc(h->registry_heap, MOX_NO_DB, sizeof(mox_registered_type_info_t)));
      if (fresh == nullptr) {
        *err = kENOMEM;
        h->last_error = kENOMEM;
        return status;
      }
      // The copy is not visible to anybody until it is inserted: plain stores.
      std::memcpy(&fresh->info, original, sizeof(mox_type_info_t));
      std::memset(fresh->runtime_area, 0, sizeof(fresh->runtime_area));
      fresh->info.reserved0 = 0xFFFFFFFFu;
      fresh->info.placement = h->placement;
      // Complete before it is published: another thread may find it in the
      // registry the moment it is inserted and read it without a lock.
      status = mox_update_variant_info(h, MOX_NO_DB, &fresh->info, original, 1);
      h->registry_insert(h->type_registry, MOX_NO_DB, fresh->info.luid_text, fresh);
      continue;
    }
    status = mox_update_variant_info(h, MOX_NO_DB, copy, original, 0);
  }
  return status;
}

}  // namespace orva

// ---------------------------------------------------------------------------
// Bundle handler
// ---------------------------------------------------------------------------

extern "C" {
ORVA_EXPORT mox_bundle_handler_fn orva_qos_data_bundle_registered_handler = nullptr;
}

namespace orva {

mox_bundle_handler_fn bundle_handler_register(mox_bundle_handler_fn handler) {
  mox_bundle_handler_fn previous = orva_qos_data_bundle_registered_handler;
  orva_qos_data_bundle_registered_handler = handler;
  hub_comm_bundle_handler_register(handler);
  if_common_bundle_handler_register(handler);
  orva_enum_types_bundle_handler_register(handler);
  return previous;
}

mox_bundle_handler_fn bundle_handler_unregister() {
  mox_bundle_handler_fn previous = orva_qos_data_bundle_registered_handler;
  orva_qos_data_bundle_registered_handler = nullptr;
  hub_comm_bundle_handler_unregister();
  if_common_bundle_handler_unregister();
  orva_enum_types_bundle_handler_unregister();
  return previous;
}

// Load and unload of the library.
__attribute__((constructor)) static void on_load() { link_module(); }
__attribute__((destructor)) static void on_unload() { unlink_module(); }

}  // namespace orva
