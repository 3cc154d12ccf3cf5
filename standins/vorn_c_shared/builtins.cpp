// The built-in function registry and the built-ins it is filled with: length,
// int_add, string_concat and to_text.
#include "context.hpp"
#include "runtime.hpp"
#include "utf8.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using namespace vorn_rt;

struct BuiltinRegistry {
    struct Builtin {
        const char* name;
        PlatformFn fn;
    };
    std::mutex mutex;
    std::vector<Builtin> functions;
};

namespace {

EvalResult wrong_arguments(const char* name) noexcept {
    std::string message = std::string(name) + ": wrong number or kind of arguments";
    return vorn_eval_error(message.c_str());
}

EvalResult made(VornValue* v) noexcept { return v ? eval_ok(v) : vorn_eval_error("out of memory"); }

// length(x): code points of a String, bytes of a Blob, items of a collection.
EvalResult builtin_length(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    if (nargs != 1 || !args[0]) return wrong_arguments("length");
    const VornValue* v = args[0];
    switch (v->kind) {
        case VORN_STRING: {
            size_t size;
            const char* s = vorn_value_get_bytes(v, &size);
            int64_t n = 0;
            for (size_t i = 0; i < size; ++i) n += (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
            return made(vorn_value_int(n));
        }
        case VORN_BLOB: {
            size_t size;
            vorn_value_get_bytes(v, &size);
            return made(vorn_value_int(static_cast<int64_t>(size)));
        }
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_SET:
        case VORN_DICT:
            return made(vorn_value_int(static_cast<int64_t>(vorn_value_count(v))));
        default:
            return wrong_arguments("length");
    }
}

EvalResult builtin_int_add(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    if (nargs != 2 || !args[0] || !args[1] || args[0]->kind != VORN_INTEGER || args[1]->kind != VORN_INTEGER)
        return wrong_arguments("int_add");
    int64_t sum;
    if (__builtin_add_overflow(vorn_value_get_int(args[0]), vorn_value_get_int(args[1]), &sum))
        return vorn_eval_error("int_add: integer overflow");
    return made(vorn_value_int(sum));
}

EvalResult builtin_string_concat(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    if (nargs != 2 || !args[0] || !args[1] || args[0]->kind != VORN_STRING || args[1]->kind != VORN_STRING)
        return wrong_arguments("string_concat");
    size_t a, b;
    const char* x = vorn_value_get_bytes(args[0], &a);
    const char* y = vorn_value_get_bytes(args[1], &b);
    try {
        std::string joined;
        joined.reserve(a + b);
        joined.append(x, a).append(y, b);
        return made(make_string(std::move(joined)));
    } catch (...) {
        return vorn_eval_error("out of memory");
    }
}

// to_text(x): the text of x under its declared type.
EvalResult builtin_to_text(VornValue** args, size_t nargs, VornType** arg_types, size_t n_arg_types,
                           VornType*) {
    if (nargs != 1 || !args[0] || n_arg_types < 1 || !arg_types[0]) return wrong_arguments("to_text");
    char* text = print_value(args[0], arg_types[0]);
    if (!text) return vorn_eval_error("to_text: the value has no text form");
    VornValue* s = vorn_value_string(text, std::strlen(text));
    std::free(text);
    return made(s);
}

const BuiltinRegistry::Builtin kBuiltins[] = {
    {"length", builtin_length},
    {"int_add", builtin_int_add},
    {"string_concat", builtin_string_concat},
    {"to_text", builtin_to_text},
};

}  // namespace

extern "C" {

BuiltinRegistry* builtin_registry_new(void) {
    auto* registry = new (std::nothrow) BuiltinRegistry;
    if (registry) count_event(Event::builtin_registry_made);
    return registry;
}

// Filling a registry again replaces its contents, so nothing is listed twice.
int vorn_register_all_builtins(BuiltinRegistry* registry) {
    if (!registry) return -1;
    try {
        std::lock_guard<std::mutex> lock(registry->mutex);
        registry->functions.assign(std::begin(kBuiltins), std::end(kBuiltins));
    } catch (...) {
        return -1;
    }
    count_event(Event::builtins_registered);
    return 0;
}

size_t vorn_builtin_count(BuiltinRegistry* registry) {
    if (!registry) return 0;
    std::lock_guard<std::mutex> lock(registry->mutex);
    return registry->functions.size();
}

const char* vorn_builtin_name(BuiltinRegistry* registry, size_t i) {
    if (!registry) return nullptr;
    std::lock_guard<std::mutex> lock(registry->mutex);
    return i < registry->functions.size() ? registry->functions[i].name : nullptr;
}

EvalResult vorn_builtin_call(BuiltinRegistry* registry, const char* name, VornValue** args, size_t nargs,
                             VornType** arg_types, size_t n_arg_types, VornType* ret_type) {
    if (!registry || !name) return vorn_eval_error("no built-in registry");
    PlatformFn fn = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry->mutex);
        for (const auto& b : registry->functions) {
            if (std::strcmp(b.name, name) == 0) fn = b.fn;
        }
    }
    if (!fn) {
        std::string message = std::string("no built-in named ") + name;
        return vorn_eval_error(message.c_str());
    }
    return fn(args, nargs, arg_types, n_arg_types, ret_type);
}

}  // extern "C"
