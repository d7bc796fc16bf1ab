#include "negation/encode.hpp"
