"""Loads the bundled example trace and answers a few questions about it."""

import os
import sys

import quor

HERE = os.path.dirname(os.path.abspath(__file__))


def main() -> int:
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "counter.vcd")
    trace = quor.PyTrace.from_vcd(path)
    print(f"loaded {path}")
    print(f"  {len(trace.signal_names())} signals, {len(trace.scopes())} scopes, "
          f"{trace.max_index() + 1} samples, time {trace.timestamp(0)}..{trace.timestamp(trace.max_index())}")
    for name in trace.signal_names():
        print(f"  {name:<28} width {trace.signal_width(name):>3}  id {trace.signal_id(name)}")
    last = trace.max_index()
    print(f"values at index {last} (time {trace.timestamp(last)}):")
    for name, value in trace.snapshot(last).items():
        print(f"  {name:<28} {value!r}")
    count = "counter_tb.count"
    print(f"{count} over the first 8 samples: {trace.signal_values_range(count, 0, 8)}")
    if hasattr(trace, "find"):
        en = quor.PyExpr.signal(trace.signal_id("counter_tb.en"))
        high = quor.PyExpr.signal(trace.signal_id(count)).gt_(quor.PyExpr.const_int(10))
        hits = trace.find(en.and_(high))
        print(f"indices where en and count > 10: {len(hits)}, first at time {trace.timestamp(hits[0]) if hits else None}")
        print(f"transitions of counter_tb.state: {trace.transitions('counter_tb.state')[:4]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
