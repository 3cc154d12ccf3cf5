// Running the coroutine of an async platform function to completion. Each thread has
// its own event loop, made on its first coroutine and reused; the main thread's loop
// is the module attribute `_event_loop`, another thread's lives in the thread-local
// `_thread_event_loops`. Loops are never installed as a thread's current loop, and
// none is closed while its thread can still use it.
#include "common/compat.hpp"
#include "common/static_type.hpp"
#include "vorn/pfnlink.hpp"

namespace vorn::pfnlink {
namespace {

// Kept beside a thread's loop in `_thread_event_loops`: when the thread ends, its
// thread-local values are dropped, and this closes the loop, which no one can run
// any more, instead of leaving its selector and sockets to the cyclic collector.
struct LoopCloser {
    PyObject_HEAD
    PyObject* loop;  // owned
};

void close_if_idle(PyObject* loop) noexcept {
    Ref running = Ref::steal(PyObject_CallMethodNoArgs(loop, str<"is_running">()));
    int busy = running ? PyObject_IsTrue(running.get()) : -1;
    Ref closed;
    if (busy == 0) closed = Ref::steal(PyObject_CallMethodNoArgs(loop, str<"close">()));
    if (busy < 0 || (busy == 0 && !closed)) PyErr_WriteUnraisable(loop);
}

void loop_closer_dealloc(PyObject* self) noexcept {
    auto* closer = reinterpret_cast<LoopCloser*>(self);
    if (closer->loop) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);  // the loop's close() runs Python code
        close_if_idle(closer->loop);
        Py_CLEAR(closer->loop);
        PyErr_Restore(type, value, tb);
    }
    Py_TYPE(self)->tp_free(self);
}

PyTypeObject LoopCloserType{};

PyObject* new_loop_closer(PyObject* loop) noexcept {
    if (ready_static_type(LoopCloserType, [](PyTypeObject& t) {
            t.tp_name = "vorn._pfnlink._LoopCloser";
            t.tp_basicsize = sizeof(LoopCloser);
            t.tp_dealloc = loop_closer_dealloc;
            t.tp_flags = Py_TPFLAGS_DEFAULT;
            t.tp_doc = "Closes a thread's event loop when the thread's local values are dropped.";
        }) < 0)
        return nullptr;
    auto* closer = PyObject_New(LoopCloser, &LoopCloserType);
    if (!closer) return nullptr;
    closer->loop = Py_NewRef(loop);
    return reinterpret_cast<PyObject*>(closer);
}

bool on_main_thread() noexcept {
    return compat::is_main_thread();
}

// The calling thread's loop, or None. New reference.
PyObject* thread_loop() noexcept {
    if (on_main_thread()) return global(str<"_event_loop">());
    Ref store = Ref::steal(global(str<"_thread_event_loops">()));
    if (!store) return nullptr;
    PyObject* loop = nullptr;
    if (compat::lookup_attr(store.get(), str<"loop">(), &loop) < 0) return nullptr;
    return loop ? loop : Py_NewRef(Py_None);
}

int set_thread_loop(PyObject* loop) noexcept {
    if (on_main_thread()) return PyDict_SetItem(globals(), str<"_event_loop">(), loop);
    Ref store = Ref::steal(global(str<"_thread_event_loops">()));
    Ref closer = Ref::steal(new_loop_closer(loop));
    if (!store || !closer) return -1;
    if (PyObject_SetAttr(store.get(), str<"loop">(), loop) < 0) return -1;
    return PyObject_SetAttr(store.get(), str<"closer">(), closer.get());
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
