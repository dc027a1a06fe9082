// The write journal: the default write_notify records every announced range
// and a copy of the bytes it held at the moment of the announcement, so a
// test can prove that a store was announced before it was made.
#include <algorithm>
#include <utility>

#include "core/handle_private.h"

namespace mox_rt {

namespace {

[[gnu::noinline]] void journal_record(mox_handle_private *priv, void *addr, uint32_t len,
                                      uint32_t db, void *owner) {
  JournalRecord rec;
  rec.entry.addr = addr;
  rec.entry.len = len;
  rec.entry.db = db;
  rec.entry.owner = owner;
  if (addr && len) {
    const auto *p = static_cast<const uint8_t *>(addr);
    rec.before.assign(p, p + len);
  }
  priv->journal.push_back(std::move(rec));
}

[[gnu::noinline]] void first_write_notify(mox_handle_t *h, void *addr, uint32_t len, uint32_t db,
                                          void *owner) {
  list_thread_calls();  // counts this call
  if (h && h->priv && h->priv->journal_on) journal_record(h->priv, addr, len, db, owner);
}

}  // namespace

// Called for every store.  With the journal off it counts itself and
// returns without a stack frame: the first call on a thread (which lists the
// thread's call counter) and the recording are tail calls out of line.
void default_write_notify(mox_handle_t *h, void *addr, uint32_t len, uint32_t db, void *owner) {
  ThreadCalls &c = tls_calls;
  if (!c.listed) [[unlikely]]
    return first_write_notify(h, addr, len, db, owner);
  bump(c);
  if (!h || !h->priv || !h->priv->journal_on) [[likely]] return;
  journal_record(h->priv, addr, len, db, owner);
}

}  // namespace mox_rt

extern "C" {

MOX_API void mox_journal_enable(mox_handle_t *h, uint32_t on) {
  if (h && h->priv) h->priv->journal_on = on != 0;
}

MOX_API uint32_t mox_journal_enabled(const mox_handle_t *h) {
  return h && h->priv && h->priv->journal_on ? 1u : 0u;
}

MOX_API void mox_journal_clear(mox_handle_t *h) {
  if (h && h->priv) h->priv->journal.clear();
}

MOX_API uint32_t mox_journal_count(const mox_handle_t *h) {
  return h && h->priv ? static_cast<uint32_t>(h->priv->journal.size()) : 0u;
}

MOX_API int mox_journal_get(const mox_handle_t *h, uint32_t i, mox_journal_entry_t *out) {
  if (!h || !h->priv || i >= h->priv->journal.size() || !out) return 0;
  const auto &rec = h->priv->journal[i];
  *out = rec.entry;
  out->before = rec.before.empty() ? nullptr : rec.before.data();
  return 1;
}

MOX_API int mox_journal_covers(const mox_handle_t *h, const void *addr, uint32_t len) {
  if (!h || !h->priv) return 0;
  if (len == 0) return 1;
  // Merge the announced ranges that touch [addr, addr+len) and walk them in order.
  const auto lo = reinterpret_cast<uintptr_t>(addr);
  const uintptr_t hi = lo + len;
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  for (const auto &rec : h->priv->journal) {
    const auto a = reinterpret_cast<uintptr_t>(rec.entry.addr);
    const uintptr_t b = a + rec.entry.len;
    if (b > lo && a < hi) ranges.emplace_back(a, b);
  }
  std::sort(ranges.begin(), ranges.end());
  uintptr_t covered = lo;
  for (const auto &[a, b] : ranges) {
    if (a > covered) break;
    covered = std::max(covered, b);
    if (covered >= hi) return 1;
  }
  return covered >= hi;
}

}  // extern "C"
