// Layer(n, d): an immutable value holder for one slab of the stack.
#include "binding.hpp"

#include <string>

#include "layer.hpp"
#include "text.hpp"

namespace tavrik::python {
namespace {

const char* const layer_names[] = {"n", "d"};
Signature layer_signature("Layer.__new__()", layer_names, 2);

PyObject* layer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const Arguments arg = fit_tuple_dict(layer_signature, args, kwargs);
        const double n = to_double(arg[0], "n");
        const double d = to_double(arg[1], "d");
        return new_cell(type, Layer{n, d});
    });
}

PyObject* layer_str(PyObject* self) {
    return guarded([&] {
        auto& cell = cell_of<Layer>(self);
        SharedAccess access(cell.borrow);
        const std::string text = "Layer(n=" + format_decimal(cell.value.n) +
                                 ", d=" + format_decimal(cell.value.d) + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

template <double Layer::*member>
PyObject* get_value(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<Layer>(self);
        SharedAccess access(cell.borrow);
        return PyFloat_FromDouble(cell.value.*member);
    });
}

PyObject* layer_reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        Ref n = require(Ref::steal(get_value<&Layer::n>(self, nullptr)));
        Ref d = require(Ref::steal(get_value<&Layer::d>(self, nullptr)));
        return reduce_value(self, require(Ref::steal(PyTuple_Pack(2, n.get(), d.get()))));
    });
}

PyTypeObject* create_layer_type() {
    static PyGetSetDef getset[] = {
        {"n", get_value<&Layer::n>, nullptr, doc::Layer_n, nullptr},
        {"d", get_value<&Layer::d>, nullptr, doc::Layer_d, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"__reduce__", layer_reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    intern(layer_signature);
    return create_class<Layer>({
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
PyTypeObject* type_of<Layer>() {
    static PyTypeObject* type = create_layer_type();
    return type;
}

}  // namespace tavrik::python
