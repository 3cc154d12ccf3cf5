// The composite identity functions that cy_is_for returns (Python entries only).
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

extern const FunctionSpec is_struct_spec, is_variant_spec;  // identity_records.cpp
extern const FunctionSpec is_recursive_spec;                // recursive_forwarders.cpp

}  // namespace vorn::sortkit
