// BackEnd and Polarization: one-byte enumerations whose members are class
// attributes made with the class. A member equals its own integer value and the
// members of its class with the same value; ordering is left to the host, which
// refuses it.
#include "binding.hpp"

#include <string>

#include "layer.hpp"

namespace tavrik::python {
namespace {

// The member names, in the order of their values.
template <class E>
struct EnumInfo;

template <>
struct EnumInfo<BackEnd> {
    static constexpr const char* members[2] = {"Scattering", "Transfer"};
};

template <>
struct EnumInfo<Polarization> {
    static constexpr const char* members[2] = {"TE", "TM"};
};

template <class E>
long value_of(PyObject* self) {
    return static_cast<long>(reinterpret_cast<Cell<E>*>(self)->value);
}

template <class E>
PyObject* enum_repr(PyObject* self) {
    return guarded([&] {
        auto& cell = cell_of<E>(self);
        SharedAccess access(cell.borrow);
        const auto v = static_cast<unsigned>(cell.value);
        const std::string text = std::string(class_name<E>) + "." +
                                 (v < 2 ? EnumInfo<E>::members[v] : "?");
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

template <class E>
PyObject* enum_int(PyObject* self) {
    return guarded([&] {
        auto& cell = cell_of<E>(self);
        SharedAccess access(cell.borrow);
        return PyLong_FromLongLong(static_cast<long long>(cell.value));
    });
}

// The integer value of `other`, or false when it has none (the conversion's
// error is discarded, never raised).
bool integer_value(PyObject* other, long long* out) {
    Ref index = PyLong_Check(other) ? Ref::borrow(other) : Ref::steal(PyNumber_Index(other));
    if (!index) {
        PyErr_Clear();
        return false;
    }
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *out = v;
    return true;
}

template <class E>
PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
    return guarded([&]() -> PyObject* {
        PyTypeObject* type = type_of<E>();
        if (!PyObject_TypeCheck(self, type)) Py_RETURN_NOTIMPLEMENTED;
        auto& cell = *reinterpret_cast<Cell<E>*>(self);
        if (cell.borrow == -1) Py_RETURN_NOTIMPLEMENTED;
        if (op != Py_EQ && op != Py_NE && op != Py_LT && op != Py_LE && op != Py_GT && op != Py_GE) {
            Py_RETURN_NOTIMPLEMENTED;
        }
        const long long v = static_cast<long long>(cell.value);
        long long w = 0;
        if (!integer_value(other, &w)) {
            if (!PyObject_TypeCheck(other, type)) Py_RETURN_NOTIMPLEMENTED;
            auto& other_cell = *reinterpret_cast<Cell<E>*>(other);
            SharedAccess access(other_cell.borrow);
            w = static_cast<long long>(other_cell.value);
        }
        if (op == Py_EQ) return PyBool_FromLong(v == w);
        if (op == Py_NE) return PyBool_FromLong(v != w);
        Py_RETURN_NOTIMPLEMENTED;
    });
}

template <class E>
PyTypeObject* create_enum_type() {
    PyTypeObject* type = create_class<E>({
        {Py_tp_repr, reinterpret_cast<void*>(enum_repr<E>)},
        {Py_nb_int, reinterpret_cast<void*>(enum_int<E>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(enum_richcompare<E>)},
    });
    for (unsigned v = 0; v < 2; ++v) {
        Ref member = Ref::steal(new_cell(type, static_cast<E>(v)));
        require(PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), EnumInfo<E>::members[v], member.get()));
    }
    return type;
}

}  // namespace

template <>
PyTypeObject* type_of<BackEnd>() {
    static PyTypeObject* type = create_enum_type<BackEnd>();
    return type;
}

template <>
PyTypeObject* type_of<Polarization>() {
    static PyTypeObject* type = create_enum_type<Polarization>();
    return type;
}

}  // namespace tavrik::python
