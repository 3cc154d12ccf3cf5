// __pyx_unpickle_CyVornKey: rebuilds a key from its class, layout checksum and state.
#include "vorn/utils/sort_key.hpp"

#include "common/args.hpp"

namespace vorn::sortkit {
namespace {

bool known_checksum(int32_t checksum) noexcept {
    return checksum == kLayoutChecksum || checksum == kOtherChecksums[0] ||
           checksum == kOtherChecksums[1];
}

// pickle.PickleError naming the given checksum, the accepted ones and the layout.
PyObject* raise_incompatible(int32_t checksum) noexcept {
    Ref pickle = Ref::steal(PyImport_ImportModule("pickle"));
    if (!pickle) return nullptr;
    Ref error = Ref::steal(PyObject_GetAttr(pickle.get(), str<"PickleError">()));
    if (!error) return nullptr;
    Ref format = Ref::steal(PyUnicode_FromString("Incompatible checksums (0x%x vs (0x%x, 0x%x, 0x%x) = (%s))"));
    Ref values = Ref::steal(Py_BuildValue("(illls)", static_cast<int>(checksum), kLayoutChecksum,
                                          kOtherChecksums[0], kOtherChecksums[1], "_compare, value"));
    if (!format || !values) return nullptr;
    Ref message = Ref::steal(PyUnicode_Format(format.get(), values.get()));
    if (!message) return nullptr;
    PyErr_SetObject(error.get(), message.get());
    return nullptr;
}

PyObject* unpickle_impl(NativeFunction*, PyObject* const* args) noexcept {
    PyObject *type = args[0], *state = args[2];
    int32_t checksum;
    if (to_int32(args[1], &checksum) < 0) return nullptr;
    if (state != Py_None && !PyTuple_CheckExact(state)) {
        raise_argument_type("__pyx_state", "tuple", state);
        return nullptr;
    }
    if (!known_checksum(checksum)) return raise_incompatible(checksum);
    // CyVornKey.__new__(type): checks that `type` is a subtype; __init__ is not run.
    Ref new_fn = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(key_type), str<"__new__">()));
    if (!new_fn) return nullptr;
    Ref result = Ref::steal(PyObject_CallOneArg(new_fn.get(), type));
    if (!result) return nullptr;
    if (state != Py_None && restore_key_state(result.get(), state) < 0) return nullptr;
    return result.release();
}

}  // namespace

const FunctionSpec unpickle_key_spec = function_spec(
    "__pyx_unpickle_CyVornKey", "__pyx_unpickle_CyVornKey", kModuleName,
    Params{3, 3, {"__pyx_type", "__pyx_checksum", "__pyx_state"}}, unpickle_impl);

}  // namespace vorn::sortkit
