// The catalogue's descriptors and the module's static type-info records,
// generated from types/catalogue.qos.
#include <iterator>

#include "frame/conventions.h"
#include "frame/descriptors.h"

#include "catalogue_tables.inc"
