// PyTrace.from_fsdb, from_wlf, from_shm and from_vpd.

#include "method_tables.hpp"

namespace quor_binding {

PyMethodDef format_loader_static[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
