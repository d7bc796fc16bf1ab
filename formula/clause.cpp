#include "formula/formula.hpp"
