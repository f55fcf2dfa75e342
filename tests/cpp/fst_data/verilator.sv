module t(input logic clk);
  typedef enum logic [1:0] {IDLE, LOAD, RUN} st_t;
  st_t st = IDLE;
  logic [7:0] cnt = 0;
  logic [69:0] wide = 0;
  real r = 0.5;
  typedef struct packed { logic [3:0] a; logic b; } s_t;
  s_t s;
  logic [3:0] arr [0:2];
  always @(posedge clk) begin
    cnt <= cnt + 1; st <= st_t'((st + 1) % 3); wide <= {wide[68:0], ~wide[69]}; r <= r * 2.0;
    s <= {cnt[3:0], cnt[4]}; arr[cnt[1:0] % 3] <= cnt[3:0];
  end
endmodule
