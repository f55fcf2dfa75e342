#include "loader_util.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "formats/vcd/vcd.hpp"
#include "formats/vcd/vcd_stream.hpp"

namespace quor_binding {

using quor_core::trace::VcdTrace;
using quor_core::util::Interrupt;

namespace {

PyObject* from_vcd(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace.from_vcd", "path",
                      [](std::string_view path, const Interrupt& interrupt) {
                          return VcdTrace::from_file(std::string(path), {}, interrupt);
                      });
}

PyObject* from_vcd_string(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace.from_vcd_string", "data",
                      [](std::string_view data, const Interrupt& interrupt) { return VcdTrace::parse(data, {}, interrupt); },
                      LoaderArg::Text);
}

// quor.open's loader for a pipe or device: the bytes that tell the format are the ones loaded.
PyObject* from_stream(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace._from_stream", "path",
                      [](std::string_view path, const Interrupt& interrupt) {
                          return quor_core::trace::load_vcd_stream(std::string(path), {}, interrupt);
                      });
}

}  // namespace

PyMethodDef vcd_loader_static[] = {
    {"from_vcd", as_cfunction<from_vcd>(),
     kFastKw,
     "from_vcd(path)\n--\n\n" QUOR_DOC_TRACE_FROM_VCD},
    {"from_vcd_string", as_cfunction<from_vcd_string>(),
     kFastKw, "from_vcd_string(data)\n--\n\n" QUOR_DOC_TRACE_FROM_VCD_STRING},
    {"_from_stream", as_cfunction<from_stream>(), kFastKw,
     "_from_stream(path)\n--\n\n"
     "Loads VCD text (plain or gzip-compressed) from a pipe or device, read once; refuses\n"
     "anything else. quor.open calls it for every path that is not a regular file."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
