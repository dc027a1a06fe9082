// Filling a record of any type with varied values, for round-trip, fuzz and
// benchmark tests.
//
//   void *rec = orva::record_create(t, h, MOX_NO_DB);
//   orva_test::fill_record(t, h, MOX_NO_DB, rec, 7);
//
// Every field the instance's variant has is set: integers and enumerations
// to values drawn from the seed, strings to texts of several lengths (the
// empty one included), MAC, IP (none, v4, v6) and time values, every element
// of every fixed array, nested records recursively, two to four elements of
// the dynamic array (through the accessor engine) and two to four entries of
// a list (created and appended through the list engine).  The count of the
// dynamic array is never written directly.  When the record is state-tracked,
// every state byte in its area (nested areas and the per-element state block
// included) gets a value from 0 to 3.  Equal seeds give equal records.
//
// Failures of the engines are reported as gtest failures.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva_test {

void fill_record(const orva::TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t seed);

// A valid value of a scalar field (integer, boolean, enumeration) drawn from
// r, within the field's width; the runtime's radio band starts at 1.
uint64_t scalar_value(const orva::FieldDesc &f, uint64_t r);

}  // namespace orva_test
