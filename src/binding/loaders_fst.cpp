// PyTrace.from_fst.

#include "method_tables.hpp"

namespace quor_binding {

PyMethodDef fst_loader_static[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
