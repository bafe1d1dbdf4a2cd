// Layer(n, d): an immutable value holder for one slab of the stack. The index
// may be complex (an absorbing, metallic or amplifying layer); a complex index
// with a zero imaginary part is the real index, in every respect.
#include "binding.hpp"

#include <string>

#include "complex_layer.hpp"
#include "text.hpp"

namespace tavrik::python {
namespace {

const char* const layer_names[] = {"n", "d"};
Signature layer_signature("Layer.__new__()", layer_names, 2);

bool is_complex(const ComplexLayer& layer) { return layer.n.im != 0.0; }

PyObject* layer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const Arguments arg = fit_tuple_dict(layer_signature, args, kwargs);
        Complex n = to_index(arg[0], "n");
        const double d = to_double(arg[1], "d");
        if (n.im == 0.0) n.im = 0.0;  // -0.0 too: a real index
        return new_cell(type, ComplexLayer{n, d});
    });
}

// A complex index reads as Python writes a complex: "(1.5+0.01j)".
std::string format_index(Complex n) { return n.im == 0.0 ? format_decimal(n.re) : format_complex(n); }

PyObject* layer_str(PyObject* self) {
    return guarded([&] {
        auto& cell = cell_of<ComplexLayer>(self);
        SharedAccess access(cell.borrow);
        const std::string text = "Layer(n=" + format_index(cell.value.n) +
                                 ", d=" + format_decimal(cell.value.d) + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* get_n(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<ComplexLayer>(self);
        SharedAccess access(cell.borrow);
        const Complex n = cell.value.n;
        return is_complex(cell.value) ? PyComplex_FromDoubles(n.re, n.im) : PyFloat_FromDouble(n.re);
    });
}

PyObject* get_d(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<ComplexLayer>(self);
        SharedAccess access(cell.borrow);
        return PyFloat_FromDouble(cell.value.d);
    });
}

// (Layer, (n, d)): n as the getter gives it, a complex for a complex index.
PyObject* layer_reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        Ref n = require(Ref::steal(get_n(self, nullptr)));
        Ref d = require(Ref::steal(get_d(self, nullptr)));
        return reduce_value(self, require(Ref::steal(PyTuple_Pack(2, n.get(), d.get()))));
    });
}

PyTypeObject* create_layer_type() {
    static PyGetSetDef getset[] = {
        {"n", get_n, nullptr, doc::Layer_n, nullptr},
        {"d", get_d, nullptr, doc::Layer_d, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"__reduce__", layer_reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    intern(layer_signature);
    return create_class<ComplexLayer>({
        {Py_tp_doc, const_cast<char*>(doc::Layer)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
        {Py_tp_new, reinterpret_cast<void*>(layer_new)},
        {Py_tp_repr, reinterpret_cast<void*>(layer_str)},
        {Py_tp_str, reinterpret_cast<void*>(layer_str)},
    });
}

}  // namespace

template <>
PyTypeObject* type_of<ComplexLayer>() {
    static PyTypeObject* type = create_layer_type();
    return type;
}

}  // namespace tavrik::python
