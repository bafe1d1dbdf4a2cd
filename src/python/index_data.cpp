// IndexData: the index profile across the stack; each attribute read builds a new list.
#include "binding.hpp"

#include "multilayer.hpp"

namespace tavrik::python {
namespace {

template <std::vector<double> IndexProfile::*member>
PyObject* get_floats(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<IndexProfile>(self);
        SharedAccess access(cell.borrow);
        return list_from(cell.value.*member, PyFloat_FromDouble);
    });
}

// n: floats, or complex values for a stack with a complex index.
PyObject* get_n(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<IndexProfile>(self);
        SharedAccess access(cell.borrow);
        const IndexProfile& profile = cell.value;
        if (profile.n_imag.empty()) return list_from(profile.n, PyFloat_FromDouble);
        Ref list = require(Ref::steal(PyList_New(static_cast<Py_ssize_t>(profile.n.size()))));
        for (std::size_t k = 0; k < profile.n.size(); ++k) {
            PyObject* value = require(Ref::steal(PyComplex_FromDoubles(profile.n[k], profile.n_imag.at(k)))).release();
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), value);
        }
        return list.release();
    });
}

PyObject* index_data_reduce(PyObject* self, PyObject*) {
    return guarded([&] { return reduce_to_rebuild(self, {"x", "n"}); });
}

PyObject* index_data_rebuild(PyObject* type, PyObject* args) {
    return guarded([&] {
        PyObject *x = nullptr, *n = nullptr;
        if (!PyArg_ParseTuple(args, "OO:_rebuild", &x, &n)) throw PythonError{};
        IndexProfile profile{doubles_from(x), {}, {}};
        bool complex_values = false;
        for (Py_ssize_t k = 0; PyList_Check(n) && k < PyList_Size(n); ++k) {
            complex_values = complex_values || PyComplex_Check(PyList_GetItem(n, k));
        }
        if (complex_values) {
            for (const Complex value : complexes_from(n)) {
                profile.n.push_back(value.re);
                profile.n_imag.push_back(value.im);
            }
        } else {
            profile.n = doubles_from(n);
        }
        if (profile.x.size() != profile.n.size()) raise(PyExc_ValueError, "x and n differ in length");
        return new_cell(reinterpret_cast<PyTypeObject*>(type), std::move(profile));
    });
}

PyTypeObject* create_index_data_type() {
    static PyGetSetDef getset[] = {
        {"x", get_floats<&IndexProfile::x>, nullptr, doc::IndexData_x, nullptr},
        {"n", get_n, nullptr, doc::IndexData_n, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"__reduce__", index_data_reduce, METH_NOARGS, nullptr},
        {"_rebuild", index_data_rebuild, METH_VARARGS | METH_CLASS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    return create_class<IndexProfile>({
        {Py_tp_doc, const_cast<char*>(doc::IndexData)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
    });
}

}  // namespace

template <>
PyTypeObject* type_of<IndexProfile>() {
    static PyTypeObject* type = create_index_data_type();
    return type;
}

PyObject* new_index_data(IndexProfile&& profile) {
    return new_cell(type_of<IndexProfile>(), std::move(profile));
}

}  // namespace tavrik::python
