// The message engine: one implementation of the message operations, driven
// by the catalogue's message descriptor (generated into exports.inc as
// orva::k_message).  The exported names are one-line wrappers over these.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace orva {

// The message object: header, the sixteen header fields, the payload.
struct MessageObj {
  MOX_OBJ_HEADER;
  mox_msg_header_t header;
  void *payload;
};

// A message handler as the engine keeps it: opaque, since its parameter is
// the message's own C type.  The descriptor's invoke casts it back to that
// type and calls it (a call through another function type is undefined).
using MessageHandler = void (*)();
using MessageInvoke = void (*)(MessageHandler fn, mox_handle_t *h, uint32_t db, void *context,
                               void *msg, uint32_t *err);

// Call sites of the message code, each with its own entry in trace section 0.
enum class MsgSite : uint8_t {
  VarinfoNull,  // create and create_shallow (one code path)
  VariantExcess,
  StatsFailed,
  VarinfoNullDestroy,
  VariantExcessDestroy,
  StatsFailedDestroy,
  CorruptHandle,
  TinfoCorrupt,
  GetError,
  MarshalError,
  DomainFail,
  BundleInvalid,
  MarshalFailedDetail,
  MarshalFailed,
  BundleCount,
  UnmarshalError,
  RecordFailed,
  DefaultHandler,
  UnmarshalOnlyError,
  RecordMalloc,
  RecordNoFile,
  RecordNotWritten,
  PrintError,
  ToXmlError,
  FromXmlError,
  Count
};

struct MessageDesc {
  const char *name;            // "qos_client_data"
  const char *wire_name;       // "message qos_client_data": names it to the bundle registry
  mox_type_info_t *ti;
  const uint8_t *luid;         // the 16-byte identifier after the wire header
  const TypeDesc *payload;
  void *placeholder;           // what a failed _cr create returns
  const uint16_t *sites;       // section-0 index per MsgSite
  MessageHandler process_handler;  // the owning process's handler; null when absent
  MessageInvoke invoke;            // calls a handler with its own type
};

// Bytes in front of the payload: the wire header, then the identifier.
constexpr uint32_t kMessageHeaderSize = MOX_MSG_HEADER_WIRE_SIZE;
constexpr uint32_t kMessagePrefix = kMessageHeaderSize + 16;
// Room for the recording of one decoded message.
constexpr uint32_t kRecordBufferSize = 65536;

void *message_create(const MessageDesc &m, mox_handle_t *h, uint32_t db, bool shallow);
void *message_create_cr(const MessageDesc &m, mox_handle_t *h);
void message_destroy(const MessageDesc &m, mox_handle_t *h, uint32_t db, void *msg);
uint32_t message_len(const MessageDesc &m, mox_handle_t *h, uint32_t db, const void *msg);
void *message_payload_get(const MessageDesc &m, mox_handle_t *h, uint32_t db, void *msg,
                          uint32_t *err);
uint32_t message_marshal(const MessageDesc &m, mox_handle_t *h, uint32_t db, uint8_t *buf,
                         void *msg, int32_t buflen, uint32_t *err);
uint32_t message_unmarshal_only(const MessageDesc &m, mox_handle_t *h, uint32_t db, void **out,
                                const uint8_t *buf, int32_t len, uint32_t *err);
uint32_t message_unmarshal(const MessageDesc &m, mox_handle_t *h, uint32_t db, void *context,
                           void **out, const uint8_t *buf, int32_t len, MessageHandler handler,
                           uint32_t *err);
uint32_t message_print(const MessageDesc &m, mox_handle_t *h, uint32_t db, char *buf,
                       const void *msg, int32_t buflen, uint32_t *err);
uint32_t message_to_xml(const MessageDesc &m, mox_handle_t *h, uint32_t db, char *buf,
                        const void *msg, int32_t buflen, uint32_t *err);
void *message_from_xml(const MessageDesc &m, mox_handle_t *h, uint32_t db, mox_xml_doc_t *doc,
                       uint32_t *err, char *msgbuf, uint32_t msglen);

}  // namespace orva
