// The images of Struct values that let keys order exact dicts of scalars without the
// dict lookups of the Struct comparer.
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/sort_key.hpp"

namespace vorn::sortkit {

struct FieldImage {
    uint64_t version;     // the dict's version tag when the fields were read
    Py_ssize_t count;     // one value per field of the comparer's field table
    PyObject* values[1];  // borrowed from the dict, which holds them while unchanged
};

void drop_image(KeyObject* key) noexcept {
    PyMem_Free(key->image);
    key->image = nullptr;
}

void update_image(KeyObject* key) noexcept {
    drop_image(key);
    PyObject* d = key->value;
    if (!PyDict_CheckExact(d) || !compat::dict_has_only_str_keys(d)) return;
    const uint64_t version = compat::dict_version(d);
    FieldTable* table = version && is_native_function(key->compare) &&
                                reinterpret_cast<NativeFunction*>(key->compare)->spec == &compare_struct_spec.function
                            ? frozen_fields(key->compare)
                            : nullptr;
    if (!table) return;
    const Py_ssize_t n = Py_SIZE(table);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!table->fields[i].key || table->fields[i].leaf == Leaf::None) return;  // nothing to gain
    }
    auto* image = static_cast<FieldImage*>(PyMem_Malloc(offsetof(FieldImage, values) + sizeof(PyObject*) * (n ? n : 1)));
    if (!image) return;  // no image: the comparer serves
    image->version = version;
    image->count = n;
    for (Py_ssize_t i = 0; i < n; ++i) {
        // An exact str looked up among exact strs: no user code, and no error possible.
        PyObject* v = PyDict_GetItemWithError(d, table->fields[i].key);
        if (!v) {  // a missing field: the comparer raises its KeyError
            PyMem_Free(image);
            return;
        }
        image->values[i] = v;
    }
    key->image = image;
}

int compare_images(KeyObject* a, KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare || compat::dict_version(a->value) != a->image->version ||
        compat::dict_version(b->value) != b->image->version)
        return 0;
    FieldTable* table = frozen_fields(a->compare);
    if (!table || Py_SIZE(table) != a->image->count) return 0;
    // The comparer's own recursion check, so that RecursionError comes where it would.
    RecursionGuard guard(" while comparing values");
    if (guard.failed()) return -1;
    for (Py_ssize_t i = 0; i < a->image->count; ++i) {
        if (!inline_order(table->fields[i].leaf, a->image->values[i], b->image->values[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = 0;
    return 1;
}

}  // namespace vorn::sortkit
