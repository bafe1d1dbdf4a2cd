// MultiLayer(layers): the stack and its settings, and the three computations.
#include "binding.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "mode_solver.hpp"
#include "multilayer.hpp"

namespace tavrik::python {

PyObject* new_index_data(IndexProfile&& profile);
PyObject* new_field_data(FieldData&& field);
PyObject* new_dispersion_data(DispersionTable&& table);

namespace {

const char* const new_names[] = {"layers"};
Signature new_signature("MultiLayer.__new__()", new_names, 1);

// Every computation of one mode takes (omega, polarization=None, mode=None).
const char* const mode_names[] = {"omega", "polarization", "mode"};
Signature neff_signature("MultiLayer.neff()", mode_names, 1);
Signature field_signature("MultiLayer.field()", mode_names, 1);
Signature group_index_signature("MultiLayer.group_index()", mode_names, 1);

const char* const sweep_names[] = {"omegas", "polarization"};
Signature dispersion_signature("MultiLayer.dispersion()", sweep_names, 1);
const char* const modes_names[] = {"omega", "polarization"};
Signature modes_signature("MultiLayer.modes()", modes_names, 1);

PyObject* multilayer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const Arguments arg = fit_tuple_dict(new_signature, args, kwargs);
        MultiLayer record;
        record.layers = to_layers(arg[0], "layers");
        return new_cell(type, std::move(record));
    });
}

PyObject* get_plot_step(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<MultiLayer>(self);
        SharedAccess access(cell.borrow);
        return PyFloat_FromDouble(cell.value.plot_step);
    });
}

PyObject* get_layers(PyObject* self, void*) {
    return guarded([&] {
        auto& cell = cell_of<MultiLayer>(self);
        SharedAccess access(cell.borrow);
        return list_from(cell.value.layers, [](const Layer& layer) { return new_cell(type_of<Layer>(), Layer(layer)); });
    });
}

// (MultiLayer, (layers,), (None, {"plot_step": step})): the constructor
// copies the layers, and pickle and copy set plot_step through its setter.
PyObject* multilayer_reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        Ref layers = require(Ref::steal(get_layers(self, nullptr)));
        Ref step = require(Ref::steal(get_plot_step(self, nullptr)));
        Ref slots = require(Ref::steal(PyDict_New()));
        require(PyDict_SetItemString(slots.get(), "plot_step", step.get()));
        Ref state = require(Ref::steal(PyTuple_Pack(2, Py_None, slots.get())));
        return reduce_value(self, require(Ref::steal(PyTuple_Pack(1, layers.get()))), std::move(state));
    });
}

int set_plot_step(PyObject* self, PyObject* value, void*) {
    return guarded_as<int>(-1, [&] {
        if (value == nullptr) raise(PyExc_AttributeError, "can't delete attribute");
        const double step = to_double(value, "plot_step");
        auto& cell = cell_of<MultiLayer>(self);
        ExclusiveAccess access(cell.borrow);
        cell.value.plot_step = step;
        return 0;
    });
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

// The common body of the computations of one mode: fit the call, check and
// borrow the receiver, convert omega, polarization and mode in that order, run
// `compute` on the record, and hand its value to `to_python`; a returned
// message (an orderly failure of the search) is raised as Exception.
template <class Compute, class ToPython>
PyObject* mode_call(const Signature& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Compute compute, ToPython to_python) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(signature, args, nargs, kwnames);
        auto& cell = cell_of<MultiLayer>(self);
        SharedAccess access(cell.borrow);
        const double omega = to_double(arg[0], "omega");
        const Polarization polarization = to_polarization(arg[1], "polarization");
        const std::uint32_t mode = to_mode(arg[2], "mode");
        require_meaning(cell.value.layers, omega);
        const CancelCheck cancel{poll_signals, nullptr};
        auto result = compute(cell.value, omega, polarization, mode, cancel);
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        return to_python(std::move(std::get<0>(result)));
    });
}

PyObject* multilayer_neff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call(
        neff_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return neff(record, omega, polarization, mode, cancel); },
        PyFloat_FromDouble);
}

PyObject* multilayer_index(PyObject* self, PyObject*) {
    return guarded([&] {
        auto& cell = cell_of<MultiLayer>(self);
        SharedAccess access(cell.borrow);
        return new_index_data(index_profile(cell.value));
    });
}

PyObject* multilayer_field(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call(
        field_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return field(record, omega, polarization, mode, cancel); },
        [](FieldData&& data) { return new_field_data(std::move(data)); });
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
        const Arguments arg = fit_fastcall(modes_signature, args, nargs, kwnames);
        Layers layers;
        double omega = 0.0;
        Polarization polarization = Polarization::TE;
        {
            auto& cell = cell_of<MultiLayer>(self);
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

PyObject* multilayer_group_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call(
        group_index_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) {
            require_certifiable(record.layers, omega);
            return group_index(record.layers, omega, polarization, mode, cancel);
        },
        PyFloat_FromDouble);
}

// The sweep copies the layers and the omegas, then runs on every core with
// the interpreter lock released; Ctrl-C is polled by taking it back briefly.
PyObject* multilayer_dispersion(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(dispersion_signature, args, nargs, kwnames);
        Layers layers;
        {
            auto& cell = cell_of<MultiLayer>(self);
            SharedAccess access(cell.borrow);
            layers = cell.value.layers;
        }
        const std::vector<double> omegas = to_doubles(arg[0], "omegas");
        const Polarization polarization = to_polarization(arg[1], "polarization");
        DispersionTable table;
        for (double omega : omegas) require_certifiable(layers, omega);
        {
            ReleasedLock lock;
            const CancelCheck cancel{ReleasedLock::poll_signals, &lock};
            table = dispersion_table(layers, omegas, polarization, cancel);
        }
        return new_dispersion_data(std::move(table));
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

PyTypeObject* create_multilayer_type() {
    static PyGetSetDef getset[] = {
        {"layers", get_layers, nullptr, doc::MultiLayer_layers, nullptr},
        {"plot_step", get_plot_step, set_plot_step, doc::MultiLayer_plot_step, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"neff", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_neff)),
         METH_FASTCALL | METH_KEYWORDS, doc::MultiLayer_neff},
        {"index", multilayer_index, METH_NOARGS, doc::MultiLayer_index},
        {"field", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_field)),
         METH_FASTCALL | METH_KEYWORDS, doc::MultiLayer_field},
        {"__reduce__", multilayer_reduce, METH_NOARGS, nullptr},
        {"group_index", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_group_index)),
         METH_FASTCALL | METH_KEYWORDS,
         "group_index($self, omega, polarization=None, mode=None)\n--\n\n"
         "The group index n_g = d beta / d omega of mode `mode` (0 = highest neff) at the\n"
         "vacuum wavenumber `omega`, for TE (default) or TM, with the layers' indices\n"
         "independent of omega. Exact: the derivative of the dispersion relation at the\n"
         "mode's exact propagation constant, not a difference quotient.\n"
         "Raises Exception (\"Mode m not found. ...\") for a mode that is not guided."},
        {"dispersion", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_dispersion)),
         METH_FASTCALL | METH_KEYWORDS,
         "dispersion($self, omegas, polarization=None)\n--\n\n"
         "neff, group index and GVD (d^2 beta / d omega^2, in the unit of the thicknesses)\n"
         "of every guided mode at every vacuum wavenumber of the sequence `omegas`, as a\n"
         "DispersionData: row m of each table is mode m, column i is omegas[i], NaN where\n"
         "mode m is not guided. The omegas are shared out over the machine's cores with\n"
         "the interpreter lock released; Ctrl-C interrupts the sweep."},
        {"modes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(multilayer_modes)),
         METH_FASTCALL | METH_KEYWORDS, modes_doc},
        {nullptr, nullptr, 0, nullptr},
    };
    for (Signature* signature :
         {&new_signature, &neff_signature, &field_signature, &modes_signature, &group_index_signature,
          &dispersion_signature}) {
        intern(*signature);
    }
    return create_class<MultiLayer>({
        {Py_tp_doc, const_cast<char*>(doc::MultiLayer)},
        {Py_tp_new, reinterpret_cast<void*>(multilayer_new)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
    });
}

}  // namespace

template <>
PyTypeObject* type_of<MultiLayer>() {
    static PyTypeObject* type = create_multilayer_type();
    return type;
}

}  // namespace tavrik::python
