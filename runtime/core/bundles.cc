// The bundle registries of the three sibling modules (hub_comm, if_common,
// orva_enum_types).  Each holds one current handler: register stores the new
// one and returns the one it replaces, unregister stores null and returns the
// one it held.  Every call is counted per registry.
#include <atomic>

#include "internal.h"

namespace {

struct BundleRegistry {
  std::atomic<mox_bundle_handler_fn> current{nullptr};
  std::atomic<uint32_t> calls{0};
};

BundleRegistry registries[3];

mox_bundle_handler_fn swap_in(uint32_t which, mox_bundle_handler_fn handler) {
  BundleRegistry &r = registries[which];
  ++r.calls;
  return r.current.exchange(handler);
}

}  // namespace

extern "C" {

MOX_API mox_bundle_handler_fn hub_comm_bundle_handler_register(mox_bundle_handler_fn handler) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_HUB_COMM, handler);
}

MOX_API mox_bundle_handler_fn hub_comm_bundle_handler_unregister(void) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_HUB_COMM, nullptr);
}

MOX_API mox_bundle_handler_fn if_common_bundle_handler_register(mox_bundle_handler_fn handler) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_IF_COMMON, handler);
}

MOX_API mox_bundle_handler_fn if_common_bundle_handler_unregister(void) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_IF_COMMON, nullptr);
}

MOX_API mox_bundle_handler_fn orva_enum_types_bundle_handler_register(
    mox_bundle_handler_fn handler) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_ORVA_ENUM_TYPES, handler);
}

MOX_API mox_bundle_handler_fn orva_enum_types_bundle_handler_unregister(void) {
  MOX_RT_ENTER();
  return swap_in(MOX_BUNDLE_ORVA_ENUM_TYPES, nullptr);
}

MOX_API mox_bundle_handler_fn mox_bundle_registry_current(uint32_t registry) {
  return registry < 3 ? registries[registry].current.load() : nullptr;
}

MOX_API uint32_t mox_bundle_registry_calls(uint32_t registry) {
  return registry < 3 ? registries[registry].calls.load() : 0u;
}

}  // extern "C"
