// MultiLayer(layers): the stack and its settings, and the three computations.
#include "binding.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "complex_mode_solver.hpp"
#include "mode_solver.hpp"
#include "search.hpp"
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
const char* const modes_names[] = {"omega", "polarization", "leaky", "window"};
Signature modes_signature("MultiLayer.modes()", modes_names, 1, 2);

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
        const CancelCheck cancel{poll_signals, nullptr};
        auto result = compute(cell.value, omega, polarization, mode, cancel);
        if (auto* message = std::get_if<std::string>(&result)) return search_failure(*message);
        return to_python(std::move(std::get<0>(result)));
    });
}

// ---- complex stacks ------------------------------------------------------------

std::string repr_double(double value);
void require_certifiable(const Layers& layers, double omega);

// The modes of a complex stack are certified on any finite stack: ValueError
// naming the first layer or value that is not one.
void require_complex_stack(const ComplexLayers& layers, double omega) {
    if (!(std::isfinite(omega) && omega > 0.0))
        raise(PyExc_ValueError, "omega must be finite and positive, not " + repr_double(omega));
    if (layers.size() < 2) raise(PyExc_ValueError, "a stack needs two half-spaces");
    for (std::size_t j = 0; j < layers.size(); ++j) {
        const ComplexLayer& layer = layers[j];
        const std::string name = "layer " + std::to_string(j);
        if (!(std::isfinite(layer.n.re) && std::isfinite(layer.n.im)))
            raise(PyExc_ValueError, name + ": n must be finite, not " + repr_double(layer.n.re) + " + " +
                                        repr_double(layer.n.im) + "j");
        if (layer.n.re == 0.0 && layer.n.im == 0.0) raise(PyExc_ValueError, name + ": n must not be zero");
        const bool inner = j > 0 && j + 1 < layers.size();
        if (inner && !(std::isfinite(layer.d) && layer.d >= 0.0))
            raise(PyExc_ValueError,
                  name + ": d must be finite and non-negative, not " + repr_double(layer.d));
    }
}

// The complex stack the solvers see: the record's complex layers, or the real
// ones as complex indices with a zero imaginary part (leaky modes of a real stack).
ComplexLayers complex_stack(const MultiLayer& record) {
    if (!record.complex_layers.empty()) return record.complex_layers;
    ComplexLayers layers;
    for (const Layer& layer : record.layers) layers.push_back(ComplexLayer{Complex{layer.n, 0.0}, layer.d});
    return layers;
}

// The bound modes of a complex stack in the default window; the search's
// failure message (a mode on the window's edge) as a ValueError.
std::vector<Complex> complex_bound_modes(const ComplexLayers& layers, double omega, Polarization pol,
                                         const CancelCheck& cancel) {
    require_complex_stack(layers, omega);
    ComplexModesResult found =
        complex_modes(layers, omega, pol, default_bound_window(layers, omega), false, cancel);
    if (auto* message = std::get_if<std::string>(&found)) raise(PyExc_ValueError, *message);
    return std::get<0>(std::move(found));
}

using NeffValue = std::variant<double, Complex>;

PyObject* multilayer_neff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return mode_call(
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
    return mode_call(
        field_signature, self, args, nargs, kwnames,
        [](const MultiLayer& record, double omega, Polarization polarization, std::uint32_t mode,
           const CancelCheck& cancel) -> FieldResult {
            if (record.complex_layers.empty()) return field(record, omega, polarization, mode, cancel);
            const std::vector<Complex> modes = complex_bound_modes(record.complex_layers, omega, polarization, cancel);
            if (mode >= modes.size()) return mode_not_found_message(mode, modes.size());
            return complex_mode_field(record, record.complex_layers, omega, polarization, modes[mode]);
        },
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

// window = (re_min, re_max, im_min, im_max), or nothing for None.
std::optional<Rectangle> to_window(PyObject* obj, const char* name) {
    if (obj == nullptr || obj == Py_None) return std::nullopt;
    const std::vector<double> v = to_doubles(obj, name);
    if (v.size() != 4)
        raise(PyExc_ValueError, std::string("argument '") + name +
                                    "': expected (re_min, re_max, im_min, im_max), got " +
                                    std::to_string(v.size()) + " values");
    for (double x : v)
        if (!std::isfinite(x)) raise(PyExc_ValueError, std::string("argument '") + name + "': values must be finite");
    if (!(v[0] < v[1] && v[2] < v[3]))
        raise(PyExc_ValueError, std::string("argument '") + name + "': needs re_min < re_max and im_min < im_max");
    return Rectangle{v[0], v[1], v[2], v[3]};
}

PyObject* complex_list(const std::vector<Complex>& modes) {
    Ref list = require(Ref::steal(PyList_New(static_cast<Py_ssize_t>(modes.size()))));
    for (std::size_t k = 0; k < modes.size(); ++k) {
        PyObject* z = PyComplex_FromDoubles(modes[k].re, modes[k].im);
        if (z == nullptr) throw PythonError{};
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), z);
    }
    return list.release();
}

// modes() of a complex stack, or of any stack with leaky=True: the bound modes
// (of a real stack: the exact real solver's) and, when asked, the leaky ones,
// by decreasing real part. Runs on copies without the interpreter lock.
PyObject* complex_mode_list(const MultiLayer& stack, double omega, Polarization polarization, bool leaky,
                            const std::optional<Rectangle>& window) {
    const bool real = stack.complex_layers.empty();
    const ComplexLayers layers = complex_stack(stack);
    require_complex_stack(layers, omega);
    if (real) require_certifiable(stack.layers, omega);
    const Rectangle bound_window = window ? *window : default_bound_window(layers, omega);
    const Rectangle leaky_window = window ? *window : default_leaky_window(layers, omega);
    std::vector<Complex> modes;
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
    for (const ComplexModesResult* found : {&bound, &radiating}) {
        if (auto* message = std::get_if<std::string>(found)) raise(PyExc_ValueError, *message);
        for (Complex z : std::get<0>(*found)) modes.push_back(z);
    }
    for (double beta : betas) {
        const Complex n{beta / omega, 0.0};
        const Rectangle& w = bound_window;
        if (!window || (n.re >= w.re_min && n.re <= w.re_max && w.im_min <= 0.0 && w.im_max >= 0.0))
            modes.push_back(n);
    }
    std::stable_sort(modes.begin(), modes.end(), [](Complex a, Complex b) { return a.re > b.re; });
    return complex_list(modes);
}

PyObject* multilayer_modes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        const Arguments arg = fit_fastcall(modes_signature, args, nargs, kwnames);
        Layers layers;
        ComplexLayers complex_layers;
        double omega = 0.0;
        Polarization polarization = Polarization::TE;
        {
            auto& cell = cell_of<MultiLayer>(self);
            SharedAccess access(cell.borrow);
            omega = to_double(arg[0], "omega");
            polarization = to_polarization(arg[1], "polarization");
            layers = cell.value.layers;
            complex_layers = cell.value.complex_layers;
        }
        const bool leaky = arg[2] != nullptr && require(PyObject_IsTrue(arg[2])) == 1;
        const std::optional<Rectangle> window = to_window(arg[3], "window");
        if (!complex_layers.empty() || leaky) {
            MultiLayer stack;
            stack.layers = layers;
            stack.complex_layers = std::move(complex_layers);
            return complex_mode_list(stack, omega, polarization, leaky, window);
        }
        require_certifiable(layers, omega);
        std::vector<double> betas;
        {
            ReleasedLock lock;
            const CancelCheck cancel{ReleasedLock::poll_signals, &lock};
            betas = guided_betas(layers, omega, polarization, cancel);
        }
        if (window) {
            // A real stack's bound modes lie on the real axis.
            std::erase_if(betas, [&](double beta) {
                const double n = beta / omega;
                return !(n >= window->re_min && n <= window->re_max && window->im_min <= 0.0 &&
                         window->im_max >= 0.0);
            });
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
    "modes($self, omega, polarization=None, *, leaky=False, window=None)\n--\n\n"
    "The effective index of every mode of one polarization.\n\n"
    "Real stack, no leaky or window: every guided mode as a float, in\n"
    "descending order (entry k is mode k of neff(omega, polarization, k)), each\n"
    "the root of the dispersion relation to full double precision.\n\n"
    "A stack with a complex index: every bound mode as a complex neff (surface\n"
    "plasmons included), by decreasing real part; entry k is neff(omega,\n"
    "polarization, k). Fields ~ exp(i(beta z - omega t)); n'' > 0 absorbs; lossy\n"
    "and leaky modes have Im(neff) > 0. A bound mode decays into both\n"
    "half-spaces and has Re(neff) above both half-spaces' Re(n).\n\n"
    "leaky=True adds the leaky modes (real or complex stack): modes radiating\n"
    "into a half-space whose Re(n) exceeds Re(neff), growing away from the\n"
    "stack. All values are then complex.\n\n"
    "window=(re_min, re_max, im_min, im_max) bounds the search in the neff plane\n"
    "(bound and leaky). Default: bound modes in Re(neff) from the larger\n"
    "half-space Re(n) to R, Im(neff) in [-R/16, R/2]; leaky modes in Re(neff) in\n"
    "[0, R], Im(neff) in [0, max|n|/2]; R is twice the largest of max|n|, each\n"
    "metal/dielectric interface's surface-plasmon index and 4 atanh(min|eps| /\n"
    "max|eps|) / (omega d) of each film at a metal (thin-film plasmons).\n\n"
    "The count inside the window is certified by the argument principle and\n"
    "each mode refined to full precision. The interpreter lock is released.\n\n"
    "Raises ValueError for a stack that cannot be certified (an index that is\n"
    "not finite, a negative or non-finite inner thickness, omega not finite and\n"
    "positive) or a mode on the window's edge, TypeError as neff.";

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
        {Py_tp_doc, const_cast<char*>("MultiLayer(layers)\n--\n\n")},
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
