// Running the coroutine of an async platform function to completion. Each thread has
// its own event loop, made on its first coroutine and reused; the main thread's loop
// is the module attribute `_event_loop`. Loops are never installed as a thread's
// current loop and never closed here.
#include "vorn/pfnlink.hpp"

namespace vorn::pfnlink {
namespace {

bool on_main_thread() noexcept {
    return _PyOS_IsMainThread() != 0;
}

// The calling thread's loop, or None. New reference.
PyObject* thread_loop() noexcept {
    if (on_main_thread()) return global(str<"_event_loop">());
    Ref store = Ref::steal(global(str<"_thread_event_loops">()));
    if (!store) return nullptr;
    PyObject* loop = nullptr;
    if (_PyObject_LookupAttr(store.get(), str<"loop">(), &loop) < 0) return nullptr;
    return loop ? loop : Py_NewRef(Py_None);
}

int set_thread_loop(PyObject* loop) noexcept {
    if (on_main_thread()) return PyDict_SetItem(globals(), str<"_event_loop">(), loop);
    Ref store = Ref::steal(global(str<"_thread_event_loops">()));
    if (!store) return -1;
    return PyObject_SetAttr(store.get(), str<"loop">(), loop);
}

}  // namespace

PyObject* run_async(PyObject* coro) noexcept {
    Ref loop = Ref::steal(thread_loop());
    if (!loop) return nullptr;
    bool fresh = loop.get() == Py_None;
    if (!fresh) {
        Ref closed = Ref::steal(PyObject_CallMethodNoArgs(loop.get(), str<"is_closed">()));
        if (!closed) return nullptr;
        int is_closed = PyObject_IsTrue(closed.get());
        if (is_closed < 0) return nullptr;
        fresh = is_closed;
    }
    if (fresh) {
        Ref asyncio = Ref::steal(global(str<"asyncio">()));
        if (!asyncio) return nullptr;
        loop = Ref::steal(PyObject_CallMethodNoArgs(asyncio.get(), str<"new_event_loop">()));
        if (!loop || set_thread_loop(loop.get()) < 0) return nullptr;
    }
    return PyObject_CallMethodOneArg(loop.get(), str<"run_until_complete">(), coro);
}

}  // namespace vorn::pfnlink
