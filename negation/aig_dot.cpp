#include "negation/aig_dot.hpp"
