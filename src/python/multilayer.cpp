// MultiLayer(layers): the stack and its settings, and the three computations.
#include "binding.hpp"

#include <variant>

#include "multilayer.hpp"

namespace tavrik::python {

PyObject* new_index_data(IndexProfile&& profile);
PyObject* new_field_data(FieldData&& field);

namespace {

const char* const new_names[] = {"layers"};
PyObject* new_interned[1] = {};
Signature new_signature = {"MultiLayer.__new__()", new_names, 1, 1, new_interned};

const char* const mode_names[] = {"omega", "polarization", "mode"};
PyObject* neff_interned[3] = {};
Signature neff_signature = {"MultiLayer.neff()", mode_names, 3, 1, neff_interned};
PyObject* field_interned[3] = {};
Signature field_signature = {"MultiLayer.field()", mode_names, 3, 1, field_interned};

PyObject* multilayer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        intern(new_signature);
        PyObject* arg[1];
        fit_tuple_dict(new_signature, args, kwargs, arg);
        MultiLayer record;
        record.layers = to_layers(arg[0], "layers");
        return new_cell(type, std::move(record));
    });
}

PyObject* get_plot_step(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
        SharedAccess access(cell.borrow);
        return PyFloat_FromDouble(cell.value.plot_step);
    });
}

int set_plot_step(PyObject* self, PyObject* value, void*) {
    return guarded_as<int>(-1, [&] {
        if (value == nullptr) raise(PyExc_AttributeError, "can't delete attribute");
        const double step = to_double(value, "plot_step");
        auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
        ExclusiveAccess access(cell.borrow);
        cell.value.plot_step = step;
        return 0;
    });
}

// The arguments of neff and field, fitted and converted in the order
// omega, polarization, mode, after the receiver is checked and borrowed.
struct ModeRequest {
    double omega;
    Polarization polarization;
    std::uint32_t mode;
};

ModeRequest convert_mode_request(PyObject* const* arg) {
    ModeRequest request{};
    request.omega = to_double(arg[0], "omega");
    request.polarization = to_polarization(arg[1], "polarization");
    request.mode = to_mode(arg[2], "mode");
    return request;
}

// An orderly failure of the search: the base Exception with the text as its
// only argument. It is set and handed back as the error value instead of being
// thrown as PythonError: asking for the mode past the last one is an ordinary
// outcome, and unwinding a C++ exception through the entry point costs more
// than the rest of such a call (argument fitting, search setup, message) put
// together.
PyObject* search_failure(const std::string& message) {
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_Exception, text.get());
    return nullptr;
}

PyObject* multilayer_neff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        intern(neff_signature);
        PyObject* arg[3];
        fit_fastcall(neff_signature, args, nargs, kwnames, arg);
        auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
        SharedAccess access(cell.borrow);
        const ModeRequest request = convert_mode_request(arg);
        const CancelCheck cancel{poll_signals, nullptr};
        NeffResult result = neff(cell.value, request.omega, request.polarization, request.mode, cancel);
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        return PyFloat_FromDouble(std::get<double>(result));
    });
}

PyObject* multilayer_index(PyObject* self, PyObject*) {
    return guarded([&] {
        auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
        SharedAccess access(cell.borrow);
        return new_index_data(index_profile(cell.value));
    });
}

PyObject* multilayer_field(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        intern(field_signature);
        PyObject* arg[3];
        fit_fastcall(field_signature, args, nargs, kwnames, arg);
        auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
        SharedAccess access(cell.borrow);
        const ModeRequest request = convert_mode_request(arg);
        const CancelCheck cancel{poll_signals, nullptr};
        FieldResult result = field(cell.value, request.omega, request.polarization, request.mode, cancel);
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        return new_field_data(std::move(std::get<FieldData>(result)));
    });
}

PyTypeObject* create_multilayer_type() {
    static PyGetSetDef getset[] = {
        {"plot_step", get_plot_step, set_plot_step, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"neff", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_neff)),
         METH_FASTCALL | METH_KEYWORDS, "neff($self, omega, polarization=None, mode=None)\n--\n\n"},
        {"index", multilayer_index, METH_NOARGS, "index($self)\n--\n\n"},
        {"field", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_field)),
         METH_FASTCALL | METH_KEYWORDS, "field($self, omega, polarization=None, mode=None)\n--\n\n"},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("MultiLayer(layers)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(multilayer_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cell<MultiLayer>)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {"MultiLayer", sizeof(Cell<MultiLayer>), 0, Py_TPFLAGS_DEFAULT, slots};
    return create_type(&type_spec, "MultiLayer");
}

}  // namespace

template <>
PyTypeObject* type_of<MultiLayer>() {
    static PyTypeObject* type = create_multilayer_type();
    return type;
}

}  // namespace tavrik::python
