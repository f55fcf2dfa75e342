// Icarus design for escaped.vcd and escaped.fst (one run each): escaped identifiers that hold
// dots, for signals and for an instance, beside plain names and vectors.
module leaf(input wire clk);
  reg [3:0] \q.x = 0;
  reg plain = 0;
  always @(posedge clk) begin
    \q.x <= \q.x + 1 ;
    plain <= ~plain;
  end
endmodule

module top;
  reg clk = 0;
  reg \esc.dotted = 0;
  reg \esc = 0;
  reg [7:0] \bus.v = 0;
  reg [7:0] cnt = 0;
  leaf \inst.a (.clk(clk));
  leaf inst (.clk(clk));
  initial begin
`ifdef FST
    $dumpfile("escaped.fst");
`else
    $dumpfile("escaped.vcd");
`endif
    $dumpvars(0, top);
    repeat (6) begin
      #5 clk = ~clk;
      \esc.dotted = ~\esc.dotted ;
      \bus.v = \bus.v + 3 ;
      cnt = cnt + 1;
    end
    \esc = 1 ;
    #5 $finish;
  end
endmodule
