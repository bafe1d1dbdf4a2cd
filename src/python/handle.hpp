// Owning handle for PyObject*.
//
// Ownership rules, stated once:
//  * A Ref owns exactly one strong reference, or nothing (null).
//  * Ref::steal(p) takes over a reference the caller already owns (the result of
//    a C API call documented as returning a new reference).
//  * Ref::borrow(p) takes a new reference of its own (Py_INCREF) to an object
//    the caller only borrows.
//  * get() lends the pointer without giving up ownership; release() hands the
//    reference back to the caller (to return it to the interpreter, or to give
//    it to a stealing API such as PyList_SetItem).
// Refs are move-only and never convert implicitly, so every transfer of
// ownership is visible in the code and no error path needs a Py_DECREF.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavrik::python {

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace tavrik::python
