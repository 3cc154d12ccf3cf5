// The ordering module's chief header: the scalar orders shared by the comparers,
// equality and identity functions, and what every file of the module uses.
#pragma once

#include "common/function.hpp"
#include "common/recursion.hpp"
#include "common/ref.hpp"
#include "common/strings.hpp"
#include "vorn/utils/closures.hpp"
#include "vorn/utils/kinds.hpp"
#include "vorn/utils/module_state.hpp"
#include "vorn/utils/scalar_orders.hpp"
