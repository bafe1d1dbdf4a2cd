#include "binding.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "layer.hpp"
#include "validation.hpp"

namespace tavrik::python {

// ---- errors -----------------------------------------------------------------

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError{};
}

void raise(PyObject* type, const std::string& message) { raise(type, message.c_str()); }

namespace {

// The single-object error API exists from CPython 3.12 on; an abi3 build for
// 3.10 and PyPy keep to the (type, value, traceback) triple.
#if PY_VERSION_HEX >= 0x030C0000 && !defined(PYPY_VERSION) && \
    (!defined(Py_LIMITED_API) || Py_LIMITED_API >= 0x030C0000)
#define TAVRIK_RAISED_EXCEPTION_API 1
#endif

// The pending error as one normalised exception instance (traceback attached).
Ref fetch_error() {
#ifdef TAVRIK_RAISED_EXCEPTION_API
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return Ref{};
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(traceback);
    if (tb && v) PyException_SetTraceback(v.get(), tb.get());
    return v;
#endif
}

void restore_error(Ref exc) {
#ifdef TAVRIK_RAISED_EXCEPTION_API
    PyErr_SetRaisedException(exc.release());
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc.get()));
    Py_INCREF(type);
    PyObject* tb = PyException_GetTraceback(exc.get());
    PyErr_Restore(type, exc.release(), tb);
#endif
}

PyObject* panic_type = nullptr;

}  // namespace

// Made at import (the module's attribute PanicException), or on the first
// fault if that comes first.
PyObject* panic_exception_type() {
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc("tavrik.PanicException", doc::PanicException,
                                               PyExc_BaseException, nullptr);
    }
    return panic_type;
}

void raise_panic(const char* message) {
    std::fprintf(stderr, "tavrik: internal fault: %s\n", message);
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // the error of the failed creation stays set
    Ref text = Ref::steal(PyUnicode_FromString(message));
    if (text) PyErr_SetObject(type, text.get());
}

void raise_panic(const Fault& fault) {
    std::fprintf(stderr, "tavrik: internal fault at %s:%u: %s\n", fault.where().file_name(),
                 static_cast<unsigned>(fault.where().line()), fault.what());
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;
    Ref text = Ref::steal(PyUnicode_FromString(fault.what()));
    if (text) PyErr_SetObject(type, text.get());
}

// ---- borrow counter ---------------------------------------------------------

SharedAccess::SharedAccess(Py_ssize_t& counter) : counter_(counter) {
    if (counter_ == -1) raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++counter_;
}

ExclusiveAccess::ExclusiveAccess(Py_ssize_t& counter) : counter_(counter) {
    if (counter_ != 0) raise(PyExc_RuntimeError, "Already borrowed");
    counter_ = -1;
}

// ---- type names -------------------------------------------------------------

std::string type_name_of(PyObject* obj) {
    Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
        if (text != nullptr) return std::string(text, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

void raise_cannot_convert(PyObject* obj, const char* target) {
    raise(PyExc_TypeError,
          "'" + type_name_of(obj) + "' object cannot be converted to '" + target + "'");
}

// ---- argument fitting -------------------------------------------------------

void intern(Signature& signature) {
    for (std::size_t i = 0; i < signature.count; ++i) {
        if (signature.interned[i] != nullptr) continue;
        // kept for the life of the process
        signature.interned[i] = require(Ref::steal(PyUnicode_InternFromString(signature.names[i]))).release();
    }
}

namespace {

// The UTF-8 text of str(obj).
std::string text_of(PyObject* obj) {
    Ref text = require(Ref::steal(PyObject_Str(obj)));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) throw PythonError{};
    return utf8;
}

std::string plural(std::size_t n, const char* one, const char* many) { return n == 1 ? one : many; }

[[noreturn]] void too_many_positional(const Signature& s, std::size_t given) {
    std::string message = s.full_name;
    if (s.required != s.positional) {
        message += " takes from " + std::to_string(s.required) + " to " + std::to_string(s.positional);
    } else {
        message += " takes " + std::to_string(s.positional);
    }
    message += " positional arguments but " + std::to_string(given) + " " +
               plural(given, "was", "were") + " given";
    raise(PyExc_TypeError, message);
}

[[noreturn]] void multiple_values(const Signature& s, const char* name) {
    raise(PyExc_TypeError,
          std::string(s.full_name) + " got multiple values for argument '" + name + "'");
}

[[noreturn]] void unexpected_keyword(const Signature& s, PyObject* key) {
    raise(PyExc_TypeError,
          std::string(s.full_name) + " got an unexpected keyword argument '" + text_of(key) + "'");
}

// Keyword names are matched by identity first (interned names from the
// interpreter's own call machinery), then by value.
std::size_t find_parameter(const Signature& s, PyObject* key) {
    for (std::size_t i = 0; i < s.count; ++i) {
        if (key == s.interned[i]) return i;
    }
    if (!PyUnicode_Check(key)) return s.count;
    for (std::size_t i = 0; i < s.count; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, s.names[i]) == 0) return i;
    }
    return s.count;
}

void place_keyword(const Signature& s, PyObject* key, PyObject* value, Arguments& out) {
    const std::size_t i = find_parameter(s, key);
    if (i == s.count) unexpected_keyword(s, key);
    if (out[i] != nullptr) multiple_values(s, s.names[i]);
    out[i] = value;
}

void check_required(const Signature& s, const Arguments& out) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < s.required; ++i) {
        if (out[i] == nullptr) missing.push_back(s.names[i]);
    }
    if (missing.empty()) return;
    std::string message = std::string(s.full_name) + " missing " + std::to_string(missing.size()) +
                          " required positional " + plural(missing.size(), "argument", "arguments") +
                          ": ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i != 0) {
            if (missing.size() > 2) message += ',';
            message += i == missing.size() - 1 ? " and " : " ";
        }
        message += '\'';
        message += missing[i];
        message += '\'';
    }
    raise(PyExc_TypeError, message);
}

}  // namespace

Arguments fit_fastcall(const Signature& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const auto given = static_cast<std::size_t>(nargs);
    if (given > s.positional) too_many_positional(s, given);
    Arguments out{};
    for (std::size_t i = 0; i < given; ++i) out[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            place_keyword(s, PyTuple_GetItem(kwnames, k), args[nargs + k], out);
        }
    }
    check_required(s, out);
    return out;
}

Arguments fit_tuple_dict(const Signature& s, PyObject* args, PyObject* kwargs) {
    const auto given = static_cast<std::size_t>(require(PyTuple_Size(args)));
    if (given > s.positional) too_many_positional(s, given);
    Arguments out{};
    for (std::size_t i = 0; i < given; ++i) out[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
    if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(s, key, value, out);
    }
    check_required(s, out);
    return out;
}

// ---- conversions ------------------------------------------------------------

void raise_argument_error(const char* name) {
    Ref error = fetch_error();
    if (!error) raise(PyExc_SystemError, "conversion failed without an error");
    if (Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        restore_error(std::move(error));
        throw PythonError{};
    }
    const std::string message = std::string("argument '") + name + "': " + text_of(error.get());
    Ref remapped = require(Ref::steal(PyObject_CallFunction(PyExc_TypeError, "s", message.c_str())));
    // The new error's cause is the first error's cause (which also marks the
    // context as suppressed); the first error stays reachable as __context__.
    PyException_SetCause(remapped.get(), PyException_GetCause(error.get()));
    PyException_SetContext(remapped.get(), error.release());
    restore_error(std::move(remapped));
    throw PythonError{};
}

namespace {

// A complex number (Python's, NumPy's complex128, or any object that converts
// with __complex__) whose imaginary part is not zero: the real part alone
// would be a different number. Refused before the float conversion, which
// for NumPy's complex types drops the imaginary part with only a warning.
void refuse_complex(PyObject* obj) {
    if (!PyComplex_Check(obj)) {
        if (PyFloat_Check(obj) || PyLong_Check(obj)) return;
        const int has_complex = PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__complex__");
        if (!has_complex) return;
    }
    const Py_complex value = PyComplex_AsCComplex(obj);
    if (value.real == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();  // the float conversion reports what this object cannot do
        return;
    }
    if (value.imag == 0.0) return;
    raise(PyExc_TypeError, "'" + type_name_of(obj) +
                               "' value with a non-zero imaginary part cannot be converted to a real 'float'");
}

}  // namespace

double to_double(PyObject* obj, const char* name) {
#ifndef Py_LIMITED_API
    if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
#endif
    try {
        refuse_complex(obj);
    } catch (const PythonError&) {
        raise_argument_error(name);
    }
    double value = PyFloat_AsDouble(obj);
#ifdef PYPY_VERSION
    // CPython's float conversion falls back to __index__ when an object has no
    // __float__ (as float() does on both hosts); PyPy's C-level one does not.
    if (value == -1.0 && PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_TypeError) &&
        PyIndex_Check(obj)) {
        PyErr_Clear();
        Ref index = Ref::steal(PyNumber_Index(obj));
        value = index ? PyLong_AsDouble(index.get()) : -1.0;
    }
#endif
    if (value == -1.0 && PyErr_Occurred()) raise_argument_error(name);
    return value;
}

// A refractive index: a complex value (Python's, NumPy's, or any object with
// __complex__) is kept whole, a zero imaginary part making it a real index;
// every other value converts exactly as to_double converts it.
Complex to_index(PyObject* obj, const char* name) {
    if (!PyFloat_Check(obj) && !PyLong_Check(obj)) {
        const bool complex_like =
            PyComplex_Check(obj) || PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__complex__");
        if (complex_like) {
            const Py_complex value = PyComplex_AsCComplex(obj);
            if (value.real == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();  // the float conversion reports what this object cannot do
            } else {
                return Complex{value.real, value.imag};
            }
        }
    }
    return Complex{to_double(obj, name), 0.0};
}

Polarization to_polarization(PyObject* obj, const char* name) {
    if (obj == nullptr || obj == Py_None) return Polarization::TE;
    if (!PyObject_TypeCheck(obj, type_of<Polarization>())) {
        try {
            raise_cannot_convert(obj, "Polarization");
        } catch (const PythonError&) {
            raise_argument_error(name);
        }
    }
    auto& cell = *reinterpret_cast<Cell<Polarization>*>(obj);
    SharedAccess access(cell.borrow);
    return cell.value;
}

std::uint32_t to_mode(PyObject* obj, const char* name) {
    if (obj == nullptr || obj == Py_None) return 0;
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) raise_argument_error(name);
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_argument_error(name);
    // The mode index is an unsigned machine word of the 32-bit build on every host.
    if (value > 0xFFFFFFFFull) raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    return static_cast<std::uint32_t>(value);
}

Layers to_layers(PyObject* obj, const char* name, ComplexLayers* complex_layers) {
    try {
        if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
        if (!PySequence_Check(obj)) raise_cannot_convert(obj, "Sequence");
        Layers layers;
        const Py_ssize_t size = PySequence_Size(obj);
        if (size < 0) {
            PyErr_Clear();
        } else {
            // The length only sizes the first allocation: a sequence may claim
            // more items than it yields or than memory holds, so the
            // reservation is capped and the list grows past it as usual.
            layers.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(size, 1 << 16)));
        }
        Ref iterator = require(Ref::steal(PyObject_GetIter(obj)));
        while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
            if (!PyObject_TypeCheck(item.get(), type_of<ComplexLayer>())) raise_cannot_convert(item.get(), "Layer");
            auto& cell = *reinterpret_cast<Cell<ComplexLayer>*>(item.get());
            SharedAccess access(cell.borrow);
            layers.push_back(Layer{cell.value.n.re, cell.value.d});
            if (complex_layers != nullptr) complex_layers->push_back(cell.value);
        }
        if (PyErr_Occurred()) throw PythonError{};
        return layers;
    } catch (const PythonError&) {
        raise_argument_error(name);
    }
}

void require_meaning(const Layers& layers, double omega) {
    if (const auto problem = stack_problem(layers, omega)) raise(PyExc_ValueError, *problem);
}

void require_meaning(const MultiLayer& stack, double omega) {
    if (stack.complex_layers.empty()) return require_meaning(stack.layers, omega);
    if (const auto problem = complex_stack_problem(stack.complex_layers, omega)) raise(PyExc_ValueError, *problem);
}

std::vector<double> to_doubles(PyObject* obj, const char* name) {
    std::vector<double> values;
    Ref iterator;
    try {
        if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
        if (!PySequence_Check(obj)) raise_cannot_convert(obj, "Sequence");
        const Py_ssize_t size = PySequence_Size(obj);
        if (size < 0) {
            PyErr_Clear();
        } else {
            values.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(size, 1 << 16)));
        }
        iterator = require(Ref::steal(PyObject_GetIter(obj)));
    } catch (const PythonError&) {
        raise_argument_error(name);
    }
    // Each item converts as a single float argument does (a complex value with
    // an imaginary part is refused, not truncated).
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) values.push_back(to_double(item.get(), name));
    if (PyErr_Occurred()) raise_argument_error(name);
    return values;
}

bool poll_signals(void*) { return PyErr_CheckSignals() != 0; }

bool ReleasedLock::poll_signals(void* context) {
    auto* lock = static_cast<ReleasedLock*>(context);
    PyEval_RestoreThread(lock->state_);
    const bool stop = PyErr_CheckSignals() != 0;
    lock->state_ = PyEval_SaveThread();
    return stop;
}

}  // namespace tavrik::python

namespace tavrik::python {

namespace {

// Runs PyType_FromSpec with DeprecationWarnings ignored: the host warns that a
// class created under a bare name has no __module__, which a caller running with
// warnings as errors would otherwise see as a failed import. The module name is
// set right afterwards.
PyObject* type_from_type_spec_quietly(PyType_Spec* type_spec) {
    Ref warnings = Ref::steal(PyImport_ImportModule("warnings"));
    if (!warnings) return nullptr;
    Ref context = Ref::steal(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
    if (!context) return nullptr;
    Ref entered = Ref::steal(PyObject_CallMethod(context.get(), "__enter__", nullptr));
    if (!entered) return nullptr;
    Ref filtered = Ref::steal(PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore",
                                                  PyExc_DeprecationWarning));
    PyObject* type = filtered ? PyType_FromSpec(type_spec) : nullptr;
    Ref error = fetch_error();
    Ref exited = Ref::steal(
        PyObject_CallMethod(context.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
    if (error) {
        restore_error(std::move(error));
    } else if (!exited) {
        Py_XDECREF(type);
        return nullptr;
    }
    return type;
}

#if PY_VERSION_HEX < 0x030A0000 && !defined(PYPY_VERSION)
// CPython 3.9 keeps a heap type's docstring without its signature line, so the
// class loses its __text_signature__. Put the full text back; the type frees
// tp_doc with PyObject_Free, as it would its own copy.
bool keep_text_signature(PyObject* type, const PyType_Spec* type_spec) {
    for (const PyType_Slot* slot = type_spec->slots; slot->slot != 0; ++slot) {
        if (slot->slot != Py_tp_doc) continue;
        const char* doc = static_cast<const char*>(slot->pfunc);
        const std::size_t size = std::strlen(doc) + 1;
        auto* copy = static_cast<char*>(PyObject_Malloc(size));
        if (copy == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        std::memcpy(copy, doc, size);
        auto* heap_type = reinterpret_cast<PyTypeObject*>(type);
        PyObject_Free(const_cast<char*>(heap_type->tp_doc));
        heap_type->tp_doc = copy;
    }
    return true;
}
#else
bool keep_text_signature(PyObject*, const PyType_Spec*) { return true; }
#endif

}  // namespace

PyTypeObject* create_type(PyType_Spec* type_spec, const char* name) {
    PyObject* type = type_from_type_spec_quietly(type_spec);
    if (type == nullptr || !keep_text_signature(type, type_spec) ||
        PyObject_SetAttrString(type, "__module__", module_name()) < 0) {
        Py_XDECREF(type);
        PyErr_Print();
        fail(std::string("failed to create type object for ") + name);
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

namespace {

template <class T, class Convert>
std::vector<T> values_from(PyObject* list, Convert convert) {
    if (!PyList_Check(list)) raise_cannot_convert(list, "list");
    const Py_ssize_t size = PyList_Size(list);
    std::vector<T> values;
    values.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) values.push_back(convert(PyList_GetItem(list, i)));
    return values;
}

}  // namespace

std::vector<double> doubles_from(PyObject* list) {
    return values_from<double>(list, [](PyObject* item) {
        const double value = PyFloat_AsDouble(item);
        if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
        return value;
    });
}

std::vector<Complex> complexes_from(PyObject* list) {
    return values_from<Complex>(list, [](PyObject* item) {
        const Py_complex value = PyComplex_AsCComplex(item);
        if (value.real == -1.0 && PyErr_Occurred()) throw PythonError{};
        return Complex{value.real, value.imag};
    });
}

PyObject* reduce_to_rebuild(PyObject* self, std::initializer_list<const char*> attributes) {
    Ref args = require(Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(attributes.size()))));
    Py_ssize_t i = 0;
    for (const char* name : attributes) {
        PyTuple_SetItem(args.get(), i++, require(Ref::steal(PyObject_GetAttrString(self, name))).release());
    }
    Ref rebuild =
        require(Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_rebuild")));
    return require(Ref::steal(PyTuple_Pack(2, rebuild.get(), args.get()))).release();
}

PyObject* reduce_value(PyObject* self, Ref args, Ref state) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (state) return require(Ref::steal(PyTuple_Pack(3, type, args.get(), state.get()))).release();
    return require(Ref::steal(PyTuple_Pack(2, type, args.get()))).release();
}

PyObject* module_name() {
    static PyObject* name = PyUnicode_InternFromString("tavrik");
    return name;
}

}  // namespace tavrik::python
