#include "Vt.h"
#include "verilated.h"
#include "verilated_fst_c.h"
int main(int argc, char** argv) {
  Verilated::commandArgs(argc, argv); Verilated::traceEverOn(true);
  Vt* top = new Vt; VerilatedFstC* tfp = new VerilatedFstC; top->trace(tfp, 99); tfp->open("verilator.fst");
  for (int t = 0; t < 40; ++t) { top->clk = t & 1; top->eval(); tfp->dump(t * 10); }
  tfp->close(); delete top; return 0;
}
