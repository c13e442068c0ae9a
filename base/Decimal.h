#pragma once
/// Numbers as text that reads back to the same bits: the form of every number the tool writes
/// for other programs (CSV, JSON).

#include <string>

namespace host {

/// `value` as the shortest decimal that reads back to the same float ("nan", "inf" and "-inf"
/// for the values without one).
std::string floatToDecimal(float value);

/// `value` as the shortest decimal that reads back to the same double ("nan", "inf", "-inf").
std::string doubleToDecimal(double value);

}  // namespace host
