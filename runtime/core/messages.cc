// Services for message encoders and decoders: the message recorder, the
// per-handle suppression of marshal-failure messages and the handle's open
// message bundle.
#include <atomic>
#include <cstdio>
#include <string>

#include "core/handle_private.h"

namespace {

std::atomic<FILE *> recorder_file{nullptr};
std::atomic<bool> recorder_on{false};

std::string key_of(const uint8_t *luid) { return std::string(reinterpret_cast<const char *>(luid), 16); }

}  // namespace

extern "C" {

MOX_API void mox_msg_recorder_set(FILE *file, uint32_t on) {
  MOX_RT_ENTER();
  recorder_file = file;
  recorder_on = on != 0;
}

MOX_API uint32_t moxlib_msg_recorder_get_state(void) {
  MOX_RT_ENTER();
  return recorder_on ? 1u : 0u;
}

MOX_API FILE *moxlib_msg_recorder_get_handle(void) {
  MOX_RT_ENTER();
  return recorder_file;
}

MOX_API void mox_handle_set_suppress_messages(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (h && h->priv) h->priv->suppress_messages = on != 0;
}

MOX_API uint32_t moxlib_suppress_messages_enabled(mox_handle_t *h) {
  MOX_RT_ENTER();
  return h && h->priv && h->priv->suppress_messages ? 1u : 0u;
}

MOX_API void mox_bundle_open(mox_handle_t *h) {
  MOX_RT_ENTER();
  if (!h || !h->priv) return;
  h->priv->bundle_open = true;
  h->priv->bundle_messages.clear();
}

MOX_API void mox_bundle_close(mox_handle_t *h) {
  MOX_RT_ENTER();
  if (!h || !h->priv) return;
  h->priv->bundle_open = false;
  h->priv->bundle_messages.clear();
  h->priv->bundle_refused.clear();
}

MOX_API uint32_t mox_bundle_is_open(const mox_handle_t *h) {
  MOX_RT_ENTER();
  return h && h->priv && h->priv->bundle_open ? 1u : 0u;
}

MOX_API void mox_bundle_refuse_message(mox_handle_t *h, const uint8_t *luid) {
  MOX_RT_ENTER();
  if (h && h->priv && luid) h->priv->bundle_refused[key_of(luid)] = true;
}

// 0 when the message may go into the open bundle (it is then listed with no
// instances yet); 22 with no open bundle, a null luid or a refused message.
MOX_API uint32_t bundle_message_validate_add(mox_handle_t *h, uint32_t db, const uint8_t *luid,
                                             const char *what, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return *err;
  if (!h || !h->priv || !h->priv->bundle_open || !luid || h->priv->bundle_refused.count(key_of(luid))) {
    mox_rt::fail(h, err, 22);
    return 22;
  }
  h->priv->bundle_messages.emplace(key_of(luid), 0);
  return 0;
}

// 0 after counting one more instance; 2 when the message was never added.
MOX_API uint32_t bundle_message_increment_count(mox_handle_t *h, const uint8_t *luid,
                                                uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return *err;
  if (!h || !h->priv || !luid) {
    mox_rt::fail(h, err, 22);
    return 22;
  }
  auto it = h->priv->bundle_messages.find(key_of(luid));
  if (it == h->priv->bundle_messages.end()) {
    mox_rt::fail(h, err, 2);
    return 2;
  }
  ++it->second;
  return 0;
}

MOX_API uint32_t mox_bundle_message_count(const mox_handle_t *h, const uint8_t *luid) {
  MOX_RT_ENTER();
  if (!h || !h->priv || !luid) return 0;
  auto it = h->priv->bundle_messages.find(key_of(luid));
  return it == h->priv->bundle_messages.end() ? 0 : it->second;
}

}  // extern "C"
