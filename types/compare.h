// The comparison engine: a total order over the records of every type.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"

namespace orva {

int32_t record_compare(const TypeDesc &t, const void *a, const void *b);

}  // namespace orva
