// MultiLayer(layers): the stack and its settings, and the three computations.
#include "binding.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "mode_solver.hpp"
#include "multilayer.hpp"
#include "power_fractions.hpp"

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
PyObject* fractions_interned[3] = {};
Signature fractions_signature = {"MultiLayer.power_fractions()", mode_names, 3, 1, fractions_interned};
PyObject* modes_interned[2] = {};
Signature modes_signature = {"MultiLayer.modes()", mode_names, 2, 1, modes_interned};

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

// The shortest text that reads back as the same double.
std::string repr_double(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// The mode count is certified only for a stack the oscillation theorem
// applies to: ValueError naming the first layer or value that is not.
void require_certifiable(const Layers& layers, double omega) {
    if (!(std::isfinite(omega) && omega >= 0.0))
        raise(PyExc_ValueError, "omega must be finite and non-negative, not " + repr_double(omega));
    for (std::size_t j = 0; j < layers.size(); ++j) {
        const Layer& layer = layers[j];
        const std::string name = "layer " + std::to_string(j);
        if (!(std::isfinite(layer.n) && layer.n > 0.0))
            raise(PyExc_ValueError, name + ": n must be finite and positive, not " + repr_double(layer.n));
        const bool inner = j > 0 && j + 1 < layers.size();
        if (inner && !(std::isfinite(layer.d) && layer.d >= 0.0))
            raise(PyExc_ValueError,
                  name + ": d must be finite and non-negative, not " + repr_double(layer.d));
        // The walk forms (n omega)^2 - beta^2 with beta up to max(n) omega.
        const double n_omega = layer.n * omega;
        if (!std::isfinite(2.0 * n_omega * n_omega))
            raise(PyExc_ValueError, name + ": n * omega too large, " + repr_double(n_omega));
    }
}

PyObject* multilayer_modes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        intern(modes_signature);
        PyObject* arg[2];
        fit_fastcall(modes_signature, args, nargs, kwnames, arg);
        Layers layers;
        double omega = 0.0;
        Polarization polarization = Polarization::TE;
        {
            auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
            SharedAccess access(cell.borrow);
            omega = to_double(arg[0], "omega");
            polarization = to_polarization(arg[1], "polarization");
            layers = cell.value.layers;
        }
        require_certifiable(layers, omega);
        std::vector<double> betas;
        {
            ReleasedLock lock;
            const CancelCheck cancel{ReleasedLock::poll_signals, &lock};
            betas = guided_betas(layers, omega, polarization, cancel);
        }
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(betas.size())));
        if (!list) throw PythonError{};
        for (std::size_t k = 0; k < betas.size(); ++k) {
            PyObject* neff = PyFloat_FromDouble(betas[k] / omega);
            if (neff == nullptr) throw PythonError{};
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), neff);
        }
        return list.release();
    });
}

const char* const modes_doc =
    "modes($self, omega, polarization=None)\n--\n\n"
    "The effective index of every guided mode of one polarization, in\n"
    "descending order: entry k is mode k of neff(omega, polarization, k).\n\n"
    "Each value is the root of the dispersion relation to full double\n"
    "precision (the propagation constant beta = neff * omega is the double\n"
    "nearest the root of the stack's mode condition), whatever the unit of\n"
    "length. Arguments are those of neff; polarization defaults to\n"
    "Polarization.TE. A stack without a guided mode gives an empty list.\n"
    "The interpreter lock is released while the modes are computed.\n\n"
    "Raises ValueError for a stack whose modes cannot be certified (an index\n"
    "that is not finite and positive, an inner thickness that is negative or\n"
    "not finite, omega negative or not finite), TypeError as neff.";

PyObject* multilayer_power_fractions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return guarded([&] {
        intern(fractions_signature);
        PyObject* arg[3];
        fit_fastcall(fractions_signature, args, nargs, kwnames, arg);
        Layers layers;
        ModeRequest request{};
        {
            auto& cell = cell_of<MultiLayer>(self, "MultiLayer");
            SharedAccess access(cell.borrow);
            request = convert_mode_request(arg);
            layers = cell.value.layers;
        }
        require_certifiable(layers, request.omega);
        PowerFractionsResult result;
        {
            ReleasedLock lock;
            const CancelCheck cancel{ReleasedLock::poll_signals, &lock};
            result = power_fractions(layers, request.omega, request.polarization, request.mode, cancel);
        }
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        const std::vector<double>& shares = std::get<std::vector<double>>(result);
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(shares.size())));
        if (!list) throw PythonError{};
        for (std::size_t j = 0; j < shares.size(); ++j) {
            PyObject* share = PyFloat_FromDouble(shares[j]);
            if (share == nullptr) throw PythonError{};
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), share);
        }
        return list.release();
    });
}

const char* const power_fractions_doc =
    "power_fractions($self, omega, polarization=None, mode=None)\n--\n\n"
    "The share of the mode's power flow along z carried in each layer, one\n"
    "float per layer in layer order (the two outer half-spaces integrated out\n"
    "to infinity); the shares sum to 1.\n\n"
    "They are exact integrals of the mode's closed-form field at the exact\n"
    "root of its mode condition (the mode of modes(omega, polarization)[mode]),\n"
    "weighted by |Ey|^2 for TE and |Hy|^2/n^2 for TM; plot_step plays no part.\n"
    "Arguments are those of neff. The interpreter lock is released while\n"
    "the shares are computed.\n\n"
    "Raises Exception(\"Mode m not found. ...\") for a mode that does not\n"
    "exist, ValueError for a stack that cannot be certified (as modes),\n"
    "TypeError as neff.";

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
        {"modes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_modes)),
         METH_FASTCALL | METH_KEYWORDS, modes_doc},
        {"power_fractions",
         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_power_fractions)),
         METH_FASTCALL | METH_KEYWORDS, power_fractions_doc},
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
