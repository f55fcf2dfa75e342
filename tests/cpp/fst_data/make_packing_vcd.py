"""Writes packing.vcd: regular activity whose per-signal data compresses, so
that FST writers store it packed (LZ4, FastLZ or zlib)."""
out = ["$timescale 1ns $end", "$scope module top $end",
       "$var wire 1 ! clk $end", "$var wire 16 \" count [15:0] $end", "$var wire 40 # pattern [39:0] $end",
       "$var real 64 $ level $end", "$var wire 3 % mixed [2:0] $end", "$upscope $end", "$enddefinitions $end"]
for t in range(0, 1200):
    out.append(f"#{t * 5}")
    out.append(f"{t & 1}!")
    if t % 2 == 0:
        out.append(f"b{t // 2:016b} \"")
    if t % 3 == 0:
        out.append("b" + ("10" * 20 if t % 6 == 0 else "0110" * 10) + " #")
    if t % 7 == 0:
        out.append(f"r{(t % 14) * 0.25} $")
    if t % 5 == 0:
        out.append("b" + ["x01", "z1z", "011", "1x0"][t // 5 % 4] + " %")
with open("packing.vcd", "w") as f:
    f.write("\n".join(out) + "\n")
