// Layer(n, d): an immutable value holder for one slab of the stack.
#include "binding.hpp"

#include <string>

#include "layer.hpp"
#include "text.hpp"

namespace tavrik::python {
namespace {

const char* const layer_names[] = {"n", "d"};
PyObject* layer_interned[2] = {};
Signature layer_signature = {"Layer.__new__()", layer_names, 2, 2, layer_interned};

PyObject* layer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        intern(layer_signature);
        PyObject* arg[2];
        fit_tuple_dict(layer_signature, args, kwargs, arg);
        const double n = to_double(arg[0], "n");
        const double d = to_double(arg[1], "d");
        return new_cell(type, Layer{n, d});
    });
}

PyObject* layer_str(PyObject* self) {
    return guarded([&] {
        auto& cell = cell_of<Layer>(self, "Layer");
        SharedAccess access(cell.borrow);
        const std::string text = "Layer(n=" + format_decimal(cell.value.n) +
                                 ", d=" + format_decimal(cell.value.d) + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyTypeObject* create_layer_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("Layer(n, d)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(layer_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cell<Layer>)},
        {Py_tp_repr, reinterpret_cast<void*>(layer_str)},
        {Py_tp_str, reinterpret_cast<void*>(layer_str)},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {"Layer", sizeof(Cell<Layer>), 0, Py_TPFLAGS_DEFAULT, slots};
    return create_type(&type_spec, "Layer");
}

}  // namespace

template <>
PyTypeObject* type_of<Layer>() {
    static PyTypeObject* type = create_layer_type();
    return type;
}

}  // namespace tavrik::python
