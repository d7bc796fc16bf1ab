#include "negation/clause_index.hpp"
