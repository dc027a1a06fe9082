// The domain: which variant of each type is in force and which tables and
// messages are allowed.  A domain's settings live in a DomainTable that
// mox_domain_t::impl points to; types, tables and messages without an entry
// get the domain's default_variant (127: the newest) and are allowed.
#include "core/handle_private.h"

namespace {

constexpr int32_t kLatestVariant = 127;

mox_rt::DomainTable *table_of(const mox_domain_t *domain) {
  return domain ? static_cast<mox_rt::DomainTable *>(domain->impl) : nullptr;
}

mox_rt::DomainTable *table_of(mox_handle_t *h) { return h ? table_of(&h->domain) : nullptr; }

const mox_domain_t *domain_or_handle(mox_handle_t *h, const mox_domain_t *domain) {
  return domain ? domain : (h ? &h->domain : nullptr);
}

uint32_t lookup_ok(const mox_rt::LuidMap<uint32_t> &map, const char *key) {
  if (map.empty()) return 1u;
  auto it = map.find(std::string_view(key));
  return it == map.end() ? 1u : (it->second ? 1u : 0u);
}

}  // namespace

extern "C" {

// A slot that already holds an error makes the lookup a no-op that returns -1.
MOX_API int32_t mox_domain_lookup_variant(mox_handle_t *h, mox_domain_t *domain,
                                          const mox_type_info_t *ti, uint32_t *slot) {
  MOX_RT_ENTER();
  if (slot && *slot) return -1;
  const mox_domain_t *d = domain_or_handle(h, domain);
  if (!d) return kLatestVariant;
  if (const auto *table = table_of(d); table && ti && !table->variants.empty()) {
    auto it = table->variants.find(std::string_view(ti->luid_text));
    if (it != table->variants.end()) return it->second;
  }
  return static_cast<int32_t>(d->default_variant);
}

MOX_API uint32_t mox_domain_lookup_table_ok(mox_handle_t *h, mox_domain_t *domain,
                                            const mox_type_info_t *ti, uint32_t *slot) {
  MOX_RT_ENTER();
  if (slot && *slot) return 0;
  const auto *table = table_of(domain_or_handle(h, domain));
  return table && ti ? lookup_ok(table->table_ok, ti->luid_text) : 1u;
}

MOX_API uint32_t mox_domain_lookup_message_ok(mox_handle_t *h, mox_domain_t *domain,
                                              const mox_type_info_t *ti, uint32_t *slot) {
  MOX_RT_ENTER();
  if (slot && *slot) return 0;
  const auto *table = table_of(domain_or_handle(h, domain));
  return table && ti ? lookup_ok(table->message_ok, ti->luid_text) : 1u;
}

MOX_API void mox_domain_set_variant(mox_handle_t *h, const char *luid_text, int32_t variant) {
  MOX_RT_ENTER();
  if (auto *table = table_of(h); table && luid_text) table->variants[luid_text] = variant;
}

MOX_API void mox_domain_set_table_ok(mox_handle_t *h, const char *luid_text, uint32_t ok) {
  MOX_RT_ENTER();
  if (auto *table = table_of(h); table && luid_text) table->table_ok[luid_text] = ok;
}

MOX_API void mox_domain_set_message_ok(mox_handle_t *h, const char *luid_text, uint32_t ok) {
  MOX_RT_ENTER();
  if (auto *table = table_of(h); table && luid_text) table->message_ok[luid_text] = ok;
}

MOX_API void mox_domain_set_default_variant(mox_handle_t *h, int32_t variant) {
  MOX_RT_ENTER();
  if (h) h->domain.default_variant = static_cast<uint32_t>(variant);
}

MOX_API void mox_domain_set_name(mox_handle_t *h, const char *name) {
  MOX_RT_ENTER();
  if (auto *table = table_of(h)) table->name = name ? name : "default";
}

MOX_API const char *mox_domain_name(const mox_domain_t *domain) {
  MOX_RT_ENTER();
  const auto *table = table_of(domain);
  return table ? table->name.c_str() : "default";
}

MOX_API void mox_domain_reset(mox_handle_t *h) {
  MOX_RT_ENTER();
  if (!h) return;
  if (auto *table = table_of(h)) *table = mox_rt::DomainTable{};
  h->domain.default_variant = kLatestVariant;
}

}  // extern "C"
