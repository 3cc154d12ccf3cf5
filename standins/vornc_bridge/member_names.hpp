// Python str objects for the member names of Struct and Variant types, made once
// per type and conversion.
#pragma once

#include "bridge.hpp"

#include <unordered_map>
#include <vector>

namespace vornc_bridge {

class MemberNames {
public:
    // Interned names of `t`'s members, in order; null with an exception set.
    const std::vector<Ref>* of(const VornType* t) noexcept {
        try {
            auto it = cache_.find(t);
            if (it != cache_.end()) return &it->second;
            std::vector<Ref> names;
            size_t n = vorn_type_child_count(t);
            names.reserve(n);
            for (size_t i = 0; i < n; ++i) {
                size_t size;
                const char* s = vorn_type_member_name(t, i, &size);
                PyObject* name = PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(size), "strict");
                if (!name) return nullptr;
                PyUnicode_InternInPlace(&name);
                names.push_back(Ref::steal(name));
            }
            return &cache_.emplace(t, std::move(names)).first->second;
        } catch (...) {
            PyErr_NoMemory();
            return nullptr;
        }
    }

private:
    std::unordered_map<const VornType*, std::vector<Ref>> cache_;
};

}  // namespace vornc_bridge
