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

PyTypeObject* create_index_data_type() {
    static PyGetSetDef getset[] = {
        {"x", get_floats<&IndexProfile::x>, nullptr, nullptr, nullptr},
        {"n", get_floats<&IndexProfile::n>, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    return create_class<IndexProfile>({{Py_tp_getset, getset}});
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
