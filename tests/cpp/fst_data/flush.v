// Icarus design for flush.vcd and flush.fst (one run each): $dumpflush closes an FST
// value-change block in the middle of a time step, so the next block starts at the time the
// last one ended; the VCD of the same run has one sample per time.
module top;
  reg clk = 0;
  reg [7:0] cnt = 0;
  reg [3:0] nib = 4'bx;
  real r = 0.25;
  integer i;
  initial begin
`ifdef FST
    $dumpfile("flush.fst");
`else
    $dumpfile("flush.vcd");
`endif
    $dumpvars(0, top);
    $dumpflush;                 // at time 0, before anything changed
    for (i = 0; i < 24; i = i + 1) begin
      #5 clk = ~clk;
      cnt = cnt + 1;
      if (i % 5 == 2) begin
        $dumpflush;             // the rest of this time step goes into the next block
        nib = i[3:0];
        r = r * 2;
      end
      if (i == 10) begin
        $dumpflush;             // two flushes in one time step
        cnt = 8'hA5;
        $dumpflush;
        nib = 4'bz01x;
      end
      if (i == 14) $dumpoff;
      if (i == 17) $dumpon;
    end
    #5 $finish;
  end
endmodule
