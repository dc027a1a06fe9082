// Error services: the handle's last_error and the domain (epoch) error.
#include "internal.h"

extern "C" {

MOX_API void mox_clear_last_error(mox_handle_t *h) {
  MOX_RT_ENTER();
  if (h) h->last_error = 0;
}

MOX_API void mox_store_err(mox_handle_t *h, uint32_t code) {
  MOX_RT_ENTER();
  if (h) h->last_error = code;
}

// A domain error is always kept on the handle; with epoch_defer set the
// caller's slot stays clear so that a batch of operations can go on and the
// caller decides afterwards from epoch_error.
MOX_API void mox_store_epoch_err(mox_handle_t *h, uint32_t code, uint32_t *slot) {
  MOX_RT_ENTER();
  if (h) {
    h->last_error = code;
    h->epoch_error = code;
  }
  if (slot && !(h && h->epoch_defer)) *slot = code;
}

}  // extern "C"
