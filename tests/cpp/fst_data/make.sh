#!/bin/sh
# Regenerates the FST files used by the reader's C++ tests, and next to each
# the VCD that GTKWave's fst2vcd writes from it (the expected values).
# Needs gtkwave (vcd2fst, fst2vcd), iverilog, ghdl and verilator.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# vcd2fst with each value packing, and with the whole file wrapped in gzip.
vcd2fst -4 small.vcd small_lz4.fst >/dev/null
vcd2fst -F small.vcd small_fastlz.fst >/dev/null
vcd2fst -Z small.vcd small_zlib.fst >/dev/null
vcd2fst -c small.vcd small_gzip.fst >/dev/null
fst2vcd small_lz4.fst > small.expected.vcd
python3 make_packing_vcd.py
vcd2fst -4 packing.vcd packing_lz4.fst >/dev/null
vcd2fst -F packing.vcd packing_fastlz.fst >/dev/null
vcd2fst -Z packing.vcd packing_zlib.fst >/dev/null
fst2vcd packing_lz4.fst > packing.expected.vcd
rm packing.vcd
# Real variables given b values (stored in the packed form of a real change).
vcd2fst -4 real_bits.vcd real_bits_lz4.fst >/dev/null
vcd2fst -F real_bits.vcd real_bits_fastlz.fst >/dev/null
vcd2fst -Z real_bits.vcd real_bits_zlib.fst >/dev/null
fst2vcd real_bits_lz4.fst > real_bits.expected.vcd

# Icarus Verilog; $dumpflush starts a new value-change block.
iverilog -o "$tmp/small.vvp" small.v
(cd "$tmp" && vvp -n small.vvp -fst >/dev/null && cp multi_block.fst "$OLDPWD/")

# Icarus Verilog, one run to VCD and one to FST: $dumpflush in the middle of time steps.
iverilog -o "$tmp/flush_vcd.vvp" flush.v
iverilog -DFST -o "$tmp/flush_fst.vvp" flush.v
(cd "$tmp" && vvp -n flush_vcd.vvp >/dev/null && vvp -n flush_fst.vvp -fst >/dev/null \
    && cp flush.vcd flush.fst "$OLDPWD/")

# Escaped (Verilog) and extended (VHDL) identifiers holding dots, one run to VCD and one to FST.
iverilog -o "$tmp/escaped_vcd.vvp" escaped.v
iverilog -DFST -o "$tmp/escaped_fst.vvp" escaped.v
(cd "$tmp" && vvp -n escaped_vcd.vvp >/dev/null && vvp -n escaped_fst.vvp -fst >/dev/null \
    && cp escaped.vcd escaped.fst "$OLDPWD/")
(cd "$tmp" && ghdl -a --std=08 "$OLDPWD/extended.vhd" && ghdl -e --std=08 tb \
    && ghdl -r --std=08 tb --vcd=extended.vcd --stop-time=100ns && ghdl -r --std=08 tb --fst=extended.fst --stop-time=100ns \
    && cp extended.vcd extended.fst "$OLDPWD/")

# GHDL: enumerations and characters as variable-length signals, std_logic.
(cd "$tmp" && ghdl -a "$OLDPWD/ghdl_enum.vhd" && ghdl -e e && ghdl -r e --fst=ghdl_enum.fst --stop-time=10ns)
cp "$tmp/ghdl_enum.fst" .

# Verilator: enum tables, wide vectors, reals, aliases across scopes.
cp verilator.sv "$tmp/t.sv"
cp verilator_main.cc "$tmp/main.cpp"
(cd "$tmp" && verilator -Wno-fatal -Wno-WIDTH --cc --exe --build --trace-fst -j 1 t.sv main.cpp -o vt >/dev/null \
    && ./obj_dir/vt && cp verilator.fst "$OLDPWD/")

for f in multi_block ghdl_enum verilator; do
    fst2vcd "$f.fst" > "$f.expected.vcd"
done
