#include "aiger/aiger.hpp"
