// The module list root: a tail queue with a count that data modules link
// their module node into at load time and unlink at unload.  It is constant-
// initialized, so a module constructor that runs before any of the runtime's
// own initializers still finds a valid empty list.
#include "internal.h"

extern "C" {

MOX_API mox_module_root_t mox_module_tot_root = {0, nullptr, &mox_module_tot_root.first};

}  // extern "C"
