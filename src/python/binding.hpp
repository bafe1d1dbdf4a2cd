// Conventions shared by every Python-facing entry point.
//
//  * PythonError: thrown right after a C API call that left a Python error set
//    (or after setting one ourselves). It carries nothing: the error lives in
//    the interpreter. require() throws it for the C API's two failure
//    conventions, a null result and a negative status.
//  * guarded(): every entry point (tp_new, getters, setters, methods, slots) runs
//    its body through it. It turns PythonError into "return the error value", a
//    core Fault into PanicException (with a report on stderr), a cancelled
//    search into the pending KeyboardInterrupt, a failed or refused allocation
//    into MemoryError, and lets no C++ exception cross
//    into the interpreter.
//  * Cell<T>: the layout of every instance: the object header, the value, and a
//    borrow counter (0 free, >0 shared accesses, -1 one exclusive access).
//  * fit_*(): the one argument-fitting routine, producing every call-shape
//    message; the to_*() conversions add the "argument '...': " prefix.
#pragma once

#include "handle.hpp"
#include "docstrings.hpp"

#include <array>
#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "dispersion.hpp"
#include "fault.hpp"
#include "complex_layer.hpp"
#include "layer.hpp"
#include "memory_budget.hpp"
#include "multilayer.hpp"

namespace tavrik::python {

struct PythonError : std::exception {
    PythonError() noexcept { assert(PyErr_Occurred() != nullptr); }
    const char* what() const noexcept override { return "a Python error is set"; }
};

// A new reference, or null with an error set.
inline Ref require(Ref result) {
    if (!result) throw PythonError{};
    return result;
}

// A status or size, negative with an error set.
template <std::signed_integral I>
I require(I status) {
    if (status < 0) throw PythonError{};
    return status;
}

[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] void raise(PyObject* type, const std::string& message);

// Maps a fault to PanicException and writes the report on stderr.
void raise_panic(const Fault& fault);
void raise_panic(const char* message);
PyObject* panic_exception_type();

template <class R, class F>
R guarded_as(R error_value, F&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
    } catch (const Fault& fault) {
        raise_panic(fault);
    } catch (const Cancelled&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const MemoryRefused& refused) {
        // A request refused before allocating says how much it asked for.
        PyErr_SetString(PyExc_MemoryError, refused.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
    return error_value;
}

template <class F>
PyObject* guarded(F&& body) noexcept {
    return guarded_as<PyObject*>(nullptr, static_cast<F&&>(body));
}

// ---- the six classes ----------------------------------------------------------

// The Python name of the class whose instances hold a T.
template <class T>
inline constexpr const char* class_name = nullptr;
template <> inline constexpr const char* class_name<BackEnd> = "BackEnd";
template <> inline constexpr const char* class_name<Polarization> = "Polarization";
template <> inline constexpr const char* class_name<ComplexLayer> = "Layer";
template <> inline constexpr const char* class_name<MultiLayer> = "MultiLayer";
template <> inline constexpr const char* class_name<IndexProfile> = "IndexData";
template <> inline constexpr const char* class_name<FieldData> = "FieldData";
template <> inline constexpr const char* class_name<DispersionTable> = "DispersionData";

// ---- instances and their borrow counter -------------------------------------

template <class T>
struct Cell {
    PyObject_HEAD
    T value;
    Py_ssize_t borrow;
};

// The type objects are created once per process; see module.cpp.
template <class T>
PyTypeObject* type_of();

class SharedAccess {
public:
    explicit SharedAccess(Py_ssize_t& counter);
    ~SharedAccess() { --counter_; }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;

private:
    Py_ssize_t& counter_;
};

class ExclusiveAccess {
public:
    explicit ExclusiveAccess(Py_ssize_t& counter);
    ~ExclusiveAccess() { counter_ = 0; }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

private:
    Py_ssize_t& counter_;
};

// Allocates an instance of `type` and constructs its value in place.
template <class T>
PyObject* new_cell(PyTypeObject* type, T&& value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = require(Ref::steal(alloc(type, 0))).release();
    auto* cell = reinterpret_cast<Cell<std::decay_t<T>>*>(obj);
    new (&cell->value) std::decay_t<T>(static_cast<T&&>(value));
    cell->borrow = 0;
    return obj;
}

template <class T>
void dealloc_cell(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    reinterpret_cast<Cell<T>*>(obj)->value.~T();
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(obj);
    Py_DECREF(type);
}

// "'<type>' object cannot be converted to '<target>'" as a TypeError.
[[noreturn]] void raise_cannot_convert(PyObject* obj, const char* target);
std::string type_name_of(PyObject* obj);

template <class T>
Cell<T>& cell_of(PyObject* obj) {
    if (!PyObject_TypeCheck(obj, type_of<T>())) raise_cannot_convert(obj, class_name<T>);
    return *reinterpret_cast<Cell<T>*>(obj);
}

// ---- argument fitting -------------------------------------------------------

inline constexpr std::size_t max_parameters = 4;

struct Signature {
    template <std::size_t N>
    constexpr Signature(const char* full, const char* const (&parameter_names)[N], std::size_t required_count)
        : full_name(full), names(parameter_names), count(N), required(required_count), positional(N) {
        static_assert(N <= max_parameters);
    }
    // The parameters from `positional_count` on are keyword-only.
    template <std::size_t N>
    constexpr Signature(const char* full, const char* const (&parameter_names)[N], std::size_t required_count,
                        std::size_t positional_count)
        : full_name(full), names(parameter_names), count(N), required(required_count),
          positional(positional_count) {
        static_assert(N <= max_parameters);
    }

    const char* full_name;     // "MultiLayer.neff()"
    const char* const* names;  // parameter names, in order
    std::size_t count;         // number of parameters
    std::size_t required;      // the first `required` ones are required
    std::size_t positional;    // the first `positional` ones may be given by position
    std::array<PyObject*, max_parameters> interned{};  // for identity matching, see intern()
};

// Interns the parameter names, once, when the class that owns the signature
// is created (module initialisation); they live as long as the process.
void intern(Signature& signature);

// Entry i borrows the argument of parameter i, or is null when it was not given.
using Arguments = std::array<PyObject*, max_parameters>;

// Fit a fast call (argument array and a tuple of keyword names) or a classic
// (tuple, dict) call to the parameters.
Arguments fit_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
Arguments fit_tuple_dict(const Signature& signature, PyObject* args, PyObject* kwargs);

// ---- conversions ------------------------------------------------------------

// Replaces a pending TypeError by "argument '<name>': <message>" (the cause of
// the first error kept as the cause, the first error itself as the context);
// other errors pass unchanged. Always throws.
[[noreturn]] void raise_argument_error(const char* name);

double to_double(PyObject* obj, const char* name);
Polarization to_polarization(PyObject* obj, const char* name);  // obj may be null or None
std::uint32_t to_mode(PyObject* obj, const char* name);         // obj may be null or None
// The layers' real records; when `complex_layers` is given it receives the
// complex records too.
Layers to_layers(PyObject* obj, const char* name, ComplexLayers* complex_layers = nullptr);
// A refractive index: a float as to_double, or a complex (a complex, or any
// object with __complex__).
Complex to_index(PyObject* obj, const char* name);
// A sequence of floats (a list, a tuple, a NumPy array, ...), not a string.
std::vector<double> to_doubles(PyObject* obj, const char* name);

// Raises ValueError when the stack or omega has no physical meaning; every
// computation of a mode calls it once its arguments are converted.
void require_meaning(const Layers& layers, double omega);
// The stack's own judgement: its complex records when it has any.
void require_meaning(const MultiLayer& stack, double omega);

// The search's cancellation check: pending signals (Ctrl-C) stop it.
bool poll_signals(void*);

// The interpreter lock released for the life of the object (the computation
// between construction and destruction touches no Python object), restored
// on every exit, an exception included.
class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ~ReleasedLock() { PyEval_RestoreThread(state_); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;
    // The cancellation check of a computation running without the lock
    // (context: the ReleasedLock): takes the lock back just long enough to
    // look for pending signals.
    static bool poll_signals(void* context);

private:
    PyThreadState* state_;
};

}  // namespace tavrik::python

namespace tavrik::python {

// Creates a class from its PyType_Spec with the base object type as its only
// base. A failure prints the host's report and becomes the fault
// "failed to create type object for <name>".
PyTypeObject* create_type(PyType_Spec* type_spec, const char* name);
PyObject* module_name();  // "tavrik", interned, kept for the process

// The values of a list of floats or of complex numbers (what the result
// classes' attributes return), for rebuilding a result from its pickle.
std::vector<double> doubles_from(PyObject* list);
std::vector<Complex> complexes_from(PyObject* list);

// (type(self)._rebuild, (self.a, self.b, ...)): the pickle of a result class,
// which Python cannot construct, names its class method _rebuild.
PyObject* reduce_to_rebuild(PyObject* self, std::initializer_list<const char*> attributes);

// (type(self), args) or (type(self), args, state): what __reduce__ returns for
// an object that `type(self)(*args)` (then setattr from state) rebuilds.
PyObject* reduce_value(PyObject* self, Ref args, Ref state = Ref{});

// The tp_new of classes that Python cannot construct.
template <class T>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, (std::string("No constructor defined for ") + class_name<T>).c_str());
    return nullptr;
}

// The class of T from the slots of its own (docstring, construction, special
// operations, attributes, methods). What every class shares is added here:
// instances are Cell<T>, dealloc releases the value and the type reference,
// a class without construction gets the "No constructor defined" tp_new, and
// no class can be subclassed (no Py_TPFLAGS_BASETYPE), has an instance dict
// or takes weak references.
//
// The PyType_Spec name is bare ("Layer", not "tavrik.Layer"): the host builds
// its own messages from it ("'Layer' object has no attribute 'n'", "type
// 'Layer' is not an acceptable base type"), and they name the classes as they
// always have. create_type() then sets __module__ to "tavrik", which a bare
// name leaves unset, so that repr(), help() and pickle find the classes.
template <class T>
PyTypeObject* create_class(std::initializer_list<PyType_Slot> own_slots) {
    std::vector<PyType_Slot> slots(own_slots);
    bool constructible = false;
    for (const PyType_Slot& slot : slots) constructible = constructible || slot.slot == Py_tp_new;
    if (!constructible) slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor<T>)});
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc_cell<T>)});
    slots.push_back({0, nullptr});
    PyType_Spec type_spec = {class_name<T>, static_cast<int>(sizeof(Cell<T>)), 0, Py_TPFLAGS_DEFAULT,
                             slots.data()};
    return create_type(&type_spec, class_name<T>);
}

// Fills a preallocated list; the new reference is stolen by the list.
inline void list_set(PyObject* list, Py_ssize_t i, PyObject* item) {
    if (item == nullptr) throw PythonError{};
#ifdef Py_LIMITED_API
    PyList_SetItem(list, i, item);
#else
    PyList_SET_ITEM(list, i, item);
#endif
}

template <class T, class Make>
PyObject* list_from(const std::vector<T>& values, Make make) {
    Ref list = require(Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size()))));
    for (std::size_t i = 0; i < values.size(); ++i) {
        list_set(list.get(), static_cast<Py_ssize_t>(i), make(values[i]));
    }
    return list.release();
}

}  // namespace tavrik::python
