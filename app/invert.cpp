#include "app/invert.hpp"
