// The list of a module's interned names and their creation at start-up.
#include "common/strings.hpp"

namespace vorn {
namespace {

constinit InternedName* first_name = nullptr;

}  // namespace

InternedName::InternedName(const char* t) noexcept : text(t), next(first_name) { first_name = this; }

int intern_strings() noexcept {
    for (InternedName* n = first_name; n; n = n->next) {
        if (!n->object && !(n->object = PyUnicode_InternFromString(n->text))) return -1;
    }
    return 0;
}

}  // namespace vorn
