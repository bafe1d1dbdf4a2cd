// DispersionData: neff, group index and GVD of every mode over a list of omegas.
// omega is a list of floats; neff, group_index and gvd are lists of rows, one
// row per mode number and one column per omega, NaN where the mode is not
// guided. Each attribute read builds new lists; it pickles through the class
// method _rebuild, as the other result classes do.
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

PyObject* dispersion_data_reduce(PyObject* self, PyObject*) {
    return guarded([&] { return reduce_to_rebuild(self, {"omega", "neff", "group_index", "gvd"}); });
}

// The rows of one table, one list of `width` floats per mode, laid end to end;
// `modes` is the number of rows, which the three tables must share.
std::vector<double> rows_from(PyObject* rows, std::size_t width, std::size_t& modes) {
    if (!PyList_Check(rows)) raise_cannot_convert(rows, "list");
    modes = static_cast<std::size_t>(PyList_Size(rows));
    std::vector<double> values;
    for (std::size_t m = 0; m < modes; ++m) {
        const std::vector<double> row = doubles_from(PyList_GetItem(rows, static_cast<Py_ssize_t>(m)));
        if (row.size() != width) raise(PyExc_ValueError, "every row must have one value per omega");
        values.insert(values.end(), row.begin(), row.end());
    }
    return values;
}

PyObject* dispersion_data_rebuild(PyObject* type, PyObject* args) {
    return guarded([&] {
        PyObject *omega = nullptr, *neff = nullptr, *group_index = nullptr, *gvd = nullptr;
        if (!PyArg_ParseTuple(args, "OOOO:_rebuild", &omega, &neff, &group_index, &gvd)) throw PythonError{};
        DispersionTable table;
        table.omega = doubles_from(omega);
        std::size_t modes[3] = {};
        table.neff = rows_from(neff, table.omega.size(), modes[0]);
        table.group_index = rows_from(group_index, table.omega.size(), modes[1]);
        table.gvd = rows_from(gvd, table.omega.size(), modes[2]);
        if (modes[1] != modes[0] || modes[2] != modes[0]) raise(PyExc_ValueError, "the tables differ in rows");
        table.modes = modes[0];
        return new_cell(reinterpret_cast<PyTypeObject*>(type), std::move(table));
    });
}

PyTypeObject* create_dispersion_data_type() {
    static PyGetSetDef getset[] = {
        {"omega", get_omega, nullptr, doc::DispersionData_omega, nullptr},
        {"neff", get_rows<&DispersionTable::neff>, nullptr, doc::DispersionData_neff, nullptr},
        {"group_index", get_rows<&DispersionTable::group_index>, nullptr, doc::DispersionData_group_index,
         nullptr},
        {"gvd", get_rows<&DispersionTable::gvd>, nullptr, doc::DispersionData_gvd, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"__reduce__", dispersion_data_reduce, METH_NOARGS, nullptr},
        {"_rebuild", dispersion_data_rebuild, METH_VARARGS | METH_CLASS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    return create_class<DispersionTable>({
        {Py_tp_doc, const_cast<char*>(doc::DispersionData)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
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
