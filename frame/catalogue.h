// Access to the generated catalogue: every record type and enumeration.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"

namespace orva {

extern const TypeDesc *const kTypes[];
extern const uint32_t kTypeCount;
extern const EnumDesc *const kEnums[];
extern const uint32_t kEnumCount;

}  // namespace orva
