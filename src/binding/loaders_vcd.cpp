#include "loader_util.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "trace/vcd.hpp"

namespace quor_binding {

using quor_core::trace::VcdTrace;

namespace {

PyObject* from_vcd(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace.from_vcd", "path",
                      [](std::string_view path) { return VcdTrace::from_file(std::string(path)); });
}

PyObject* from_vcd_string(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace.from_vcd_string", "data",
                      [](std::string_view data) { return VcdTrace::parse(data); });
}

}  // namespace

PyMethodDef vcd_loader_static[] = {
    {"from_vcd", as_cfunction<from_vcd>(),
     kFastKw,
     "from_vcd(path)\n--\n\n" QUOR_DOC_TRACE_FROM_VCD},
    {"from_vcd_string", as_cfunction<from_vcd_string>(),
     kFastKw, "from_vcd_string(data)\n--\n\n" QUOR_DOC_TRACE_FROM_VCD_STRING},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
