#pragma once
// The module's parts, each adding its classes and functions to the module object.

#include <pybind11/pybind11.h>

namespace pycamsys {

/// Flight, Analysis and fit_path: numpy views of recorded flights and their measures.
void bindFlights(pybind11::module_& module);
/// Scene and its calls.
void bindScene(pybind11::module_& module);

}  // namespace pycamsys
