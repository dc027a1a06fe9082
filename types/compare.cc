// Placeholder: filled in by the engine.
#include "types/compare.h"

namespace orva {
int32_t record_compare(const TypeDesc &t, const void *a, const void *b) { return {}; }

}  // namespace orva
