/* The stand-in runtime's API beyond vorn_c.h: type and value constructors and
 * accessors for every kind, scope frames for Recursive types, live-handle counts,
 * the runtime side of platform calls, built-in calls, start-up counters and log,
 * value equality, the accounting of heap buffers across the boundary, and, in
 * test builds (VORN_TEST_HOOKS), test fixtures and counters.
 *
 * Ownership: every constructor takes over the references it is given (also when
 * it fails and returns NULL) and returns a new reference. Accessors return
 * borrowed handles, valid while the caller holds the handle they were read from. */
#ifndef VORN_C_EXT_H
#define VORN_C_EXT_H

#include "vorn_c_runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The kinds of type. Values of Function and AsyncFunction types are both of value
 * kind VORN_FUNCTION; Recursive types have no values of their own. */
typedef enum VornKind {
    VORN_NEVER = 0,
    VORN_NULL,
    VORN_BOOLEAN,
    VORN_INTEGER,
    VORN_FLOAT,
    VORN_STRING,
    VORN_DATETIME,
    VORN_BLOB,
    VORN_VECTOR,
    VORN_MATRIX,
    VORN_ARRAY,
    VORN_SET,
    VORN_DICT,
    VORN_REF,
    VORN_STRUCT,
    VORN_VARIANT,
    VORN_RECURSIVE,
    VORN_FUNCTION,
    VORN_ASYNC_FUNCTION,
    VORN_KIND_COUNT
} VornKind;

/* Name of a kind ("Integer", ...), or "?" for a bad code. */
VORN_C_API const char *vorn_kind_name(int kind);

/* ---- Types ---------------------------------------------------------------- */

/* Never, Null, Boolean, Integer, Float, String, DateTime, Blob. */
VORN_C_API VornType *vorn_type_scalar(VornKind kind);
/* Vector, Matrix, Array, Set, Ref of `element`. */
VORN_C_API VornType *vorn_type_container(VornKind kind, VornType *element);
VORN_C_API VornType *vorn_type_dict(VornType *key, VornType *value);
/* Struct or Variant with `n` members. `sizes` may be NULL for NUL-terminated names.
 * NULL (and every given type released) when two members share a name. */
VORN_C_API VornType *vorn_type_members(VornKind kind, size_t n, const char *const *names,
                                       const size_t *sizes, VornType *const *types);
/* A Recursive wrapper opening scope `scope` around `inner`, and a reference to the
 * enclosing scope of that id. A scope id is text, or a decimal integer when
 * `numeric` is true. */
VORN_C_API VornType *vorn_type_recursive(const char *scope, size_t size, bool numeric,
                                         VornType *inner);
VORN_C_API VornType *vorn_type_rec_ref(const char *scope, size_t size, bool numeric);
/* Function or AsyncFunction. */
VORN_C_API VornType *vorn_type_function(VornKind kind, size_t n_inputs,
                                        VornType *const *inputs, VornType *output);

VORN_C_API VornKind vorn_type_kind(const VornType *type);
/* Component types: the element (Vector, Matrix, Array, Set, Ref), key then value
 * (Dict), the members (Struct, Variant), the inner type (Recursive wrapper), the
 * inputs then the output (functions); none for the other kinds. */
VORN_C_API size_t vorn_type_child_count(const VornType *type);
VORN_C_API VornType *vorn_type_child(const VornType *type, size_t i);
/* Name of member i of a Struct or Variant (UTF-8, NUL-terminated too). */
VORN_C_API const char *vorn_type_member_name(const VornType *type, size_t i, size_t *size);
/* Index of the member named `name`, or -1. */
VORN_C_API ptrdiff_t vorn_type_member_index(const VornType *type, const char *name, size_t size);
VORN_C_API bool vorn_type_is_rec_ref(const VornType *type);
/* Scope id of a Recursive wrapper or reference. */
VORN_C_API const char *vorn_type_scope(const VornType *type, size_t *size, bool *numeric);

#ifdef VORN_TEST_HOOKS
/* A type the type printer refuses (a test fixture); otherwise it stands for Never. */
VORN_C_API VornType *vorn_type_unprintable(void);
#endif

/* Number of type and value handles alive (static ones not counted). */
VORN_C_API long vorn_live_types(void);
VORN_C_API long vorn_live_values(void);

/* ---- Scope frames ---------------------------------------------------------- */

/* A walk over a value keeps the Recursive wrappers it is inside as a chain of
 * frames on its own stack: entering a wrapper pushes {wrapper, env}; a reference
 * continues at its binding frame's inner type with that frame as environment. */
typedef struct VornScope {
    const VornType *wrapper;
    const struct VornScope *parent;
} VornScope;

/* The innermost frame of `env` that binds the scope `ref` refers to, or NULL. */
VORN_C_API const VornScope *vorn_scope_find(const VornScope *env, const VornType *ref);

/* ---- Values --------------------------------------------------------------- */

VORN_C_API VornKind vorn_value_kind(const VornValue *value);

VORN_C_API VornValue *vorn_value_bool(bool b);
VORN_C_API VornValue *vorn_value_int(int64_t i);
VORN_C_API VornValue *vorn_value_float(double f);
/* NULL when `data` is not valid UTF-8. */
VORN_C_API VornValue *vorn_value_string(const char *data, size_t size);
/* Microseconds since 1970-01-01T00:00:00Z. */
VORN_C_API VornValue *vorn_value_datetime(int64_t micros);
VORN_C_API VornValue *vorn_value_blob(const void *data, size_t size);

/* Builders: a new empty Vector, Array or Set (or Struct, whose items are its
 * fields in type order), filled by appending; a Matrix of rows x cols filled row
 * by row; a Dict filled by inserting pairs. Append and insert take over their
 * arguments. A builder belongs to its maker until it is handed on. */
VORN_C_API VornValue *vorn_value_list(VornKind kind, size_t capacity);
VORN_C_API VornValue *vorn_value_matrix(size_t rows, size_t cols);
VORN_C_API VornValue *vorn_value_dict(size_t capacity);
VORN_C_API void vorn_value_append(VornValue *list, VornValue *item);
VORN_C_API void vorn_value_insert(VornValue *dict, VornValue *key, VornValue *value);
VORN_C_API VornValue *vorn_value_variant(size_t case_index, VornValue *payload);
VORN_C_API VornValue *vorn_value_ref(VornValue *target);
/* A Function value holding an opaque payload that `release` frees with the value. */
VORN_C_API VornValue *vorn_value_function(void *payload, void (*release)(void *));

VORN_C_API bool vorn_value_get_bool(const VornValue *value);
VORN_C_API int64_t vorn_value_get_int(const VornValue *value);
VORN_C_API double vorn_value_get_float(const VornValue *value);
VORN_C_API int64_t vorn_value_get_datetime(const VornValue *value);
/* Bytes of a String or Blob. */
VORN_C_API const char *vorn_value_get_bytes(const VornValue *value, size_t *size);
/* Items of a list kind or Struct, or pairs of a Dict. */
VORN_C_API size_t vorn_value_count(const VornValue *value);
VORN_C_API VornValue *vorn_value_item(const VornValue *value, size_t i);
VORN_C_API VornValue *vorn_value_dict_key(const VornValue *value, size_t i);
VORN_C_API VornValue *vorn_value_dict_value(const VornValue *value, size_t i);
VORN_C_API void vorn_value_matrix_shape(const VornValue *value, size_t *rows, size_t *cols);
VORN_C_API size_t vorn_value_variant_case(const VornValue *value);
VORN_C_API VornValue *vorn_value_variant_payload(const VornValue *value);
/* A Ref's target is mutable: get returns a new reference, set takes one over.
 * Counting does not collect cycles: a Ref made to reach itself stays alive until
 * its target is set to something else. */
VORN_C_API VornValue *vorn_value_ref_get(VornValue *ref);
VORN_C_API void vorn_value_ref_set(VornValue *ref, VornValue *target);
VORN_C_API void *vorn_value_function_payload(const VornValue *value, void (**release)(void *));

/* Vorn equality of two values by their contents: NaN equals itself, -0.0 differs
 * from +0.0, Sets and Dicts are equal regardless of order, a Ref only to itself. */
VORN_C_API bool vorn_values_equal(const VornValue *a, const VornValue *b);
/* Position of the first element of a Set, or pair of a Dict, whose element or key
 * equals an earlier one; -1 when all differ (or for other kinds), -2 when out of
 * memory. */
VORN_C_API ptrdiff_t vorn_value_first_repeat(const VornValue *value);
/* Drops every element of a Set builder that equals an earlier one; false when out
 * of memory or not a Set. */
VORN_C_API bool vorn_value_drop_repeats(VornValue *set);

/* ---- Results -------------------------------------------------------------- */

/* An error result holding a strdup'ed copy of `message`. */
VORN_C_API EvalResult vorn_eval_error(const char *message);
/* Releases what a result owns and zeroes it. */
VORN_C_API void vorn_eval_result_clear(EvalResult *result);

/* ---- Platform registries ---------------------------------------------------- */

typedef enum VornEntryForm { VORN_ENTRY_PLAIN = 0, VORN_ENTRY_TYPED, VORN_ENTRY_GENERIC } VornEntryForm;

/* One registration, as the registry keeps it; everything borrowed. */
typedef struct VornPlatformEntry {
    const char *name;
    VornEntryForm form;
    bool is_async;
    PlatformFn fn;            /* plain and typed */
    GenericFactory factory;   /* generic */
    VornType *const *inputs;  /* typed */
    size_t n_inputs;
    VornType *output;         /* typed */
} VornPlatformEntry;

/* Every registration in order, duplicates included; a call uses the latest one of
 * its name. Registering and calling are safe from any thread; freeing a registry
 * while a call on it runs is not. */
VORN_C_API size_t vorn_platform_entry_count(PlatformRegistry *registry);
VORN_C_API bool vorn_platform_entry(PlatformRegistry *registry, size_t i, VornPlatformEntry *out);
VORN_C_API ptrdiff_t vorn_platform_find(PlatformRegistry *registry, const char *name);

/* Calls platform function `name` as the runtime does: the registry's pre_call hook
 * with (registry, name, type_args, n_type_args), then, on the same thread, the
 * function (a generic one's obtained from its factory with the type arguments). A
 * typed registration receives its declared inputs and output as arg_types and
 * ret_type; any other receives those given here. The caller owns the result. */
VORN_C_API EvalResult vorn_platform_call(PlatformRegistry *registry, const char *name,
                                         VornValue **args, size_t nargs,
                                         VornType **arg_types, size_t n_arg_types,
                                         VornType *ret_type,
                                         VornType **type_args, size_t n_type_args);

/* ---- Built-ins and context -------------------------------------------------- */

VORN_C_API size_t vorn_builtin_count(BuiltinRegistry *registry);
VORN_C_API const char *vorn_builtin_name(BuiltinRegistry *registry, size_t i);
/* Calls built-in `name`; an error result when there is none. */
VORN_C_API EvalResult vorn_builtin_call(BuiltinRegistry *registry, const char *name,
                                        VornValue **args, size_t nargs,
                                        VornType **arg_types, size_t n_arg_types,
                                        VornType *ret_type);

/* The calling thread's context, NULL where none was set. */
VORN_C_API PlatformRegistry *vorn_thread_platform_registry(void);
VORN_C_API BuiltinRegistry *vorn_thread_builtin_registry(void);
VORN_C_API bool vorn_type_of_type_ready(void);

/* How often each start-up and registry function has run in this process. */
typedef struct VornRuntimeCounters {
    long builtin_registries_made;
    long builtins_registrations;
    long platform_registries_made;
    long platform_registries_freed;
    long thread_contexts_set;
    long type_of_type_inits;
} VornRuntimeCounters;

#ifdef VORN_TEST_HOOKS
VORN_C_API void vorn_runtime_counters(VornRuntimeCounters *out);

/* The names of the start-up and registry calls (builtin_registry_new,
 * vorn_register_all_builtins, platform_registry_new, platform_registry_free,
 * vorn_set_thread_context, vorn_type_of_type_init) in the order they ran: the first
 * `capacity` go to `out`; returns how many ran in all. */
VORN_C_API size_t vorn_setup_calls(const char **out, size_t capacity);
#endif

/* ---- Heap buffers across the boundary -------------------------------------- */

/* Buffers alive that crossed the boundary: printed texts handed to callers and not
 * yet freed, messages of error results taken over from platform functions and not
 * yet released (vorn_eval_result_clear), names held by registries; and how often a
 * message was handed over while the runtime already held it. Printed texts are
 * counted in test builds only, where modules linked with --wrap=free against this
 * runtime reach __wrap_free; elsewhere printed_texts is 0. */
typedef struct VornLiveBuffers {
    long printed_texts;
    long error_messages;
    long registry_names;
    long repeated_messages;
} VornLiveBuffers;

VORN_C_API void vorn_live_buffers(VornLiveBuffers *out);

#ifdef VORN_TEST_HOOKS
VORN_C_API void __wrap_free(void *p);

/* Test fixture: while set (bytes not NULL), vorn_print_type and vorn_print_value
 * return a copy of exactly these `size` bytes, NUL-terminated, whatever they are
 * given (NULL arguments still give NULL). NULL unsets it. False when out of memory. */
VORN_C_API bool vorn_testing_print_override(const char *bytes, size_t size);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VORN_C_EXT_H */
