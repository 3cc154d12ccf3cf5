// The images of Struct and Variant values that let keys order exact dicts of scalars
// without the dict lookups of their comparers, and the in-place walk of Array keys.
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

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
    if (FieldImage* image = image_of(key)) {
        key->code = KeyCode{};
        PyMem_Free(image);
    }
}

namespace {

void keep_image(KeyObject* key, FieldImage* image) noexcept {
    if (image) key->code = KeyCode{reinterpret_cast<uint64_t>(image), kImageCode, 0, 0};
}

}  // namespace

void update_image(KeyObject* key) noexcept {
    drop_image(key);
    if (has_spec(key->compare, compare_array_spec)) {
        // An Array of a scalar order: its lists are walked in place (compare_lists).
        PyObject* elem = component(reinterpret_cast<NativeFunction*>(key->compare));
        const Leaf leaf = elem ? leaf_of(elem, 3) : Leaf::None;
        if (leaf != Leaf::None && PyList_Check(key->value)) key->code = KeyCode{0, kListCode, static_cast<uint8_t>(leaf), 0};
        return;
    }
    PyObject* d = key->value;
    if (!PyDict_CheckExact(d) || !compat::dict_has_only_str_keys(d)) return;
    const uint64_t version = compat::dict_version(d);
    if (!version) return;
    if (has_spec(key->compare, compare_variant_spec)) {
        keep_image(key, variant_image(d, version, key->compare));
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
    keep_image(key, image);
}

int compare_images(KeyObject* a, KeyObject* b, int* sign) noexcept {
    const FieldImage* ia = image_of(a);
    const FieldImage* ib = image_of(b);
    if (a->compare != b->compare || compat::dict_version(a->value) != ia->version ||
        compat::dict_version(b->value) != ib->version)
        return 0;
    // The comparer's own recursion check, so that RecursionError comes where it would.
    RecursionGuard guard(" while comparing values");
    if (guard.failed()) return -1;
    if (ia->payload_leaf != Leaf::None) {
        // Variant: the tags, then (equal tags naming one case) the payloads by its leaf.
        *sign = compare_strs(ia->values[0], ib->values[0]);
        if (*sign) return 1;
        return inline_order(ia->payload_leaf, ia->values[1], ib->values[1], sign) ? 1 : 0;
    }
    FieldTable* table = frozen_fields(a->compare);
    if (!table || Py_SIZE(table) != ia->count) return 0;
    for (Py_ssize_t i = 0; i < ia->count; ++i) {
        if (!inline_order(table->fields[i].leaf, ia->values[i], ib->values[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = 0;
    return 1;
}

int compare_lists(KeyObject* a, KeyObject* b, int* sign) noexcept {
    PyObject* x = a->value;
    PyObject* y = b->value;
    // What the Array comparer does, for lists whose items and sizes are read without
    // user code (exact lists, or subclasses that keep the list's indexing and len):
    // the same list is equal to itself before any check; then the recursion check,
    // and the common items by the element's order inline. An item that order cannot
    // read inline hands the whole comparison to the comparer: nothing observable has
    // happened before it.
    if (a->compare != b->compare || !is_plain_list(x) || !is_plain_list(y) || !has_list_len(x) || !has_list_len(y))
        return 0;
    if (x == y) {
        *sign = 0;
        return 1;
    }
    RecursionGuard guard(" while comparing values");
    if (guard.failed()) return -1;
    const auto leaf = static_cast<Leaf>(a->code.held);
    const Py_ssize_t lx = PyList_GET_SIZE(x), ly = PyList_GET_SIZE(y);
    PyObject* const* xs = reinterpret_cast<PyListObject*>(x)->ob_item;
    PyObject* const* ys = reinterpret_cast<PyListObject*>(y)->ob_item;
    for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
        if (!inline_order(leaf, xs[i], ys[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = (lx > ly) - (lx < ly);
    return 1;
}

}  // namespace vorn::sortkit
