#pragma once
#include "formats/fst/fst_values.hpp"
