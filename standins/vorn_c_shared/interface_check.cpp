// Compile-time check that the product's declarations of the runtime interface
// (vorn_c.h of the platform bridge and the text codec) match this runtime's own
// (vorn_c_runtime.h): every function's type, the records' layouts and the kind codes.
// Holds no code.
#include <cstddef>
#include <cstdint>
#include <stdbool.h>
#include <type_traits>

#define VORN_C_RUNTIME_CHECK 1
namespace rt {
#include "vorn_c_runtime.h"
}
#undef VORN_C_API
#undef VORN_C_RUNTIME_CHECK

#include "../../src/vorn/vorn_c.h"

namespace {

// The product's spelling of a type of the runtime's header: the runtime's records
// become the product's, through pointers, qualifiers and function types.
template <class T> struct Product { using type = T; };
template <class T> using product_t = typename Product<T>::type;
template <> struct Product<rt::VornType> { using type = ::VornType; };
template <> struct Product<rt::VornValue> { using type = ::VornValue; };
template <> struct Product<rt::BuiltinRegistry> { using type = ::BuiltinRegistry; };
template <> struct Product<rt::PlatformRegistry> { using type = ::PlatformRegistry; };
template <> struct Product<rt::EvalResult> { using type = ::EvalResult; };
template <class T> struct Product<T*> { using type = product_t<T>*; };
template <class T> struct Product<const T> { using type = const product_t<T>; };
template <class R, class... A> struct Product<R(A...)> { using type = product_t<R>(product_t<A>...); };

template <class Runtime, class Declared>
inline constexpr bool kMatches = std::is_same_v<product_t<Runtime>, Declared>;

#define VORN_CHECK_FUNCTION(name) \
    static_assert(kMatches<decltype(rt::name), decltype(::name)>, "vorn_c.h declares " #name " differently")

VORN_CHECK_FUNCTION(builtin_registry_new);
VORN_CHECK_FUNCTION(vorn_register_all_builtins);
VORN_CHECK_FUNCTION(platform_registry_new);
VORN_CHECK_FUNCTION(platform_registry_free);
VORN_CHECK_FUNCTION(vorn_set_thread_context);
VORN_CHECK_FUNCTION(vorn_type_of_type_init);
VORN_CHECK_FUNCTION(vorn_print_type);
VORN_CHECK_FUNCTION(vorn_print_value);
VORN_CHECK_FUNCTION(vorn_parse_value);
VORN_CHECK_FUNCTION(vorn_type_retain);
VORN_CHECK_FUNCTION(vorn_type_release);
VORN_CHECK_FUNCTION(vorn_value_retain);
VORN_CHECK_FUNCTION(vorn_value_release);
VORN_CHECK_FUNCTION(vorn_null);
VORN_CHECK_FUNCTION(vorn_null_type);
VORN_CHECK_FUNCTION(eval_ok);
VORN_CHECK_FUNCTION(platform_registry_add);
VORN_CHECK_FUNCTION(platform_registry_add_typed);
VORN_CHECK_FUNCTION(platform_registry_add_generic);

static_assert(kMatches<rt::PlatformFn, ::PlatformFn>);
static_assert(kMatches<rt::GenericFactory, ::GenericFactory>);
static_assert(kMatches<rt::PlatformPreCallHook, ::PlatformPreCallHook>);
static_assert(kMatches<rt::PlatformFreeHook, ::PlatformFreeHook>);
static_assert(int{rt::VORN_EVAL_OK} == int{::VORN_EVAL_OK} && int{rt::VORN_EVAL_ERROR} == int{::VORN_EVAL_ERROR});

#define VORN_CHECK_MEMBER(record, member)                                                          \
    static_assert(offsetof(rt::record, member) == offsetof(::record, member) &&                    \
                      kMatches<decltype(rt::record::member), decltype(::record::member)>,          \
                  "vorn_c.h lays out " #record "::" #member " differently")

static_assert(sizeof(rt::EvalResult) == sizeof(::EvalResult));
VORN_CHECK_MEMBER(EvalResult, kind);
VORN_CHECK_MEMBER(EvalResult, value);
VORN_CHECK_MEMBER(EvalResult, reserved1);
VORN_CHECK_MEMBER(EvalResult, message);
VORN_CHECK_MEMBER(EvalResult, reserved2);
VORN_CHECK_MEMBER(EvalResult, reserved3);
static_assert(sizeof(rt::PlatformRegistry) == sizeof(::PlatformRegistry));
VORN_CHECK_MEMBER(PlatformRegistry, runtime_entries);
VORN_CHECK_MEMBER(PlatformRegistry, runtime_reserved);
VORN_CHECK_MEMBER(PlatformRegistry, pre_call);
VORN_CHECK_MEMBER(PlatformRegistry, on_free);

}  // namespace
