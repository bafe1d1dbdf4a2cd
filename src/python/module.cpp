// The module tavrik: created once per process; registers its six classes, in
// order, each name appended to __all__ before the attribute is set.
//
// Initialisation is single-phase (PyModule_Create, m_size -1), not multi-phase:
// the classes are process-wide types cached by type_of<T>() and the
// enumeration members are singletons, so there is no per-module state that a
// second module object (a subinterpreter, a reload) could own. A second
// initialisation hands back the same module.
#include "binding.hpp"

#include "multilayer.hpp"

namespace tavrik::python {
namespace {

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "tavrik", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};
PyObject* module_object = nullptr;

void add_class(PyObject* module, const char* name, PyTypeObject* type) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = require(Ref::steal(PyList_New(0)));
        require(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    Ref text = require(Ref::steal(PyUnicode_FromString(name)));
    require(PyList_Append(all.get(), text.get()));
    require(PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)));
}

PyObject* init() {
    return guarded([]() -> PyObject* {
        if (module_object != nullptr) {
            Py_INCREF(module_object);
            return module_object;
        }
        Ref module = require(Ref::steal(PyModule_Create(&module_def)));
        // PyPy leaves __doc__ unset for an empty m_doc, and the module type's own
        // docstring then shows through; store the empty docstring explicitly.
        Ref doc = require(Ref::steal(PyUnicode_FromString("")));
        require(PyObject_SetAttrString(module.get(), "__doc__", doc.get()));
        add_class(module.get(), "BackEnd", type_of<BackEnd>());
        add_class(module.get(), "Polarization", type_of<Polarization>());
        add_class(module.get(), "Layer", type_of<ComplexLayer>());
        add_class(module.get(), "MultiLayer", type_of<MultiLayer>());
        add_class(module.get(), "IndexData", type_of<IndexProfile>());
        add_class(module.get(), "FieldData", type_of<FieldData>());
        // Beside the six, not in __all__: the fault class, made now so that
        // `except tavrik.PanicException` works before any fault, and the version.
        PyObject* panic = panic_exception_type();
        if (panic == nullptr) throw PythonError{};
        require(PyObject_SetAttrString(module.get(), "PanicException", panic));
        Ref version = require(Ref::steal(PyUnicode_FromString(TAVRIK_VERSION)));
        require(PyObject_SetAttrString(module.get(), "__version__", version.get()));
        // Result classes added since are module attributes, not in __all__.
        require(PyObject_SetAttrString(module.get(), "DispersionData",
                                       reinterpret_cast<PyObject*>(type_of<DispersionTable>())));
        module_object = module.get();
        Py_INCREF(module_object);  // the process-wide cache keeps one reference
        return module.release();
    });
}

}  // namespace
}  // namespace tavrik::python

PyMODINIT_FUNC PyInit_tavrik(void) { return tavrik::python::init(); }
