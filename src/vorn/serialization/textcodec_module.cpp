// Start-up of vorn.serialization._textcodec: the shared module steps, then the
// conversion functions of vorn._vornc_bridge, the runtime context record and the
// three functions.
#include "vorn/serialization/textcodec.hpp"

#include "common/capi_import.hpp"
#include "common/module.hpp"

namespace vorn::textcodec {

Conversions conversions;

int bind_conversions() noexcept {
    constexpr const char* bridge = "vorn._vornc_bridge";
    Ref table = Ref::steal(import_capi_table(bridge));
    if (!table) return -1;
    void* type_to_c = capi_function(table.get(), bridge, "py_type_to_c", "VornType *(PyObject *)");
    if (!type_to_c) return -1;
    void* value_to_c = capi_function(table.get(), bridge, "py_value_to_c", "VornValue *(PyObject *, VornType *)");
    if (!value_to_c) return -1;
    void* value_to_py = capi_function(table.get(), bridge, "c_value_to_py", "PyObject *(VornValue *, VornType *)");
    if (!value_to_py) return -1;
    conversions.py_type_to_c = reinterpret_cast<PyTypeToC>(type_to_c);
    conversions.py_value_to_c = reinterpret_cast<PyValueToC>(value_to_c);
    conversions.c_value_to_py = reinterpret_cast<CValueToPy>(value_to_py);
    return 0;
}

namespace {

int exec_textcodec(PyObject* module, PyObject*) noexcept {
    if (ready_function_type() < 0) return -1;
    if (bind_conversions() < 0) return -1;
    reset_runtime_context();
    for (const FunctionSpec* spec : {&print_value_spec, &print_type_spec, &parse_value_spec}) {
        Ref fn = make_function(*spec);
        if (!fn || PyModule_AddObjectRef(module, spec->name, fn.get()) < 0) return -1;
    }
    return 0;
}

ModuleSetup setup{"_textcodec", kModuleName, "Vorn text format print/parse via vorn-c.", exec_textcodec};

}  // namespace
}  // namespace vorn::textcodec

PyMODINIT_FUNC PyInit__textcodec() { return vorn::init_module<vorn::textcodec::setup>(); }
