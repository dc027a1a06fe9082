// The type registry: registered type-info copies keyed by luid text.
//
// Ownership: a registry owns the copies that the default registry_alloc made
// and that were first inserted into it; mox_registry_destroy frees those and
// leaves every other value alone (a value from a custom allocator stays its
// allocator's).  The default registry lives for the whole process; destroying
// it empties it (freeing its copies) and leaves it usable.
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "core/handle_private.h"
#include "db/db_internal.h"

namespace mox_rt {
namespace {

// The tag tells a type registry from a handle's record heap: the registry
// hooks take either (a record heap stands for a database's named objects).
constexpr uint32_t kRegistryTag = 0x4D524547u;  // "MREG"

struct Registry {
  uint32_t tag = kRegistryTag;
  mutable std::mutex mutex;  // the default registry is shared by every handle
  std::unordered_map<std::string, void *> entries;
};

Registry *default_registry_object() {
  static auto *registry = new Registry();  // never destroyed: handles may outlive statics
  return registry;
}

void release_all(Registry *r) {
  std::unordered_map<std::string, void *> entries;
  {
    std::lock_guard<std::mutex> lock(r->mutex);
    entries.swap(r->entries);
  }
  for (auto &[key, value] : entries) release_registry_block(value, r);
}

}  // namespace
}  // namespace mox_rt

using mox_rt::Registry;

extern "C" {

MOX_API void *mox_default_registry(void) {
  MOX_RT_ENTER();
  return mox_rt::default_registry_object();
}

MOX_API void *mox_registry_create(void) {
  MOX_RT_ENTER();
  return new (std::nothrow) Registry();
}

MOX_API void mox_registry_destroy(void *registry) {
  MOX_RT_ENTER();
  if (!registry) return;
  auto *r = static_cast<Registry *>(registry);
  mox_rt::release_all(r);
  if (r != mox_rt::default_registry_object()) delete r;
}

MOX_API uint32_t mox_registry_count(const void *registry) {
  MOX_RT_ENTER();
  if (!registry) return 0;
  const auto *r = static_cast<const Registry *>(registry);
  std::lock_guard<std::mutex> lock(r->mutex);
  return static_cast<uint32_t>(r->entries.size());
}

// 0 inserted; 17 the key is taken (the registry keeps its value); 22 a null argument.
MOX_API uint32_t mox_registry_insert(void *registry, uint32_t db, const char *key, void *value) {
  MOX_RT_ENTER();
  if (!registry || !key || !value) return 22;
  auto *r = static_cast<Registry *>(registry);
  if (r->tag == mox_rt::kHeapTag) [[unlikely]]
    return mox_rt::db_named_insert(static_cast<mox_rt::Heap *>(registry), db, key, value);
  {
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!r->entries.emplace(key, value).second) return 17;
  }
  mox_rt::claim_registry_block(value, r);
  return 0;
}

MOX_API void *mox_registry_lookup(void *registry, uint32_t db, const char *key) {
  MOX_RT_ENTER();
  if (!registry || !key) return nullptr;
  auto *r = static_cast<Registry *>(registry);
  if (r->tag == mox_rt::kHeapTag) [[unlikely]]
    return mox_rt::db_named_lookup(static_cast<mox_rt::Heap *>(registry), db, key);
  std::lock_guard<std::mutex> lock(r->mutex);
  auto it = r->entries.find(key);
  return it == r->entries.end() ? nullptr : it->second;
}

}  // extern "C"
