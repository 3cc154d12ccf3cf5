// Recomputing a key's code from its fields.
#include "vorn/utils/key_code.hpp"

namespace vorn::sortkit {

void update_code(KeyObject* key) noexcept {
    drop_image(key);
    const Leaf leaf = leaf_of(key->compare, kWithoutContext);
    key->code = code_of(leaf, key->value);
    if (leaf == Leaf::None) update_image(key);
}

}  // namespace vorn::sortkit
