// Icarus Verilog design for multi-block.fst: $dumpflush closes a block.
module top;
  reg clk = 0;
  reg [7:0] cnt = 0;
  reg [99:0] wide = 0;
  real r = 0.5;
  integer i;
  initial begin
    $dumpfile("multi_block.fst");
    $dumpvars(0, top);
    #3;
    for (i = 0; i < 40; i = i + 1) begin
      #5 clk = ~clk; cnt = cnt + 1; wide = {wide[98:0], clk}; r = r * 1.5;
      if (i % 10 == 9) $dumpflush;
    end
    cnt = 8'bx1z0_1010;
    #5 $finish;
  end
endmodule
