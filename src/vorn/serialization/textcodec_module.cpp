// Start-up of vorn.serialization._textcodec: the shared module steps, then the
// conversion functions of vorn._vornc_bridge, the runtime context record and the
// three functions.
#include "vorn/serialization/textcodec.hpp"

#include "common/module.hpp"

namespace vorn::textcodec {

Conversions conversions;

namespace {

int exec_textcodec(PyObject* module, PyObject*) noexcept {
    if (ready_function_type() < 0) return -1;
    if (bind_conversions(conversions, false) < 0) return -1;
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
