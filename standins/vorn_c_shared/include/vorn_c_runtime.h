/* The interface of the stand-in Vorn C runtime `vorn_c_shared`: handles, registries,
 * the platform-call records and the functions a bridge or codec calls. C-compatible.
 * interface_check.cpp checks at compile time that the product's declarations of this
 * interface match these. */
#ifndef VORN_C_RUNTIME_H
#define VORN_C_RUNTIME_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* The interface check includes this header inside a namespace, without C linkage
 * and without export attributes, so that the product's declarations can sit beside
 * it and be compared. */
#if defined(VORN_C_RUNTIME_CHECK)
#  define VORN_C_API
#  define VORN_C_BEGIN_DECLS
#  define VORN_C_END_DECLS
#else
#  if defined(_WIN32)
#    if defined(VORN_C_BUILDING)
#      define VORN_C_API __declspec(dllexport)
#    else
#      define VORN_C_API __declspec(dllimport)
#    endif
#  else
#    define VORN_C_API __attribute__((visibility("default")))
#  endif
#  ifdef __cplusplus
#    define VORN_C_BEGIN_DECLS extern "C" {
#    define VORN_C_END_DECLS }
#  else
#    define VORN_C_BEGIN_DECLS
#    define VORN_C_END_DECLS
#  endif
#endif

VORN_C_BEGIN_DECLS

/* Opaque, reference-counted handles. A function returning one hands the caller a
 * reference, dropped with vorn_type_release / vorn_value_release. */
typedef struct VornType VornType;
typedef struct VornValue VornValue;

/* The runtime's table of built-in functions; opaque. */
typedef struct BuiltinRegistry BuiltinRegistry;

/* Kind codes of an EvalResult. */
enum {
    VORN_EVAL_OK = 0,
    VORN_EVAL_ERROR = 4
};

/* What a platform function returns by value: six machine words, the kind code
 * first. For VORN_EVAL_OK, `value` holds one value reference that the result owns;
 * for VORN_EVAL_ERROR, `message` is a strdup'ed, NUL-terminated text owned by the
 * result. Every other member is zero. */
typedef struct EvalResult {
    int32_t kind;
    VornValue *value;
    void *reserved1;
    char *message;
    void *reserved2;
    void *reserved3;
} EvalResult;

typedef EvalResult (*PlatformFn)(VornValue **args, size_t nargs,
                                 VornType **arg_types, size_t n_arg_types,
                                 VornType *ret_type);

/* Returns the PlatformFn of one instantiation of a generic platform function. */
typedef PlatformFn (*GenericFactory)(VornType **type_args, size_t n_type_args);

typedef struct PlatformRegistry PlatformRegistry;
typedef void (*PlatformPreCallHook)(PlatformRegistry *registry, const char *name,
                                    VornType **type_args, size_t n_type_args);
typedef void (*PlatformFreeHook)(PlatformRegistry *registry);

/* The runtime's table of platform functions. The first two members belong to the
 * runtime; a bridge writes the two hooks directly. */
struct PlatformRegistry {
    void *runtime_entries;
    void *runtime_reserved;
    PlatformPreCallHook pre_call; /* called before every platform call */
    PlatformFreeHook on_free;     /* called when the registry is freed */
};

/* Context and registries. */
VORN_C_API BuiltinRegistry *builtin_registry_new(void);
VORN_C_API int vorn_register_all_builtins(BuiltinRegistry *registry);
VORN_C_API PlatformRegistry *platform_registry_new(void);
VORN_C_API void platform_registry_free(PlatformRegistry *registry);
VORN_C_API int vorn_set_thread_context(PlatformRegistry *platform, BuiltinRegistry *builtins);
VORN_C_API int vorn_type_of_type_init(void);

/* Text format. Printers return malloc'ed text the caller frees, or NULL. */
VORN_C_API char *vorn_print_type(VornType *type);
VORN_C_API char *vorn_print_value(VornValue *value, VornType *type);
VORN_C_API VornValue *vorn_parse_value(const char *text, VornType *type);

/* Reference counting. Retain returns its argument; NULL is ignored by all four. */
VORN_C_API VornType *vorn_type_retain(VornType *type);
VORN_C_API void vorn_type_release(VornType *type);
VORN_C_API VornValue *vorn_value_retain(VornValue *value);
VORN_C_API void vorn_value_release(VornValue *value);

/* The null value (a new reference) and the Null type (a static object). */
VORN_C_API VornValue *vorn_null(void);
VORN_C_API extern VornType vorn_null_type;

/* A success result that takes over the reference to `value`. */
VORN_C_API EvalResult eval_ok(VornValue *value);

/* Registration. `name` is a strdup'ed copy that the registry takes over. */
VORN_C_API void platform_registry_add(PlatformRegistry *registry, char *name,
                                      PlatformFn fn, bool is_async);
VORN_C_API void platform_registry_add_typed(PlatformRegistry *registry, char *name,
                                            PlatformFn fn, bool is_async,
                                            VornType **inputs, size_t n_inputs,
                                            VornType *output);
VORN_C_API void platform_registry_add_generic(PlatformRegistry *registry, char *name,
                                              GenericFactory factory, bool is_async);

VORN_C_END_DECLS

#endif /* VORN_C_RUNTIME_H */
