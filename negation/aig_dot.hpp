// Graphviz DOT text of an And-Inverter Graph.
#pragma once

#include <ostream>

#include "aiger/aiger.hpp"

namespace ZEFI {

std::ostream& writeAigDot(const AigStore& store, std::ostream& out);

}  // namespace ZEFI
