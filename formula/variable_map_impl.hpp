// Implementation of VariableMap; included by variable_map.hpp only.
#pragma once
