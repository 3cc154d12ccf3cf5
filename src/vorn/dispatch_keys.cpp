// The keys a platform call looks its dispatch state up by: the registry's address as
// an int and the function name as bytes, each kept from the last call that made one.
#include "vorn/pfnlink.hpp"

#include <cstring>

namespace vorn::pfnlink {

PyObject* registry_key(PlatformRegistry* registry) noexcept {
    static PyObject* last = nullptr;
    static PlatformRegistry* last_registry = nullptr;
    if (last && registry == last_registry) return Py_NewRef(last);
    PyObject* fresh = PyLong_FromVoidPtr(registry);
    if (fresh) {
        Py_XSETREF(last, Py_NewRef(fresh));
        last_registry = registry;
    }
    return fresh;
}

PyObject* name_bytes(const char* name) noexcept {
    static PyObject* last = nullptr;
    // The kept bytes came from a C string too, so equal C strings mean equal bytes.
    if (last && std::strcmp(PyBytes_AS_STRING(last), name) == 0) return Py_NewRef(last);
    PyObject* fresh = PyBytes_FromString(name);
    if (fresh) Py_XSETREF(last, Py_NewRef(fresh));
    return fresh;
}

}  // namespace vorn::pfnlink
