// PyTrace.from_fsdb, from_wlf, from_shm and from_vpd.

#include "loader_util.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "formats/fsdb/fsdb.hpp"
#include "formats/shm/shm.hpp"
#include "formats/vpd/vpd.hpp"
#include "formats/wlf/wlf.hpp"

namespace quor_binding {

namespace {

template <typename TraceT>
PyObject* load(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* function) {
    return run_loader(cls, args, nargs, kwnames, function, "path",
                      [](std::string_view path, const quor_core::util::Interrupt& interrupt) {
                          return TraceT::from_file(std::string(path), interrupt);
                      });
}

PyObject* from_fsdb(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return load<quor_core::trace::FsdbTrace>(cls, args, nargs, kwnames, "PyTrace.from_fsdb");
}

PyObject* from_wlf(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return load<quor_core::trace::WlfTrace>(cls, args, nargs, kwnames, "PyTrace.from_wlf");
}

PyObject* from_shm(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return load<quor_core::trace::ShmTrace>(cls, args, nargs, kwnames, "PyTrace.from_shm");
}

PyObject* from_vpd(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return load<quor_core::trace::VpdTrace>(cls, args, nargs, kwnames, "PyTrace.from_vpd");
}

}  // namespace

PyMethodDef format_loader_static[] = {
    {"from_fsdb", as_cfunction<from_fsdb>(), kFastKw, "from_fsdb(path)\n--\n\n" QUOR_DOC_TRACE_FROM_FSDB},
    {"from_wlf", as_cfunction<from_wlf>(), kFastKw, "from_wlf(path)\n--\n\n" QUOR_DOC_TRACE_FROM_WLF},
    {"from_shm", as_cfunction<from_shm>(), kFastKw, "from_shm(path)\n--\n\n" QUOR_DOC_TRACE_FROM_SHM},
    {"from_vpd", as_cfunction<from_vpd>(), kFastKw, "from_vpd(path)\n--\n\n" QUOR_DOC_TRACE_FROM_VPD},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
