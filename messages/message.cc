// The message engine: create, destroy, wire framing with the domain and
// bundle checks, decode with recording and dispatch, text and XML forms.
// Every message operation of the module is one call of these, with the
// catalogue's message descriptor.
#include "messages/message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/conventions.h"
#include "serial/print.h"
#include "serial/wire.h"
#include "serial/xml.h"
#include "types/lifecycle.h"

namespace orva {

extern const quill_section_desc_t kSection0;
extern const uint32_t *const kSection0Levels;

namespace {

constexpr uint32_t kEBADMSG = 74;  // a frame that is not one well-formed message

const char *text_of(uint32_t code) { return std::strerror(static_cast<int>(code)); }

// Emits the call site's own entry of section 0, with its catalogue level.
struct Site {
  uint32_t index, level;
  uint16_t module;
};
Site site(const MessageDesc &m, MsgSite s) {
  trace_init();
  uint16_t i = m.sites[static_cast<size_t>(s)];
  return {i, kSection0Levels[i], g_mox_orva_qos_data_trace_module_id};
}
void emit(const MessageDesc &m, MsgSite s) {
  Site x = site(m, s);
  __QLf_0(&kSection0, x.index, x.module, x.level);
}
void emit(const MessageDesc &m, MsgSite s, const char *a) {
  Site x = site(m, s);
  __QLf_1(&kSection0, x.index, x.module, x.level, a);
}
void emit(const MessageDesc &m, MsgSite s, const char *a, const char *b) {
  Site x = site(m, s);
  __QLf_11(&kSection0, x.index, x.module, x.level, a, b);
}
void emit(const MessageDesc &m, MsgSite s, const char *a, const char *b, const char *c) {
  Site x = site(m, s);
  __QLf_111(&kSection0, x.index, x.module, x.level, a, b, c);
}
void emit(const MessageDesc &m, MsgSite s, uint32_t a) {
  Site x = site(m, s);
  __QLf_4(&kSection0, x.index, x.module, x.level, a);
}
void emit(const MessageDesc &m, MsgSite s, uint32_t a, uint32_t b) {
  Site x = site(m, s);
  __QLf_44(&kSection0, x.index, x.module, x.level, a, b);
}
[[noreturn]] void stop(const MessageDesc &m, MsgSite s) {
  emit(m, s);
  std::abort();
}

MessageObj *obj(void *msg) { return static_cast<MessageObj *>(msg); }
const MessageObj *obj(const void *msg) { return static_cast<const MessageObj *>(msg); }

// The handle's state-tracking mode; a corrupt mode word stops the process.
bool tracked(const MessageDesc &m, const mox_handle_t *h) {
  if (h->sttr_config == nullptr) return false;
  switch (h->sttr_config->word[MOX_STTR_MODE_WORD]) {
    case MOX_STTR_ON:
      return true;
    case MOX_STTR_OFF:
      return false;
    default:
      stop(m, MsgSite::CorruptHandle);
  }
}

// Counts a creation or a destruction in the statistics of the message's
// variant 0, with the checks of its variant information; each of the two
// has its own trace sites.
void count(const MessageDesc &m, mox_handle_t *h, uint32_t db, const mox_type_info_t *ti, bool created) {
  const mox_variant_info_t *vi = ti->variant_info;
  if (vi == nullptr) stop(m, created ? MsgSite::VarinfoNull : MsgSite::VarinfoNullDestroy);
  int32_t variants = static_cast<int8_t>(vi->count_word & 0xFF);
  if (variants < 0)
    emit(m, created ? MsgSite::VariantExcess : MsgSite::VariantExcessDestroy, 0u,
         static_cast<uint32_t>(variants));
  uint32_t local = 0;
  if (created)
    moxlib_type_stats_create_object(h, db, ti, &vi->entries[0].stats, &local);
  else
    moxlib_type_stats_destroy_object(h, db, ti, &vi->entries[0].stats, &local);
  if (local != 0) emit(m, created ? MsgSite::StatsFailed : MsgSite::StatsFailedDestroy, text_of(local));
}

template <class T>
void put(mox_handle_t *h, uint32_t db, void *msg, T *dst, T value) {
  store(h, db, dst, value, msg);
}

}  // namespace

void *message_create(const MessageDesc &m, mox_handle_t *h, uint32_t db, bool shallow) {
  trace_init();
  const bool cr = h->cr_mode != 0;
  if (cr && h->last_error != 0) return m.placeholder;
  const bool on = tracked(m, h);
  void *block = h->record_alloc(h->record_heap, db, sizeof(MessageObj));
  if (block == nullptr) {
    if (cr && h->last_error == 0) mox_store_err(h, kENOMEM);
    return cr ? m.placeholder : nullptr;
  }
  void *payload = nullptr;
  if (!shallow) {
    payload = record_create(*m.payload, h, db);
    if (payload == nullptr || payload == m.payload->placeholder) {
      h->record_free(h->record_heap, db, block);
      if (cr && h->last_error == 0) mox_store_err(h, kENOMEM);
      return cr ? m.placeholder : nullptr;
    }
  }
  MessageObj *o = obj(block);
  MessageObj init{};
  init.tinfo = placed_type_info(h, db, m.ti);
  init.flags = on ? MOX_FLAG_STATE_TRACKED : 0;
  init.header.version = MOX_MSG_HEADER_VERSION;
  std::memset(init.header.marker, 0xFF, sizeof init.header.marker);
  init.header.sttr = on ? 1 : 0;
  init.payload = payload;
  announce(h, o, sizeof *o, db, o);
  std::memcpy(o, &init, sizeof *o);
  count(m, h, db, static_cast<const mox_type_info_t *>(o->tinfo), true);
  return o;
}

void *message_create_cr(const MessageDesc &m, mox_handle_t *h) {
  h->cr_mode = 1;
  void *msg = message_create(m, h, h->current_db, false);
  h->cr_mode = 0;
  return msg;
}

void message_destroy(const MessageDesc &m, mox_handle_t *h, uint32_t db, void *msg) {
  if (msg == nullptr || msg == m.placeholder) return;
  MessageObj *o = obj(msg);
  if (o->payload != nullptr) {
    record_destroy(*m.payload, h, db, o->payload);
    put<void *>(h, db, o, &o->payload, nullptr);
  }
  const mox_type_info_t *ti = static_cast<const mox_type_info_t *>(o->tinfo);
  if (ti == nullptr || ti->magic != MOX_TYPE_INFO_MAGIC) stop(m, MsgSite::TinfoCorrupt);
  count(m, h, db, ti, false);
  put<void *>(h, db, o, &o->tinfo, nullptr);
  h->record_free(h->record_heap, db, o);
}

uint32_t message_len(const MessageDesc &m, mox_handle_t *h, uint32_t db, const void *msg) {
  if (msg == nullptr) return 0;
  const void *p = obj(msg)->payload;
  return kMessagePrefix + (p != nullptr ? record_len(*m.payload, h, db, p) : 0);
}

void *message_payload_get(const MessageDesc &m, mox_handle_t *, uint32_t, void *msg,
                          uint32_t *err) {
  if (*err != 0 || msg == nullptr) {
    emit(m, MsgSite::GetError, text_of(*err));
    return nullptr;
  }
  return obj(msg)->payload;
}

uint32_t message_marshal(const MessageDesc &m, mox_handle_t *h, uint32_t db, uint8_t *buf,
                         void *msg, int32_t buflen, uint32_t *err) {
  if (*err != 0) {
    emit(m, MsgSite::MarshalError, text_of(*err));
    return 0;
  }
  mox_clear_last_error(h);
  if (msg == nullptr || obj(msg)->payload == nullptr || (buf == nullptr && buflen > 0)) {
    fail(h, err, kENOENT);
    return 0;
  }
  if (!mox_domain_lookup_message_ok(h, &h->domain, m.ti, err)) {
    emit(m, MsgSite::DomainFail, m.name, m.ti->luid_text, mox_domain_name(&h->domain));
    mox_store_epoch_err(h, kEBADE, err);
    return 0;
  }
  const bool bundle = mox_bundle_is_open(h) != 0;
  if (bundle) {
    uint32_t rc = bundle_message_validate_add(h, db, m.luid, m.wire_name, err);
    if (rc != 0) {
      emit(m, MsgSite::BundleInvalid, m.name, text_of(rc));
      return 0;
    }
  } else if (*err != 0) {
    return 0;
  }
  uint32_t pos = 0;
  if (buflen < static_cast<int32_t>(kMessageHeaderSize)) {
    fail(h, err, kEMSGSIZE);
  } else {
    std::memset(buf, 0, kMessageHeaderSize);
    pos = kMessageHeaderSize;
    if (buflen - static_cast<int32_t>(pos) >= 16) {
      std::memcpy(buf + pos, m.luid, 16);
      pos = kMessagePrefix;
    } else {
      fail(h, err, kEMSGSIZE);
    }
  }
  const bool header_room = pos >= kMessageHeaderSize;
  uint32_t total = pos;
  if (*err == 0)
    total += record_marshal(*m.payload, h, db, buf + pos, obj(msg)->payload,
                            buflen - static_cast<int32_t>(pos), 1, err);
  if (*err != 0) {
    emit(m, moxlib_suppress_messages_enabled(h) ? MsgSite::MarshalFailedDetail : MsgSite::MarshalFailed,
         m.name, text_of(*err));
    return total;
  }
  if (bundle) {
    uint32_t rc = bundle_message_increment_count(h, m.luid, err);
    if (rc != 0) emit(m, MsgSite::BundleCount, m.name, text_of(rc));
  }
  if (header_room && *err == 0) {
    MessageObj *o = obj(msg);
    put(h, db, o, &o->header.handle_word, h->handle_word);
    put(h, db, o, &o->header.encoded_length, total);
    _mox_message_header_marshal(h, db, buf, &o->header, kMessageHeaderSize, err);
  }
  return total;
}

uint32_t message_unmarshal_only(const MessageDesc &m, mox_handle_t *h, uint32_t db, void **out,
                                const uint8_t *buf, int32_t len, uint32_t *err) {
  if (*err != 0) {
    emit(m, MsgSite::UnmarshalOnlyError, m.name, text_of(*err));
    return 0;
  }
  mox_clear_last_error(h);
  if (out == nullptr || (buf == nullptr && len > 0)) {
    fail(h, err, kENOENT);
    return 0;
  }
  MessageObj *o = obj(message_create(m, h, db, true));
  if (o == nullptr || o == m.placeholder) {
    fail(h, err, kENOMEM);
    return 0;
  }
  mox_msg_header_t hdr{};
  uint32_t pos = _mox_message_header_unmarshal(h, db, buf, &hdr, len, err);
  if (*err == 0) {
    announce(h, &o->header, sizeof hdr, db, o);
    o->header = hdr;
    // The identifier is skipped: the bundle layer chose this module by it.
    // The header's encoded length bounds the frame: a frame longer than the
    // input is cut, one shorter than header and identifier is malformed.
    if (hdr.encoded_length > static_cast<uint32_t>(len)) fail(h, err, kEMSGSIZE);
    else if (hdr.encoded_length < kMessagePrefix) fail(h, err, kEBADMSG);
    else pos += 16;
  }
  void *payload = record_create(*m.payload, h, db);
  if (payload == nullptr) {
    if (*err == 0) fail(h, err, kENOMEM);
  } else {
    put(h, db, o, &o->payload, payload);
    if (*err == 0)
      pos += record_unmarshal(*m.payload, h, db, buf + pos, payload,
                              static_cast<int32_t>(hdr.encoded_length - pos), 0, err);
    // A payload that ends before the frame does: the frame is not one message.
    if (*err == 0 && pos != hdr.encoded_length) fail(h, err, kEBADMSG);
  }
  *out = o;
  return pos;
}

namespace {

// Writes the decoded message as one time-stamped XML document to the
// recorder's file.  Failures are traced; the caller's slot and last error
// stay as they were.
void record(const MessageDesc &m, mox_handle_t *h, uint32_t db, const void *msg) {
  char *text = static_cast<char *>(moxlib_malloc(kRecordBufferSize));
  if (text == nullptr) stop(m, MsgSite::RecordMalloc);
  const uint32_t saved = h->last_error;
  const int32_t room = static_cast<int32_t>(kRecordBufferSize);
  uint32_t local = 0;
  uint32_t pos = start_tag_timestamp(h, db, text, "orva_qos_data", room, &local);
  if (local == 0)
    pos += message_to_xml(m, h, db, text + pos, msg, room - static_cast<int32_t>(pos), &local);
  if (local == 0) pos += end_tag(h, db, text + pos, "orva_qos_data", room - static_cast<int32_t>(pos), &local);
  if (local == 0) {
    if (pos + 1 < kRecordBufferSize) text[pos++] = '\n';  // one document a line
    if (FILE *f = moxlib_msg_recorder_get_handle(); f != nullptr)
      std::fwrite(text, 1, pos, f);
    else
      emit(m, MsgSite::RecordNoFile);
  } else {
    emit(m, MsgSite::RecordNotWritten, local, pos);
  }
  moxlib_free(text);
  if (local != 0) emit(m, MsgSite::RecordFailed, local);
  h->last_error = saved;
}

}  // namespace

uint32_t message_unmarshal(const MessageDesc &m, mox_handle_t *h, uint32_t db, void *context,
                           void **out, const uint8_t *buf, int32_t len, MessageHandler handler,
                           uint32_t *err) {
  if (*err != 0) {
    emit(m, MsgSite::UnmarshalError, m.name, text_of(*err));
    return 0;
  }
  mox_clear_last_error(h);
  if (out != nullptr) *out = nullptr;
  void *msg = nullptr;
  uint32_t n = message_unmarshal_only(m, h, db, &msg, buf, len, err);
  if (*err != 0) {
    message_destroy(m, h, db, msg);
    return n;
  }
  if (out != nullptr) *out = msg;
  if (moxlib_msg_recorder_get_state()) record(m, h, db, msg);
  if (handler == nullptr) handler = m.process_handler;
  if (handler != nullptr) {
    m.invoke(handler, h, db, context, msg, err);
  } else {
    fail(h, err, kENOSYS);
    emit(m, MsgSite::DefaultHandler);
    if (out == nullptr) message_destroy(m, h, db, msg);
  }
  return n;
}

uint32_t message_print(const MessageDesc &m, mox_handle_t *h, uint32_t db, char *buf,
                       const void *msg, int32_t buflen, uint32_t *err) {
  if (*err != 0) {
    emit(m, MsgSite::PrintError, text_of(*err));
    return 0;
  }
  mox_clear_last_error(h);
  if (buf == nullptr || msg == nullptr || obj(msg)->payload == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  if (buflen <= 0) {
    fail(h, err, kEMSGSIZE);
    return 0;
  }
  uint32_t pos = mox_snprintf(h, db, buf, buflen, err, "message@%s: {\n", m.name);
  if (*err != 0) {
    if (*err != kEMSGSIZE) fail(h, err, kEMSGSIZE);
    return pos;
  }
  pos += record_print(*m.payload, h, db, buf + pos, 2, m.payload->name, obj(msg)->payload,
                      buflen - static_cast<int32_t>(pos), err);
  if (*err == 0) pos += mox_snprintf(h, db, buf + pos, buflen - static_cast<int32_t>(pos), err, "}\n");
  return pos;
}

uint32_t message_to_xml(const MessageDesc &m, mox_handle_t *h, uint32_t db, char *buf,
                        const void *msg, int32_t buflen, uint32_t *err) {
  if (*err != 0) {
    emit(m, MsgSite::ToXmlError, text_of(*err));
    return 0;
  }
  mox_clear_last_error(h);
  if (buf == nullptr || msg == nullptr || obj(msg)->payload == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  uint32_t pos = start_tag(h, db, buf, m.name, buflen, 0, err);
  if (*err == 0)
    pos += record_to_xml(*m.payload, h, db, m.payload->name, buf + pos, obj(msg)->payload,
                         buflen - static_cast<int32_t>(pos), 0, err);
  if (*err == 0) pos += end_tag(h, db, buf + pos, m.name, buflen - static_cast<int32_t>(pos), err);
  return pos;
}

void *message_from_xml(const MessageDesc &m, mox_handle_t *h, uint32_t db, mox_xml_doc_t *doc,
                       uint32_t *err, char *msgbuf, uint32_t msglen) {
  if (*err != 0) {
    emit(m, MsgSite::FromXmlError, text_of(*err));
    return nullptr;
  }
  mox_clear_last_error(h);
  void *msg = message_create(m, h, db, false);
  if (msg == nullptr || msg == m.placeholder) {
    fail(h, err, kENOMEM);
    return nullptr;
  }
  char path[80];
  std::snprintf(path, sizeof path, "//%s", m.payload->name);
  record_from_xml(*m.payload, h, db, path, doc, obj(msg)->payload, err, msgbuf, msglen);
  if (*err == kENOENT) {
    *err = 0;
    mox_clear_last_error(h);
  } else if (*err != 0) {
    message_destroy(m, h, db, msg);
    return nullptr;
  }
  return msg;
}

}  // namespace orva
