// FieldData: the six normalised field components of one mode on the grid; each
// attribute read builds a new list.
#include "binding.hpp"

#include "multilayer.hpp"

namespace tavrik::python {
namespace {

PyObject* get_x(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<FieldData>(self);
        SharedAccess access(cell.borrow);
        return list_from(cell.value.x, PyFloat_FromDouble);
    });
}

PyObject* make_complex(const Complex& z) { return PyComplex_FromDoubles(z.re, z.im); }

template <std::vector<Complex> FieldData::*member>
PyObject* get_component(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<FieldData>(self);
        SharedAccess access(cell.borrow);
        return list_from(cell.value.*member, make_complex);
    });
}

PyTypeObject* create_field_data_type() {
    static PyGetSetDef getset[] = {
        {"x", get_x, nullptr, nullptr, nullptr},
        {"Ex", get_component<&FieldData::Ex>, nullptr, nullptr, nullptr},
        {"Ey", get_component<&FieldData::Ey>, nullptr, nullptr, nullptr},
        {"Ez", get_component<&FieldData::Ez>, nullptr, nullptr, nullptr},
        {"Hx", get_component<&FieldData::Hx>, nullptr, nullptr, nullptr},
        {"Hy", get_component<&FieldData::Hy>, nullptr, nullptr, nullptr},
        {"Hz", get_component<&FieldData::Hz>, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    return create_class<FieldData>({{Py_tp_getset, getset}});
}

}  // namespace

template <>
PyTypeObject* type_of<FieldData>() {
    static PyTypeObject* type = create_field_data_type();
    return type;
}

PyObject* new_field_data(FieldData&& field) { return new_cell(type_of<FieldData>(), std::move(field)); }

}  // namespace tavrik::python
