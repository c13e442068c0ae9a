// The module camsys (its compiled part, camsys._camsys): the plug-in, its scenes, flights and
// checks, through the library code of the camsys tool.
#include <pybind11/pybind11.h>

#include "base/InputError.h"
#include "python/Bindings.h"
#include "python/SceneRuntimes.h"

namespace py = pybind11;

PYBIND11_MODULE(_camsys, module) {
    module.doc() = "The compiled part of camsys; use the package camsys.";
    py::register_exception<host::InputError>(module, "InputError", PyExc_ValueError);
    module.attr("InputError").attr("__doc__") =
        "Bad input, with the tool's own message: FILE: OBJECT: ATTRIBUTE: what (empty parts left out).";
    module.def("plugin_path", &pycamsys::pluginPath,
               "The plug-in the scenes load: $CAMSYS_PLUGIN, else the one installed beside the module, else\n"
               "the one built beside it.");
    pycamsys::bindFlights(module);
    pycamsys::bindScene(module);
#ifdef CAMSYS_VERSION
    module.attr("__version__") = CAMSYS_VERSION;
#endif
}
