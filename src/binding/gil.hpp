#pragma once
// GilReleased: the interpreter lock, released for a scope, with the means to run Python's
// signal handlers from inside that scope (Ctrl-C raises KeyboardInterrupt in its handler).
//
// Work that uses the worker pool runs inside such a scope: the thread that runs a pool job asks
// for signals with the lock taken back, so no thread may wait for the pool while holding the
// lock (it would wait for the job's thread, which waits for the lock).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "util/interrupt.hpp"

namespace quor_binding {

class GilReleased {
public:
    GilReleased() : state_(PyEval_SaveThread()) {}
    ~GilReleased() { PyEval_RestoreThread(state_); }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

    // Runs the handlers of signals that arrived, with the lock held meanwhile; true when one
    // raised (the exception is then set, to be returned once the scope ends).
    bool signals_raised() {
        const Held held(*this);
        return PyErr_CheckSignals() != 0;
    }

    // Holds the lock again for a scope inside the released one.
    class Held {
    public:
        explicit Held(GilReleased& released) : released_(released) { PyEval_RestoreThread(released_.state_); }
        ~Held() { released_.state_ = PyEval_SaveThread(); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        GilReleased& released_;
    };

    // An interrupt for work done in this scope, made on this thread: it stops the work once a
    // signal handler raised.
    quor_core::util::Interrupt interrupt() {
        return quor_core::util::Interrupt([this] { return signals_raised(); });
    }

private:
    PyThreadState* state_;
};

}  // namespace quor_binding
