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

PyObject* field_data_reduce(PyObject* self, PyObject*) {
    return guarded([&] { return reduce_to_rebuild(self, {"x", "Ex", "Ey", "Ez", "Hx", "Hy", "Hz"}); });
}

PyObject* field_data_rebuild(PyObject* type, PyObject* args) {
    return guarded([&] {
        PyObject* part[7] = {};
        if (!PyArg_ParseTuple(args, "OOOOOOO:_rebuild", &part[0], &part[1], &part[2], &part[3], &part[4],
                              &part[5], &part[6])) {
            throw PythonError{};
        }
        FieldData field{doubles_from(part[0]),     complexes_from(part[1]), complexes_from(part[2]),
                        complexes_from(part[3]), complexes_from(part[4]), complexes_from(part[5]),
                        complexes_from(part[6])};
        for (const auto* component : {&field.Ex, &field.Ey, &field.Ez, &field.Hx, &field.Hy, &field.Hz}) {
            if (component->size() != field.x.size()) raise(PyExc_ValueError, "the components differ in length from x");
        }
        return new_cell(reinterpret_cast<PyTypeObject*>(type), std::move(field));
    });
}

PyTypeObject* create_field_data_type() {
    static PyGetSetDef getset[] = {
        {"x", get_x, nullptr, doc::FieldData_x, nullptr},
        {"Ex", get_component<&FieldData::Ex>, nullptr, doc::FieldData_Ex, nullptr},
        {"Ey", get_component<&FieldData::Ey>, nullptr, doc::FieldData_Ey, nullptr},
        {"Ez", get_component<&FieldData::Ez>, nullptr, doc::FieldData_Ez, nullptr},
        {"Hx", get_component<&FieldData::Hx>, nullptr, doc::FieldData_Hx, nullptr},
        {"Hy", get_component<&FieldData::Hy>, nullptr, doc::FieldData_Hy, nullptr},
        {"Hz", get_component<&FieldData::Hz>, nullptr, doc::FieldData_Hz, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"__reduce__", field_data_reduce, METH_NOARGS, nullptr},
        {"_rebuild", field_data_rebuild, METH_VARARGS | METH_CLASS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    return create_class<FieldData>({
        {Py_tp_doc, const_cast<char*>(doc::FieldData)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
    });
}

}  // namespace

template <>
PyTypeObject* type_of<FieldData>() {
    static PyTypeObject* type = create_field_data_type();
    return type;
}

PyObject* new_field_data(FieldData&& field) { return new_cell(type_of<FieldData>(), std::move(field)); }

}  // namespace tavrik::python
