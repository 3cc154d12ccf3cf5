// A one-entry memo of a check on a type's attributes.
#pragma once

#include "common/compat.hpp"

namespace vorn {

// Remembers the last type for which a check on its attributes (what type_lookup finds)
// came out true, with the type's version tag then: while the tag is unchanged the
// check would come out the same. Without tags (compat::type_version gives 0) nothing
// is remembered and every check runs.
class TypeMemo {
public:
    bool holds(PyTypeObject* type) const noexcept {
        const unsigned version = compat::type_version(type);
        return version && type == type_ && version == version_;
    }
    // Call after the check (its lookups give the type a tag).
    void remember(PyTypeObject* type) noexcept {
        type_ = type;
        version_ = compat::type_version(type);
    }

private:
    PyTypeObject* type_ = nullptr;
    unsigned version_ = 0;
};

}  // namespace vorn
