// Start-up of vorn.utils._sortkit: the module's own execute steps, after the shared
// create and execute steps of src/common/module.cpp.
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

KeptBuiltins builtins{};

namespace {

constexpr const char* kDoc =
    "Accelerated ordering for Vorn values.\n"
    "\n"
    "A drop-in replacement for compare_for, equal_for, is_for and make_vorn_key of the\n"
    "pure module ordering. Its gains come from a single key class with native rich\n"
    "comparison, from native floating-point tests for NaN and the sign of zero, and\n"
    "from typed loop variables in the composite comparers.\n";

int keep_builtins() noexcept {
    PyObject* b = PyEval_GetBuiltins();  // borrowed
    struct { const char* name; PyObject** slot; } wanted[] = {
        {"NotImplemented", &builtins.not_implemented},
        {"id", &builtins.id},
        {"sorted", &builtins.sorted},
        {"zip", &builtins.zip},
    };
    for (auto& w : wanted) {
        PyObject* v = PyDict_GetItemString(b, w.name);
        if (!v) {
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", w.name);
            return -1;
        }
        *w.slot = Py_NewRef(v);  // kept for the life of the process
    }
    return 0;
}

int bind_function(PyObject* module, const FunctionSpec& spec) noexcept {
    Ref f = make_function(spec);
    if (!f) return -1;
    return PyObject_SetAttrString(module, spec.name, f.get());
}

int exec_sortkit(PyObject* module, PyObject*) noexcept {
    if (ready_function_type() < 0 || keep_builtins() < 0) return -1;
    if (make_key_type(module) < 0) return -1;

    // The predicates in alphabetical order, then the value classes.
    if (import_from("vorn.types.types",
                    {"is_array_type", "is_async_function_type", "is_blob_type", "is_boolean_type",
                     "is_datetime_type", "is_dict_type", "is_float_type", "is_function_type",
                     "is_integer_type", "is_matrix_type", "is_never_type", "is_null_type",
                     "is_recursive_type", "is_ref_type", "is_set_type", "is_string_type",
                     "is_struct_type", "is_variant_type", "is_vector_type"},
                    module) < 0)
        return -1;
    if (import_from("vorn.types.values", {"VornBlob", "VornMatrix", "VornVector"}, module) < 0)
        return -1;

    const FunctionSpec* functions[] = {
        &cy_make_vorn_key_spec, &cy_compare_bool_spec, &cy_compare_int_spec,
        &cy_compare_float_spec, &cy_compare_string_spec, &cy_equal_float_spec,
        &cy_compare_for_spec, &cy_equal_for_spec, &cy_is_for_spec, &unpickle_key_spec,
    };
    for (const FunctionSpec* spec : functions) {
        if (bind_function(module, *spec) < 0) return -1;
    }
    Ref test = Ref::steal(PyDict_New());
    if (!test) return -1;
    return PyObject_SetAttrString(module, "__test__", test.get());
}

}  // namespace

ModuleSetup module_setup{"_sortkit", kModuleName, kDoc, exec_sortkit};

}  // namespace vorn::sortkit

PyMODINIT_FUNC PyInit__sortkit() { return vorn::init_module<vorn::sortkit::module_setup>(); }
