#include "formats/fst/fst.hpp"
#include "trace/trace.hpp"
