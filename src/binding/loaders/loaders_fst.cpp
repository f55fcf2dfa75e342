// PyTrace.from_fst.

#include "loader_util.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "formats/fst/fst.hpp"

namespace quor_binding {

using quor_core::trace::FstTrace;

namespace {

PyObject* from_fst(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_loader(cls, args, nargs, kwnames, "PyTrace.from_fst", "path",
                      [](std::string_view path, const quor_core::util::Interrupt& interrupt) {
                          return FstTrace::from_file(std::string(path), {}, interrupt);
                      });
}

}  // namespace

PyMethodDef fst_loader_static[] = {
    {"from_fst", as_cfunction<from_fst>(), kFastKw, "from_fst(path)\n--\n\n" QUOR_DOC_TRACE_FROM_FST},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
