// MultiLayer(layers): the stack and its settings, and its computations.
#include "binding.hpp"

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "dispersion.hpp"
#include "mode_solver.hpp"
#include "multilayer.hpp"
#include "power_fractions.hpp"
#include "validation.hpp"

namespace tavrik::python {

PyObject* new_index_data(IndexProfile&& profile);
PyObject* new_field_data(FieldData&& field);
PyObject* new_dispersion_data(DispersionTable&& table);

namespace {

const char* const new_names[] = {"layers"};
Signature new_signature("MultiLayer.__new__()", new_names, 1);

// Every computation of one mode takes (omega, polarization=None, mode=None);
// modes() the first two, dispersion() a sequence of omegas instead of one.
const char* const mode_names[] = {"omega", "polarization", "mode"};
Signature neff_signature("MultiLayer.neff()", mode_names, 1);
Signature field_signature("MultiLayer.field()", mode_names, 1);
Signature group_index_signature("MultiLayer.group_index()", mode_names, 1);
Signature power_fractions_signature("MultiLayer.power_fractions()", mode_names, 1);
const char* const modes_names[] = {"omega", "polarization"};
Signature modes_signature("MultiLayer.modes()", modes_names, 1);
const char* const sweep_names[] = {"omegas", "polarization"};
Signature dispersion_signature("MultiLayer.dispersion()", sweep_names, 1);

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

// How a computation treats the interpreter lock. The specified computations
// (neff, field) hold it and read the receiver in place; the later ones copy the
// stack, let the receiver go and run without the lock, taking it back briefly
// to look for pending signals (ReleasedLock::poll_signals).
enum class Lock { held, released };

template <class T>
struct is_search_result : std::false_type {};
template <class T>
struct is_search_result<std::variant<T, std::string>> : std::true_type {};

// A returned message (an orderly failure of the search) is raised as
// Exception; any other value goes to `to_python`.
template <class Result, class ToPython>
PyObject* deliver(Result&& result, ToPython& to_python) {
    if constexpr (is_search_result<std::decay_t<Result>>::value) {
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        return to_python(std::move(std::get<0>(result)));
    } else {
        return to_python(std::move(result));
    }
}

// The common body of the computations of one mode (and of modes(), whose
// missing third argument reads as mode 0): fit the call, check and borrow the
// receiver, convert omega, polarization and mode in that order, refuse input
// without physical meaning, run `compute` on the record (in place with the
// lock held, or on a copy without it) and hand its value to `to_python`.
template <Lock lock, class Compute, class ToPython>
PyObject* mode_call(const Signature& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Compute compute, ToPython to_python) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(signature, args, nargs, kwnames);
        auto& cell = cell_of<MultiLayer>(self);
        std::optional<SharedAccess> access(std::in_place, cell.borrow);
        const double omega = to_double(arg[0], "omega");
        const Polarization polarization = to_polarization(arg[1], "polarization");
        const std::uint32_t mode = to_mode(arg[2], "mode");
        require_meaning(cell.value.layers, omega);
        if constexpr (lock == Lock::held) {
            const CancelCheck cancel{poll_signals, nullptr};
            return deliver(compute(cell.value, omega, polarization, mode, cancel), to_python);
        } else {
            const MultiLayer record = cell.value;
            access.reset();
            auto result = [&] {
                ReleasedLock released;
                const CancelCheck cancel{ReleasedLock::poll_signals, &released};
                return compute(record, omega, polarization, mode, cancel);
            }();
            return deliver(std::move(result), to_python);
        }
    });
}

PyObject* new_float_list(const std::vector<double>& values) { return list_from(values, PyFloat_FromDouble); }

PyObject* multilayer_neff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call<Lock::held>(
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
    return mode_call<Lock::held>(
        field_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return field(record, omega, polarization, mode, cancel); },
        [](FieldData&& data) { return new_field_data(std::move(data)); });
}

PyObject* multilayer_modes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call<Lock::released>(
        modes_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t,
           const CancelCheck& cancel) {
            std::vector<double> neffs = guided_betas(record.layers, omega, polarization, cancel);
            for (double& value : neffs) value /= omega;
            return neffs;
        },
        new_float_list);
}

PyObject* multilayer_group_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call<Lock::released>(
        group_index_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return group_index(record.layers, omega, polarization, mode, cancel); },
        PyFloat_FromDouble);
}

PyObject* multilayer_power_fractions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return mode_call<Lock::released>(
        power_fractions_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return power_fractions(record.layers, omega, polarization, mode, cancel); },
        new_float_list);
}

// The sweep copies the layers and the omegas, then runs on every core with
// the interpreter lock released. The stack is judged once, then every omega
// as a single one is, the message naming its entry.
PyObject* multilayer_dispersion(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(dispersion_signature, args, nargs, kwnames);
        Layers layers;
        std::vector<double> omegas;
        Polarization polarization = Polarization::TE;
        {
            auto& cell = cell_of<MultiLayer>(self);
            SharedAccess access(cell.borrow);
            omegas = to_doubles(arg[0], "omegas");
            polarization = to_polarization(arg[1], "polarization");
            layers = cell.value.layers;
        }
        require_meaning(layers, 0.0);
        for (std::size_t i = 0; i < omegas.size(); ++i) {
            if (const auto problem = stack_problem(layers, omegas[i])) {
                raise(PyExc_ValueError, "omegas[" + std::to_string(i) + "]: " + *problem);
            }
        }
        DispersionTable table;
        {
            ReleasedLock released;
            const CancelCheck cancel{ReleasedLock::poll_signals, &released};
            table = dispersion_table(layers, omegas, polarization, cancel);
        }
        return new_dispersion_data(std::move(table));
    });
}

PyCFunction fastcall(PyObject* (*method)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

PyTypeObject* create_multilayer_type() {
    static PyGetSetDef getset[] = {
        {"layers", get_layers, nullptr, doc::MultiLayer_layers, nullptr},
        {"plot_step", get_plot_step, set_plot_step, doc::MultiLayer_plot_step, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    constexpr int fast = METH_FASTCALL | METH_KEYWORDS;
    static PyMethodDef methods[] = {
        {"neff", fastcall(multilayer_neff), fast, doc::MultiLayer_neff},
        {"index", multilayer_index, METH_NOARGS, doc::MultiLayer_index},
        {"field", fastcall(multilayer_field), fast, doc::MultiLayer_field},
        {"modes", fastcall(multilayer_modes), fast, doc::MultiLayer_modes},
        {"group_index", fastcall(multilayer_group_index), fast, doc::MultiLayer_group_index},
        {"power_fractions", fastcall(multilayer_power_fractions), fast, doc::MultiLayer_power_fractions},
        {"dispersion", fastcall(multilayer_dispersion), fast, doc::MultiLayer_dispersion},
        {"__reduce__", multilayer_reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    for (Signature* signature : {&new_signature, &neff_signature, &field_signature, &modes_signature,
                                 &group_index_signature, &power_fractions_signature, &dispersion_signature}) {
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
