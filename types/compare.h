// The comparison engine: a total order over the records of every type.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"

namespace orva {

// The order of one type, instantiated over its descriptor (the exported
// T_compare calls it directly).
template <const TypeDesc &T>
int32_t type_compare(const void *a, const void *b);

int32_t record_compare(const TypeDesc &t, const void *a, const void *b);

}  // namespace orva
