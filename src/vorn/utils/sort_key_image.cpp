// The images of Struct and Variant values that let keys order exact dicts of scalars
// without the dict lookups of their comparers.
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/sort_key.hpp"

#include <cstddef>

namespace vorn::sortkit {

struct FieldImage {
    uint64_t version;     // the dict's version tag when the fields were read
    Py_ssize_t count;     // Struct: one value per field of the comparer's field table;
                          // Variant: 2, the tag and the payload
    Leaf payload_leaf;    // Variant: the case comparer's leaf
    PyObject* values[1];  // borrowed from the dict, which holds them while unchanged
};

namespace {

bool has_spec(PyObject* fn, const NativeSpec& spec) noexcept {
    return is_native_function(fn) && reinterpret_cast<NativeFunction*>(fn)->spec == &spec.function;
}

FieldImage* new_image(uint64_t version, Py_ssize_t count) noexcept {
    auto* image = static_cast<FieldImage*>(PyMem_Malloc(offsetof(FieldImage, values) + sizeof(PyObject*) * count));
    if (image) *image = FieldImage{version, count, Leaf::None, {nullptr}};
    return image;
}

// A Variant value's tag and payload, when the tag is an exact str naming a case whose
// comparer is a leaf, found in a case table of exact str names: no user code runs in
// finding it, nor in comparing images by it.
FieldImage* variant_image(PyObject* d, uint64_t version, PyObject* compare) noexcept {
    PyObject* cases = reinterpret_cast<NativeFunction*>(compare)->state[slot::kCases];
    if (!cases || !PyDict_CheckExact(cases) || !compat::dict_has_only_str_keys(cases)) return nullptr;
    PyObject* tag = PyDict_GetItemWithError(d, str<"type">());
    PyObject* payload = PyDict_GetItemWithError(d, str<"value">());
    if (!tag || !payload || !PyUnicode_CheckExact(tag)) return nullptr;
    PyObject* case_fn = PyDict_GetItemWithError(cases, tag);
    const Leaf leaf = case_fn ? leaf_of(case_fn, 3) : Leaf::None;
    if (leaf == Leaf::None) return nullptr;
    FieldImage* image = new_image(version, 2);
    if (!image) return nullptr;
    image->payload_leaf = leaf;
    image->values[0] = tag;
    image->values[1] = payload;
    return image;
}

}  // namespace

void drop_image(KeyObject* key) noexcept {
    PyMem_Free(key->image);
    key->image = nullptr;
}

void update_image(KeyObject* key) noexcept {
    drop_image(key);
    PyObject* d = key->value;
    if (!PyDict_CheckExact(d) || !compat::dict_has_only_str_keys(d)) return;
    const uint64_t version = compat::dict_version(d);
    if (!version) return;
    if (has_spec(key->compare, compare_variant_spec)) {
        key->image = variant_image(d, version, key->compare);
        return;
    }
    FieldTable* table = has_spec(key->compare, compare_struct_spec) ? frozen_fields(key->compare) : nullptr;
    if (!table) return;
    const Py_ssize_t n = Py_SIZE(table);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!table->fields[i].key || table->fields[i].leaf == Leaf::None) return;  // nothing to gain
    }
    FieldImage* image = new_image(version, n ? n : 1);
    if (!image) return;  // no image: the comparer serves
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
    // The comparer's own recursion check, so that RecursionError comes where it would.
    RecursionGuard guard(" while comparing values");
    if (guard.failed()) return -1;
    if (a->image->payload_leaf != Leaf::None) {
        // Variant: the tags, then (equal tags naming one case) the payloads by its leaf.
        *sign = compare_strs(a->image->values[0], b->image->values[0]);
        if (*sign) return 1;
        return inline_order(a->image->payload_leaf, a->image->values[1], b->image->values[1], sign) ? 1 : 0;
    }
    FieldTable* table = frozen_fields(a->compare);
    if (!table || Py_SIZE(table) != a->image->count) return 0;
    for (Py_ssize_t i = 0; i < a->image->count; ++i) {
        if (!inline_order(table->fields[i].leaf, a->image->values[i], b->image->values[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = 0;
    return 1;
}

}  // namespace vorn::sortkit
