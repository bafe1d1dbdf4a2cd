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

PyTypeObject* create_layer_type() {
    intern(layer_signature);
    return create_class<Layer>({
        {Py_tp_doc, const_cast<char*>("Layer(n, d)\n--\n\n")},
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
