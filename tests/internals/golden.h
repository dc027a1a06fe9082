// The three deep records the golden files hold (their printed text and their
// XML), built the same way by every test and tool that compares against them:
//
//   "qos_client_data_t"      variant 1, call records in the dynamic array,
//                            both tclas_set elements
//   "qos_global_statistics"  every counter set
//   "qos_policy_content"     a class-map list with two entries
//
// golden_record creates and fills one (fill_record with a fixed seed) on h,
// in tracking mode when h tracks state; the caller destroys it.
// Its files are tests/golden/<type>.txt and <type>.xml.
// When ORVA_UPDATE_GOLDEN=1 is in the environment, golden_compare rewrites
// the file instead of comparing:
//
//   ORVA_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
#pragma once

#include <string>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva_test {

inline constexpr const char *kGoldenTypes[] = {"qos_client_data_t", "qos_global_statistics",
                                               "qos_policy_content"};

const orva::TypeDesc &type_named(const std::string &name);
void *golden_record(const std::string &type, mox_handle_t *h);
// Compares text with the golden file (a gtest failure showing the
// differing lines), or rewrites the file under ORVA_UPDATE_GOLDEN=1.
void golden_compare(const std::string &type, const char *extension, const std::string &text);

}  // namespace orva_test
