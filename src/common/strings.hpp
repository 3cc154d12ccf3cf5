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

// One name used through str<>; each links itself, at load time, into its module's
// list, which the shared execute step interns as a whole (intern_strings).
struct InternedName {
    const char* text;
    PyObject* object = nullptr;  // owned for the life of the process
    InternedName* next;
    explicit InternedName(const char* t) noexcept;
};

// Interns every name of this module's str<> uses that is not yet made. Run by the
// module's execute step, so that no use after a successful import can fail.
// 0, or -1 with an exception set.
int intern_strings() noexcept;

template <Literal L>
struct InternedLiteral {
    inline static InternedName entry{L.text};
};

// The interned str (borrowed, alive for the process). Never null once the module is
// imported; before that (module creation) null with an exception set if it cannot be
// made.
template <Literal L>
PyObject* str() noexcept {
    InternedName& e = InternedLiteral<L>::entry;
    if (!e.object) [[unlikely]] e.object = PyUnicode_InternFromString(e.text);
    return e.object;
}

}  // namespace vorn
