// PyTrace methods that evaluate expressions, search the trace, navigate scopes and compute
// statistics.

#include "method_tables.hpp"

namespace quor_binding {

PyMethodDef trace_analysis_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
