// Table records: create, references, destroy, and the records they carry.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tables/internal.h"
#include "types/lifecycle.h"

namespace orva {

namespace {
constexpr uint32_t kRefMask = (1u << 24) - 1;
}  // namespace

template <const TableDesc &D>
void *trec_create(mox_handle_t *h, uint32_t db, uint8_t source, uint32_t *err) {
  trace_init();
  void *rec = h->record_alloc(h->record_heap, db, sizeof(Rec<D>));
  if (rec == nullptr) {
    if (h->cr_mode == 0) return nullptr;
    if (h->last_error == 0) mox_store_err(h, kENOMEM);
    rec = D.placeholder;
  }
  announce(h, rec, sizeof(Rec<D>), db);
  std::memset(rec, 0, sizeof(Rec<D>));
  mox_db_table_record_t &r = head(rec);
  r.tinfo = placed_type_info(h, db, D.record_ti);
  uint32_t code = table_stats(D, h, db, r.tinfo, MOX_STATS_CREATE);
  if (code != 0 || rec != D.placeholder) *err = code;  // the placeholder keeps its 12
  if (code != 0) ttrace(D, TMsg::RecordStats, errtext(code));
  r.source = source;
  r.ref_word = 1;
  r.tenant = mt_get_tenant_id(h);
  if (h->containment_enabled) moxdb_record_containment(h, db, MOX_CONTAIN_TABLE_RECORD, rec, nullptr, 1);
  if (platform_announces(h, db)) moxdb_plat_set_dirty(h, db, rec);
  return rec;
}

template <const TableDesc &D>
void *trec_create_cr(mox_handle_t *h, uint32_t with_data) {
  const uint32_t db = h->current_db;
  h->cr_mode = 1;
  void *rec = trec_create<D>(h, db, 1, &h->last_error);
  if (with_data) {
    trec_set_field<D>(h, db, rec, record_create_cr(*D.data, h), 0, 0);
    if constexpr (D.composite) trec_set_field<D>(h, db, rec, record_create_cr(*D.key_record, h), 1, 0);
  }
  h->cr_mode = 0;
  return rec;
}

template <const TableDesc &D>
void *trec_request_destroy(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t *err) {
  if (!enter(h, err)) return rec;
  if (table == nullptr || rec == nullptr) {
    ttrace(D, TMsg::RequestInvalid);
    fail(h, err, kEINVAL);
    return rec;
  }
  const mox_db_table_t *owner = head(rec).table;
  if (owner == nullptr) {
    ttrace(D, TMsg::RequestNoTable);
    fail(h, err, kENOENT);
    return rec;
  }
  if (owner != table) {
    ttrace(D, TMsg::RequestMismatch);
    fail(h, err, kEFAULT);
    return rec;
  }
  uint32_t local = 0;
  moxdb_request_record_destroy(h, db, rec, trec_destroy<D>, &local);
  if (local != 0) {
    ttrace(D, TMsg::RequestFailed, local);
    fail(h, err, local);
    return rec;
  }
  return nullptr;
}

template <const TableDesc &D>
uint32_t trec_request_destroy_cr(mox_handle_t *h, void *table, void *rec, void **result) {
  void *r = trec_request_destroy<D>(h, h->current_db, table, rec, &h->last_error);
  if (result != nullptr) *result = r;
  return h->last_error;
}

template <const TableDesc &D>
void pkey_destroy(mox_handle_t *h, uint32_t db, void *key) {
  record_destroy(D.composite ? *D.key_record : *D.data, h, db, key);
}

uint32_t trec_add_ref(mox_handle_t *h, uint32_t db, void *rec, uint32_t *err) {
  if (rec == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  uint32_t count = head(rec).ref_word & kRefMask;
  if (count == kRefMask) {
    std::fputs("Assertion `((1 << 24) - 1) != __ref_cnt' failed\n", stderr);
    std::abort();
  }
  dstore(h, db, &head(rec).ref_word, count + 1);
  return count;
}

template <const TableDesc &D>
void trec_destroy(mox_handle_t *h, uint32_t db, void *rec, uint32_t *err) {
  if (*err != 0) return;
  if (rec == nullptr) {
    fail(h, err, kENOENT);
    return;
  }
  mox_db_table_record_t &r = head(rec);
  const uint32_t word = r.ref_word;
  dstore(h, db, &r.ref_word, (word & ~kRefMask) | (((word & kRefMask) - 1) & kRefMask));
  if ((r.ref_word & kRefMask) != 0) return;
  if (r.table != nullptr && !(r.flags & MOX_REC_NO_DELETE)) {
    uint32_t local = 0;
    table_delete<D>(h, db, r.table, rec, 0, &local);
    if (local != 0) {
      // A record still linked in its tree is never freed: it keeps one
      // reference, and a later destroy tries the delete again.
      ttrace(D, TMsg::DestroyDelete, local);
      dstore(h, db, &r.ref_word, word);
      fail(h, err, local);
      return;
    }
  }
  for (uint32_t slot : {0u, 1u}) {
    if (slot == 1 && !D.composite) break;
    void *obj = *slot_of<D>(rec, slot);
    if (obj != nullptr) record_destroy(slot == 0 ? *D.data : *D.key_record, h, db, obj);
  }
  if (r.tinfo == nullptr || r.tinfo->magic != MOX_TYPE_INFO_MAGIC) tabort(D, TMsg::RecordTinfo);
  uint32_t code = table_stats(D, h, db, r.tinfo, MOX_STATS_DESTROY);
  *err = code;
  if (code != 0) ttrace(D, TMsg::DestroyStats, errtext(code));
  if ((r.flags & MOX_REC_HD_MAPPED) && h->hd_mapping_enabled) {
    uint32_t local = 0;
    mox_hd_mapping_destroy(h, db, rec, &local);
    if (local != 0) {
      ttrace(D, TMsg::DestroyHd, errtext(local));
      mox_store_err(h, local);
      return;
    }
  }
  if (r.loc_entry != 0) {
    uint32_t local = 0;
    moxlib_record_dereference_loc(h, db, &r.loc_entry, &local);
    if (local != 0) {
      ttrace(D, TMsg::DestroyLoc, errtext(local));
      return;
    }
  }
  dstore(h, db, &r.tinfo, static_cast<mox_type_info_t *>(nullptr));
  if (rec != D.placeholder) h->record_free(h->record_heap, db, rec);
}

template <const TableDesc &D>
void *trec_get_field(mox_handle_t *h, uint32_t db, void *rec, uint32_t slot) {
  if (rec == nullptr) return nullptr;
  void *obj = *slot_of<D>(rec, slot);
  if (h->containment_enabled && obj != nullptr)
    moxdb_record_containment(h, db, MOX_CONTAIN_DATA_RECORD, obj, rec, 1);
  return obj;
}

template <const TableDesc &D>
void trec_set_field(mox_handle_t *h, uint32_t db, void *rec, void *obj, uint32_t slot,
                      uint32_t free_previous) {
  if (rec == nullptr) return;
  if (uint32_t code = moxlib_validate_object_flags(h, obj, 1, 1); code != 0) {
    ttrace(D, free_previous ? TMsg::FreeSetRefused : TMsg::SetFieldRefused);
    mox_store_err(h, code);
    return;
  }
  const TypeDesc &t = slot == 0 ? *D.data : *D.key_record;
  void **dst = slot_of<D>(rec, slot);
  if (free_previous && *dst != nullptr) record_destroy(t, h, db, *dst);
  if (h->containment_enabled) moxdb_record_containment(h, db, MOX_CONTAIN_DATA_RECORD, obj, rec, 1);
  dstore(h, db, dst, obj);
  if (obj != nullptr) record_set_instance_embedded(t, h, db, obj);
}

#define ORVA_TABLE_RECORDS(N)                                                                   \
  template void *trec_create_cr<k_##N>(mox_handle_t *, uint32_t);                               \
  template void *trec_request_destroy<k_##N>(mox_handle_t *, uint32_t, void *, void *, uint32_t *); \
  template uint32_t trec_request_destroy_cr<k_##N>(mox_handle_t *, void *, void *, void **);     \
  template void pkey_destroy<k_##N>(mox_handle_t *, uint32_t, void *);                          \
  template void *trec_create<k_##N>(mox_handle_t *, uint32_t, uint8_t, uint32_t *);           \
  template void trec_destroy<k_##N>(mox_handle_t *, uint32_t, void *, uint32_t *);            \
  template void *trec_get_field<k_##N>(mox_handle_t *, uint32_t, void *, uint32_t);            \
  template void trec_set_field<k_##N>(mox_handle_t *, uint32_t, void *, void *, uint32_t,     \
                                        uint32_t);
ORVA_EACH_TABLE(ORVA_TABLE_RECORDS)

}  // namespace orva
