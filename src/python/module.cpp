// The `korva._korva` extension module.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef_Slot kSlots[] = {
    {0, nullptr},
};

int exec_module(PyObject* module) {
  return PyModule_AddStringConstant(module, "__version__", "0.2.0");
}

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_korva", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__korva() {
  PyObject* m = PyModule_Create(&kModule);
  if (m == nullptr) return nullptr;
  if (exec_module(m) < 0) {
    Py_DECREF(m);
    return nullptr;
  }
  (void)kSlots;
  return m;
}
