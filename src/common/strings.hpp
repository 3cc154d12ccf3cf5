// Process-wide interned strings named by literals: `vorn::str<"timestamp">()`.
#pragma once

#include "common/ref.hpp"

#include <algorithm>
#include <cstddef>

namespace vorn {

template <std::size_t N>
struct Literal {
    char text[N];
    constexpr Literal(const char (&s)[N]) { std::copy_n(s, N, text); }
};

// A borrowed, immortal-for-the-process interned str; null with an exception set only
// if the first creation fails (it is retried on the next use).
template <Literal L>
PyObject* str() noexcept {
    static PyObject* s = nullptr;
    if (!s) s = PyUnicode_InternFromString(L.text);
    return s;
}

}  // namespace vorn
