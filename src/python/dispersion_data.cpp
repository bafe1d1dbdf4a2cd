// DispersionData: neff, group index and GVD of every mode over a list of omegas.
// omega is a list of floats; neff, group_index and gvd are lists of rows, one
// row per mode number and one column per omega, NaN where the mode is not
// guided. Each attribute read builds new lists.
#include "binding.hpp"

#include "dispersion.hpp"

namespace tavrik::python {
namespace {

PyObject* get_omega(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<DispersionTable>(self);
        SharedAccess access(cell.borrow);
        return list_from(cell.value.omega, PyFloat_FromDouble);
    });
}

template <std::vector<double> DispersionTable::*member>
PyObject* get_rows(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<DispersionTable>(self);
        SharedAccess access(cell.borrow);
        const DispersionTable& table = cell.value;
        const std::vector<double>& values = table.*member;
        const std::size_t width = table.omega.size();
        Ref rows = require(Ref::steal(PyList_New(static_cast<Py_ssize_t>(table.modes))));
        for (std::size_t m = 0; m < table.modes; ++m) {
            Ref row = require(Ref::steal(PyList_New(static_cast<Py_ssize_t>(width))));
            for (std::size_t i = 0; i < width; ++i) {
                list_set(row.get(), static_cast<Py_ssize_t>(i), PyFloat_FromDouble(values[m * width + i]));
            }
            list_set(rows.get(), static_cast<Py_ssize_t>(m), row.release());
        }
        return rows.release();
    });
}

PyTypeObject* create_dispersion_data_type() {
    static PyGetSetDef getset[] = {
        {"omega", get_omega, nullptr, "the vacuum wavenumbers given, in order", nullptr},
        {"neff", get_rows<&DispersionTable::neff>, nullptr,
         "effective index: row m = mode m, column i = omega[i]; NaN where not guided", nullptr},
        {"group_index", get_rows<&DispersionTable::group_index>, nullptr,
         "group index d beta / d omega, laid out as neff", nullptr},
        {"gvd", get_rows<&DispersionTable::gvd>, nullptr,
         "d^2 beta / d omega^2 in the unit of the thicknesses, laid out as neff", nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    return create_class<DispersionTable>({
        {Py_tp_doc, const_cast<char*>(
                        "neff, group index and GVD of every guided mode over a list of omegas "
                        "(the result of MultiLayer.dispersion)")},
        {Py_tp_getset, getset},
    });
}

}  // namespace

template <>
PyTypeObject* type_of<DispersionTable>() {
    static PyTypeObject* type = create_dispersion_data_type();
    return type;
}

PyObject* new_dispersion_data(DispersionTable&& table) {
    return new_cell(type_of<DispersionTable>(), std::move(table));
}

}  // namespace tavrik::python
