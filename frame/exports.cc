// The module's exported C operations: generated one-line wrappers that call
// the engines with the descriptor of their type or enumeration.
#include "frame/conventions.h"
#include "frame/registration.h"
#include "serial/enums.h"
#include "serial/print.h"
#include "serial/wire.h"
#include "serial/xml.h"
#include "types/accessors.h"
#include "types/class_map_list.h"
#include "types/compare.h"
#include "types/lifecycle.h"

#include "exports.inc"
