// MultiLayer(layers): the stack and its settings, and its computations.
#include "binding.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "complex_mode_solver.hpp"
#include "dispersion.hpp"
#include "mode_solver.hpp"
#include "search.hpp"
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
const char* const modes_names[] = {"omega", "polarization", "leaky", "window"};
Signature modes_signature("MultiLayer.modes()", modes_names, 1, 2);
const char* const sweep_names[] = {"omegas", "polarization"};
Signature dispersion_signature("MultiLayer.dispersion()", sweep_names, 1);

PyObject* multilayer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const Arguments arg = fit_tuple_dict(new_signature, args, kwargs);
        MultiLayer record;
        ComplexLayers complex_layers;
        record.layers = to_layers(arg[0], "layers", &complex_layers);
        for (const ComplexLayer& layer : complex_layers) {
            if (layer.n.im != 0.0) {
                record.complex_layers = std::move(complex_layers);
                break;
            }
        }
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
        const auto new_layer = [](const ComplexLayer& layer) { return new_cell(type_of<ComplexLayer>(), ComplexLayer(layer)); };
        if (!cell.value.complex_layers.empty()) return list_from(cell.value.complex_layers, new_layer);
        return list_from(cell.value.layers, [&](const Layer& layer) {
            return new_layer(ComplexLayer{Complex{layer.n, 0.0}, layer.d});
        });
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
// Which stacks a computation is defined for: the group index, the power shares
// and the dispersion sweep are written for real indices only, and would see
// nothing but the real parts of a complex stack.
enum class Indices { any, real };

// A stack with a complex index, refused by a computation of real stacks only.
void require_real(const MultiLayer& stack, const char* computation) {
    for (std::size_t i = 0; i < stack.complex_layers.size(); ++i) {
        if (stack.complex_layers[i].n.im != 0.0) {
            raise(PyExc_ValueError, std::string(computation) + " is defined for real refractive indices only; layers[" +
                                        std::to_string(i) + "] has a complex one");
        }
    }
}

template <Lock lock, Indices indices = Indices::any, class Compute, class ToPython>
PyObject* mode_call(const Signature& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Compute compute, ToPython to_python) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(signature, args, nargs, kwnames);
        auto& cell = cell_of<MultiLayer>(self);
        std::optional<SharedAccess> access(std::in_place, cell.borrow);
        const double omega = to_double(arg[0], "omega");
        const Polarization polarization = to_polarization(arg[1], "polarization");
        const std::uint32_t mode = to_mode(arg[2], "mode");
        require_meaning(cell.value, omega);
        if constexpr (indices == Indices::real) require_real(cell.value, signature.full_name);
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

// ---- complex stacks ------------------------------------------------------------

// The stack the complex solvers see: the record's complex layers, or the real
// ones as complex indices with a zero imaginary part (leaky modes of a real stack).
ComplexLayers complex_stack(const MultiLayer& record) {
    if (!record.complex_layers.empty()) return record.complex_layers;
    ComplexLayers layers;
    for (const Layer& layer : record.layers) layers.push_back(ComplexLayer{Complex{layer.n, 0.0}, layer.d});
    return layers;
}

// The bound modes of a complex stack in the default window (none at omega =
// 0); the search's failure message (a mode on the window's edge) as a
// ValueError.
std::vector<Complex> complex_bound_modes(const ComplexLayers& layers, double omega, Polarization pol,
                                         const CancelCheck& cancel) {
    if (omega == 0.0 || layers.size() < 2) return {};
    ComplexModesResult found =
        complex_modes(layers, omega, pol, default_bound_window(layers, omega), false, cancel);
    if (auto* message = std::get_if<std::string>(&found)) raise(PyExc_ValueError, *message);
    return std::get<0>(std::move(found));
}

using NeffValue = std::variant<double, Complex>;

PyObject* multilayer_neff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call<Lock::held>(
        neff_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) -> std::variant<NeffValue, std::string> {
            if (record.complex_layers.empty()) {
                NeffResult result = neff(record, omega, polarization, mode, cancel);
                if (auto* message = std::get_if<std::string>(&result)) return std::move(*message);
                return NeffValue{std::get<double>(result)};
            }
            const std::vector<Complex> modes = complex_bound_modes(record.complex_layers, omega, polarization, cancel);
            if (mode >= modes.size()) return mode_not_found_message(mode, modes.size());
            return NeffValue{modes[mode]};
        },
        [](NeffValue value) {
            if (const double* real = std::get_if<double>(&value)) return PyFloat_FromDouble(*real);
            const Complex z = std::get<Complex>(value);
            return PyComplex_FromDoubles(z.re, z.im);
        });
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
           const CancelCheck& cancel) -> FieldResult {
            if (record.complex_layers.empty()) return field(record, omega, polarization, mode, cancel);
            const std::vector<Complex> modes = complex_bound_modes(record.complex_layers, omega, polarization, cancel);
            if (mode >= modes.size()) return mode_not_found_message(mode, modes.size());
            return complex_mode_field(record, record.complex_layers, omega, polarization, modes[mode],
                                      field_walk(modes, mode));
        },
        [](FieldData&& data) { return new_field_data(std::move(data)); });
}

// window = (re_min, re_max, im_min, im_max), or nothing for None.
std::optional<Rectangle> to_window(PyObject* obj, const char* name) {
    if (obj == nullptr || obj == Py_None) return std::nullopt;
    const std::vector<double> v = to_doubles(obj, name);
    const std::string prefix = std::string("argument '") + name + "': ";
    if (v.size() != 4) {
        raise(PyExc_ValueError,
              prefix + "expected (re_min, re_max, im_min, im_max), got " + std::to_string(v.size()) + " values");
    }
    for (double x : v) {
        if (!std::isfinite(x)) raise(PyExc_ValueError, prefix + "values must be finite");
    }
    if (!(v[0] < v[1] && v[2] < v[3])) raise(PyExc_ValueError, prefix + "needs re_min < re_max and im_min < im_max");
    return Rectangle{v[0], v[1], v[2], v[3]};
}

PyObject* new_complex(Complex z) { return PyComplex_FromDoubles(z.re, z.im); }

bool inside(const Rectangle& w, Complex z) {
    return z.re >= w.re_min && z.re <= w.re_max && z.im >= w.im_min && z.im <= w.im_max;
}

// modes() of a complex stack, or of any stack with leaky or a window: the
// bound modes (of a real stack: the exact real solver's) and, when asked, the
// leaky ones, as complex values by decreasing real part. Runs on the copy
// without the interpreter lock.
std::vector<Complex> complex_mode_list(const MultiLayer& stack, double omega, Polarization polarization,
                                       bool leaky, const std::optional<Rectangle>& window) {
    if (omega == 0.0 || stack.layers.size() < 2) return {};
    const bool real = stack.complex_layers.empty();
    const ComplexLayers layers = complex_stack(stack);
    const Rectangle bound_window = window ? *window : default_bound_window(layers, omega);
    const Rectangle leaky_window = window ? *window : default_leaky_window(layers, omega);
    std::vector<double> betas;
    ComplexModesResult bound, radiating;
    {
        ReleasedLock lock;
        const CancelCheck cancel{ReleasedLock::poll_signals, &lock};
        if (real) {
            betas = guided_betas(stack.layers, omega, polarization, cancel);
        } else {
            bound = complex_modes(layers, omega, polarization, bound_window, false, cancel);
        }
        if (leaky) radiating = leaky_modes(layers, omega, polarization, leaky_window, cancel);
    }
    std::vector<Complex> modes;
    for (const ComplexModesResult* found : {&bound, &radiating}) {
        if (auto* message = std::get_if<std::string>(found)) raise(PyExc_ValueError, *message);
        for (Complex z : std::get<0>(*found)) modes.push_back(z);
    }
    for (double beta : betas) {
        const Complex n{beta / omega, 0.0};
        if (!window || inside(*window, n)) modes.push_back(n);
    }
    std::stable_sort(modes.begin(), modes.end(), [](Complex a, Complex b) { return a.re > b.re; });
    return modes;
}

// The arguments convert in order (omega, polarization, leaky, window) before
// the stack is judged; a real stack without leaky or window keeps the real
// solver's list of floats.
PyObject* multilayer_modes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Arguments arg = fit_fastcall(modes_signature, args, nargs, kwnames);
        MultiLayer stack;
        double omega = 0.0;
        Polarization polarization = Polarization::TE;
        bool leaky = false;
        std::optional<Rectangle> window;
        {
            auto& cell = cell_of<MultiLayer>(self);
            SharedAccess access(cell.borrow);
            omega = to_double(arg[0], "omega");
            polarization = to_polarization(arg[1], "polarization");
            leaky = arg[2] != nullptr && require(PyObject_IsTrue(arg[2])) == 1;
            window = to_window(arg[3], "window");
            require_meaning(cell.value, omega);
            stack = cell.value;
        }
        if (!stack.complex_layers.empty() || leaky || window) {
            return list_from(complex_mode_list(stack, omega, polarization, leaky, window), new_complex);
        }
        std::vector<double> neffs;
        {
            ReleasedLock released;
            const CancelCheck cancel{ReleasedLock::poll_signals, &released};
            neffs = guided_betas(stack.layers, omega, polarization, cancel);
        }
        for (double& value : neffs) value /= omega;
        return new_float_list(neffs);
    });
}

PyObject* multilayer_group_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call<Lock::released, Indices::real>(
        group_index_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) { return group_index(record.layers, omega, polarization, mode, cancel); },
        PyFloat_FromDouble);
}

PyObject* multilayer_power_fractions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return mode_call<Lock::released, Indices::real>(
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
            require_real(cell.value, dispersion_signature.full_name);
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
