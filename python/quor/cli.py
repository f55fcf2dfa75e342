"""The command line: `quor <subcommand> TRACE ...` (also `python -m quor`)."""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from typing import Any, Callable, Dict, List, Optional, Sequence, Set

from . import __version__, _open_detected
from ._core import PyExpr, PyTrace
from ._suggest import did_you_mean
from .exprlang import build_with_signed, resolve_name
from .progress import load_with_progress
from .timeparse import index_for_time


# A subcommand: reads its arguments and the loaded trace, prints its answer.
Command = Callable[[argparse.Namespace, PyTrace], None]


def _fmt(value: Any) -> str:
    if value is None:
        return "x"
    if isinstance(value, float):
        return repr(value)
    return str(value)


def _table(headers: Sequence[str], rows: Sequence[Sequence[Any]]) -> None:
    out = sys.stdout
    cells = [[str(h) for h in headers]] + [[_fmt(c) for c in row] for row in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(headers))]
    for r in cells:
        line = "  ".join(c.ljust(w) if i < len(r) - 1 else c for i, (c, w) in enumerate(zip(r, widths)))
        print(line.rstrip(), file=out)


def _json_safe(value: Any) -> Any:
    """value with every NaN or infinity as the string "nan", "inf" or "-inf": standard JSON
    has no such numbers, and json.dump would write NaN and Infinity, which parsers refuse."""
    if isinstance(value, float) and not math.isfinite(value):
        return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    if isinstance(value, dict):
        return {k: _json_safe(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_json_safe(v) for v in value]
    return value


def _emit(args: argparse.Namespace, payload: Any, headers: Sequence[str], rows: Sequence[Sequence[Any]]) -> None:
    if args.json:
        json.dump(_json_safe(payload), sys.stdout, indent=2, allow_nan=False)
        sys.stdout.write("\n")
    else:
        _table(headers, rows)


def _check_scope(trace: PyTrace, scope: str) -> None:
    """ValueError unless scope is empty (the top level) or a scope of the trace."""
    if not scope:
        return
    scopes = trace.scopes()
    if scope in scopes:
        return
    prefix = f"{scope}."
    if any(n.startswith(prefix) for n in trace.signal_names()):  # a scope only signal names show
        return
    raise ValueError(f"unknown scope '{scope}'{did_you_mean(scope, scopes)}")


def _signal(trace: PyTrace, name: str, scope: str) -> str:
    _check_scope(trace, scope)
    full = resolve_name(trace, name, scope)
    if full is None:
        where = f" in scope '{scope}'" if scope else ""
        known = trace.signal_names()
        if scope:
            prefix = f"{scope}."
            known = [n[len(prefix):] for n in known if n.startswith(prefix)] or known
        raise ValueError(f"unknown signal '{name}'{where}{did_you_mean(name, known)}")
    return full


def _check_index(trace: PyTrace, index: int) -> None:
    last = trace.max_index()
    if index > last:
        raise ValueError(f"index {index} is past the end of the trace (last index {last})")


def cmd_info(args: argparse.Namespace, trace: PyTrace) -> None:
    last = trace.max_index()
    info: Dict[str, Any] = {
        "path": args.trace,
        "format": args.detected_format.upper(),
        "signals": len(trace.signal_names()),
        "scopes": len(trace.scopes()),
        "first_index": 0,
        "last_index": last,
        "first_time": trace.timestamp(0),
        "last_time": trace.timestamp(last),
        "timescale": trace.timescale(),
    }
    shown = dict(info, timescale="%d%s" % info["timescale"] if info["timescale"] else "none")
    _emit(args, info, ("field", "value"), list(shown.items()))


def cmd_signals(args: argparse.Namespace, trace: PyTrace) -> None:
    if args.pattern is None:
        names = trace.signal_names()
    elif any(c in args.pattern for c in "*?"):
        names = trace.find_signals_glob(args.pattern)
    else:
        names = trace.find_signals_containing(args.pattern)
    rows = [(n, trace.signal_width(n), trace.signal_id(n)) for n in names]
    payload = [{"name": n, "width": w, "id": i} for n, w, i in rows]
    _emit(args, payload, ("name", "width", "id"), rows)


def cmd_scopes(args: argparse.Namespace, trace: PyTrace) -> None:
    scope = args.scope or ""
    _check_scope(trace, scope)
    children = trace.local_scopes(scope)
    signals = trace.local_signals(scope)
    payload = {"scope": scope, "scopes": children, "signals": signals}
    rows = [(c, "scope") for c in children] + [(s, "signal") for s in signals]
    _emit(args, payload, ("name", "kind"), rows)


def _index_arg(args: argparse.Namespace, trace: PyTrace) -> None:
    """Sets args.index from --time when that is given instead of an index."""
    if (args.index is None) == (args.time is None):
        raise ValueError("give an index or --time, one of them")
    if args.time is not None:
        if getattr(args, "end", None) is not None:
            raise ValueError("an end index goes with a start index, not with --time")
        args.index = index_for_time(trace, args.time)


def cmd_value(args: argparse.Namespace, trace: PyTrace) -> None:
    name = _signal(trace, args.signal, args.scope)
    _index_arg(args, trace)
    _check_index(trace, args.index)
    end = args.end if args.end is not None else args.index + 1
    if end <= args.index:
        raise ValueError(f"the end of the range ({end}) is not after its start ({args.index})")
    if end - 1 > trace.max_index():
        last = trace.max_index()
        raise ValueError(f"end {end} is past the end of the trace (last index {last}; the end is exclusive, "
                         f"so at most {last + 1})")
    values = trace.signal_values_range(name, args.index, end)
    rows = [(args.index + k, trace.timestamp(args.index + k), v) for k, v in enumerate(values)]
    payload = [{"index": i, "time": t, "value": v} for i, t, v in rows]
    _emit(args, payload, ("index", "time", name), rows)


def cmd_snapshot(args: argparse.Namespace, trace: PyTrace) -> None:
    _check_scope(trace, args.scope)
    _index_arg(args, trace)
    _check_index(trace, args.index)
    snap = trace.snapshot_scope(args.index, args.scope) if args.scope else trace.snapshot(args.index)
    payload = {"index": args.index, "time": trace.timestamp(args.index), "values": snap}
    _emit(args, payload, ("signal", "value"), list(snap.items()))


def _signed_columns(trace: PyTrace, rows: List[Sequence[Any]], shown: Sequence[str], signed: Set[str]) -> None:
    """Puts the numbers of the shown signals that the expression reads through signed() into
    rows (index, time, values...) as signed() reads them: negative where the sign bit is set."""
    readings = {k: PyExpr.signal(trace.signal_id(n)).signed() for k, n in enumerate(shown) if n in signed}
    if not readings:
        return
    for r, row in enumerate(rows):
        values = list(row)
        for k, reading in readings.items():
            if isinstance(values[2 + k], int):
                values[2 + k] = trace.eval_expr(reading, values[0])
        rows[r] = values


def cmd_find(args: argparse.Namespace, trace: PyTrace) -> None:
    _check_scope(trace, args.scope)
    expr, used, signed = build_with_signed(args.expr, trace, args.scope)
    if args.count:
        count = trace.parallel_count(expr)
        if args.json:
            json.dump({"count": count}, sys.stdout)
            sys.stdout.write("\n")
        else:
            print(count)
        return
    shown = [_signal(trace, s, args.scope) for s in args.show.split(",") if s] if args.show is not None else used
    rows: List[Sequence[Any]]
    if args.limit is None:
        rows = [(index, trace.timestamp(index), *values) for index, values in trace.find_with_values(expr, shown)]
    else:  # the search stops at the limit instead of listing every match first
        rows = [(index, trace.timestamp(index), *(trace.signal_value(n, index) for n in shown))
                for index in trace.parallel_find(expr, args.limit)]
    _signed_columns(trace, rows, shown, signed)
    payload = [{"index": r[0], "time": r[1], "values": dict(zip(shown, r[2:]))} for r in rows]
    _emit(args, payload, ("index", "time", *shown), rows)


def cmd_transitions(args: argparse.Namespace, trace: PyTrace) -> None:
    name = _signal(trace, args.signal, args.scope)
    changes = trace.transitions(name)
    if args.limit is not None:
        changes = changes[: args.limit]
    rows = [(i, trace.timestamp(i), old, new) for i, old, new in changes]
    payload = [{"index": i, "time": t, "old": o, "new": n} for i, t, o, n in rows]
    _emit(args, payload, ("index", "time", "old", "new"), rows)


_STATS = ("min", "max", "sum", "count", "transitions", "num_x", "num_z")


def cmd_stats(args: argparse.Namespace, trace: PyTrace) -> None:
    name = _signal(trace, args.signal, args.scope)
    stats = dict(zip(_STATS, trace.signal_stats(name)))
    _emit(args, {"signal": name, **stats}, ("field", "value"), list(stats.items()))


TIME_HELP = "the sample at this time instead of an index: trace units (1500) or with a unit (1.5us)"


def cmd_export(args: argparse.Namespace, trace: PyTrace) -> None:
    from .export import export_parquet

    signals, rows = export_parquet(trace, args.out, args.signals, label=args.trace)
    if args.signals is not None and signals == 0:
        # The file is still written (an empty table keeps a pipeline over many dumps uniform),
        # but a glob that matches nothing is most often a typo.
        print(f"quor: warning: no signal matches {args.signals!r}; {args.out} holds no rows", file=sys.stderr)
    _emit(args, {"path": args.out, "signals": signals, "rows": rows}, ("field", "value"),
          [("path", args.out), ("signals", signals), ("rows", rows)])


class _SubcommandParser(argparse.ArgumentParser):
    """A subcommand's parser that takes its options anywhere among its arguments.

    Plain argparse fills an optional argument (`snapshot TRACE [index]`) with nothing as soon
    as an option follows the trace, and then refuses the index that comes after the option:
    `quor snapshot t.vcd --scope top 3` failed with "unrecognized arguments: 3"."""

    _intermixed = False

    def parse_known_args(self, args: Any = None, namespace: Any = None) -> Any:
        if self._intermixed:  # the two passes of the intermixed parse itself
            return super().parse_known_args(args, namespace)
        self._intermixed = True
        try:
            return self.parse_known_intermixed_args(args, namespace)
        finally:
            self._intermixed = False


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="quor", description="Query waveform traces (VCD, FST, FSDB, WLF, SHM, VPD).")
    parser.add_argument("--version", action="version", version=f"quor {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="command", parser_class=_SubcommandParser)

    def add(name: str, func: Command, help_text: str) -> argparse.ArgumentParser:
        p = sub.add_parser(name, help=help_text, description=help_text)
        p.add_argument("trace", help="trace file (an SHM database may be a directory)")
        p.add_argument("--json", action="store_true", help="print JSON for scripts")
        p.set_defaults(func=func)
        return p

    def index(text: str) -> int:
        value = int(text, 0)
        if value < 0:
            raise argparse.ArgumentTypeError("an index is not negative")
        return value

    add("info", cmd_info, "format, signal and scope counts, index and time range")
    p = add("signals", cmd_signals, "list signals, optionally matching a glob (* ?) or a substring")
    p.add_argument("pattern", nargs="?", help="glob when it holds * or ?, else a case-insensitive substring")
    p = add("scopes", cmd_scopes, "the child scopes and signals of a scope (the top level by default)")
    p.add_argument("scope", nargs="?", default="")
    p = add("value", cmd_value, "one signal's value at an index, or over a range of indices")
    p.add_argument("signal")
    p.add_argument("index", type=index, nargs="?")
    p.add_argument("end", type=index, nargs="?", help="end of the range (exclusive)")
    p.add_argument("--scope", default="", help="resolve a short signal name within this scope")
    p.add_argument("--time", help=TIME_HELP)
    p = add("snapshot", cmd_snapshot, "all signals (or those of a scope) at an index")
    p.add_argument("index", type=index, nargs="?")
    p.add_argument("--time", help=TIME_HELP)
    p.add_argument("--scope", default="", help="only signals below this scope, named relative to it")
    p = add("find", cmd_find, "the indices where an expression holds")
    p.add_argument("expr", help="e.g. \"count > 10 && en\" or \"prev(state) != state\"")
    p.add_argument("--scope", default="", help="resolve short signal names within this scope")
    p.add_argument("--show", help="comma-separated signals to print at each match (default: those of the expression)")
    p.add_argument("--count", action="store_true", help="print only the number of matches")
    p.add_argument("--limit", type=index, help="print at most this many matches")
    p = add("transitions", cmd_transitions, "the changes of one signal")
    p.add_argument("signal")
    p.add_argument("--scope", default="")
    p.add_argument("--limit", type=index)
    p = add("stats", cmd_stats, "min, max, sum, count, transitions, x and z counts of a signal")
    p.add_argument("signal")
    p.add_argument("--scope", default="")
    p = add("export", cmd_export, "every change of every signal as rows of a Parquet file")
    p.add_argument("out", metavar="OUT.parquet")
    p.add_argument("--signals", metavar="GLOB", help="only the signals matching this glob (* ?)")
    return parser


def _silence_stdout() -> None:
    """Points standard output at /dev/null, so the interpreter's last flush of what is still
    buffered finds no closed pipe (it would print 'Exception ignored ... BrokenPipeError')."""
    try:
        fd = sys.stdout.fileno()
    except (AttributeError, OSError, ValueError):
        return  # not a file (captured output): nothing is flushed to a pipe at exit
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, fd)
    finally:
        os.close(devnull)


def _open_and_note_format(args: argparse.Namespace, path: str) -> PyTrace:
    trace, args.detected_format = _open_detected(path)
    return trace


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = _parser().parse_args(argv)
    try:
        trace = load_with_progress(args.trace, lambda path: _open_and_note_format(args, path))
        args.func(args, trace)
        sys.stdout.flush()  # a closed pipe shows here, where it is handled, not at exit
    except BrokenPipeError:  # the reader went away (| head): stop quietly, as cat and grep do
        _silence_stdout()
        return 0
    except (ValueError, OSError, ImportError) as err:  # ExprError is a ValueError
        print(f"quor: error: {err}", file=sys.stderr)
        return 1
    except MemoryError:  # a load or search under a memory limit: the process itself is fine
        print("quor: error: out of memory", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    except Exception as err:  # a bug of ours: still one line, never a traceback
        print(f"quor: internal error: {type(err).__name__}: {err}", file=sys.stderr)
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
