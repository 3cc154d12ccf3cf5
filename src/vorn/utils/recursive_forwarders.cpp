// The forwarders of recursive types: each calls the function in its cell (state 0, a
// one-item list, filled once the inner type is built) with what it got, and returns
// its result as is.
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/identity_functions.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " in a recursive type";

// The Python entry of every forwarder (x, y, ctx=None).
PyObject* forward_recursive(NativeFunction* self, PyObject* const* args) noexcept {
    // A wrapper whose inner type is its own reference forwards to itself: the guard
    // turns that into RecursionError instead of a C stack overflow.
    RecursionGuard guard(kWhere);
    if (guard.failed()) return nullptr;
    Ref target = Ref::steal(forward_target(self));
    if (!target) return nullptr;
    return call3(target.get(), args[0], args[1], args[2]);
}

// The native entry of the comparer's and the equality function's forwarders: the
// context is passed on as it came.
template <ResultRead Result>
int forward_native(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    RecursionGuard guard(kWhere);
    if (guard.failed()) return kFailed;
    Ref target = Ref::steal(forward_target(self));
    if (!target) return kFailed;
    return run_native<Result>(target.get(), x, y, ctx, false, object);
}

}  // namespace

const NativeSpec compare_recursive_spec = comparer_spec<forward_native<comparer_result>>(
    "compare_recursive", "cy_compare_for.<locals>.compare_recursive", kContextParams, kForwardsContext);
const NativeSpec equal_recursive_spec = equality_spec<forward_native<equality_result>>(
    "equal_recursive", "cy_equal_for.<locals>.equal_recursive", kContextParams, kForwardsContext);
const FunctionSpec is_recursive_spec = function_spec(
    "is_recursive", "cy_is_for.<locals>.is_recursive", kModuleName, kContextParams, forward_recursive,
    kForwardsContext);

}  // namespace vorn::sortkit
