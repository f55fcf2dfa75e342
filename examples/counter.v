// A small design for the bundled example trace: a clocked counter, a shift register, a
// tri-state bus and a state machine.
`timescale 1ns/1ps
module counter_tb;
  reg clk = 0;
  reg rst = 1;
  reg [7:0] count;
  reg [3:0] shift;
  reg en;
  wire [7:0] bus;
  reg [1:0] state;
  real temperature;
  assign bus = en ? count : 8'bz;

  always #5 clk = ~clk;

  always @(posedge clk) begin
    if (rst) begin
      count <= 0;
      shift <= 4'b0001;
      state <= 0;
    end else begin
      count <= count + 1;
      shift <= {shift[2:0], shift[3]};
      state <= (count[1:0] == 2'b11) ? state + 1 : state;
    end
  end

  initial begin
    temperature = 20.5;
    en = 0;
    $dumpfile("counter.vcd");
    $dumpvars(0, counter_tb);
    #12 rst = 0;
    #30 en = 1;
    #100 temperature = 21.25;
    #60 en = 0;
    #60 $finish;
  end
endmodule
