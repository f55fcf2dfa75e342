// A system-on-chip-shaped design for load benchmarks: clusters of cores of datapath lanes,
// every level a generate loop, so the dump has long hierarchical names
// (tb.u_soc_top.g_cluster[1].u_cluster_wrapper.g_core[2].u_core_datapath.g_lane[3].u_lane_cell...).
// Buses run from 1 to 256 bits with 128-bit data paths; every lane keeps a small array of
// history bytes; clocks, resets, enables and data reach the lanes through ports, so the
// same net appears in several scopes (aliases). Each lane works only when its enable, a bit of
// its core's shift register, is set, so a few per cent of the signals change per cycle.
//
// Instances get their identities through ports, not parameters, so every instance of a module
// shares one model in simulators that specialise a module per parameter set.
// Sizes come from parameters: CLUSTERS x CORES x LANES lanes of about twenty signals each;
// CYCLES clock cycles are simulated. The dump file is named by +dump=FILE.

`timescale 1ns / 1ps

module lane_cell (
    input  wire         clk,
    input  wire         rst_n,
    input  wire         lane_enable,
    input  wire [31:0]  lane_seed,
    input  wire [7:0]   opcode,
    input  wire [127:0] data_in,
    output reg  [127:0] data_out_q,
    output wire         parity_out,
    output reg          result_valid_q
);
    reg  [31:0]  lfsr_state_q;
    reg  [15:0]  operation_count_q;
    reg  [3:0]   fsm_state_q;
    reg  [63:0]  accumulator_q;
    reg  [7:0]   history_q [0:3];
    wire [255:0] wide_concat_bus = {data_out_q, data_in};
    wire [2:0]   select_field = lfsr_state_q[2:0];
    wire         fsm_busy = fsm_state_q != 4'd0;
    wire [11:0]  mixed_tag = {opcode, fsm_state_q} ^ lfsr_state_q[11:0];

    assign parity_out = ^data_out_q;

    always @(posedge clk or negedge rst_n) begin
        if (!rst_n) begin
            lfsr_state_q <= 32'hACE1_0000 ^ lane_seed;
            operation_count_q <= 16'd0;
            fsm_state_q <= 4'd0;
            accumulator_q <= 64'd0;
            data_out_q <= 128'd0;
            result_valid_q <= 1'b0;
            history_q[0] <= 8'd0;
            history_q[1] <= 8'd0;
            history_q[2] <= 8'd0;
            history_q[3] <= 8'd0;
        end else if (lane_enable) begin
            lfsr_state_q <= {lfsr_state_q[30:0], lfsr_state_q[31] ^ lfsr_state_q[21] ^ lfsr_state_q[1] ^ lfsr_state_q[0]};
            operation_count_q <= operation_count_q + 16'd1;
            fsm_state_q <= fsm_state_q == 4'd9 ? 4'd0 : fsm_state_q + 4'd1;
            if (select_field[0]) accumulator_q <= accumulator_q + data_in[63:0];
            case (select_field[2:1])
                2'd0: data_out_q <= data_in ^ {4{lfsr_state_q}};
                2'd1: data_out_q <= {data_out_q[126:0], data_out_q[127]};
                2'd2: data_out_q <= data_in + {64'd0, accumulator_q};
                default: data_out_q <= data_out_q;
            endcase
            result_valid_q <= select_field == 3'd5;
            history_q[operation_count_q[1:0]] <= opcode ^ lfsr_state_q[7:0];
        end else begin
            result_valid_q <= 1'b0;
        end
    end
endmodule

module core_datapath #(parameter integer LANES = 4) (
    input  wire         clk,
    input  wire         rst_n,
    input  wire [31:0]  core_seed,
    input  wire [127:0] core_data_in,
    output wire [127:0] core_data_out,
    output wire [LANES-1:0] lane_valid_vector
);
    reg  [31:0]  enable_lfsr_q;
    reg  [7:0]   opcode_q;
    reg  [5:0]   phase_q;
    wire [LANES-1:0] lane_enable_vector;
    wire [127:0] lane_result [0:LANES];
    assign lane_result[0] = core_data_in;
    // The core's own clock and reset, buffered from the cluster's as a clock tree would: the
    // lanes' ports alias these. (A net that reaches every lane of a large design through ports
    // alone also makes Icarus' elaboration quadratic.)
    wire core_clk = clk;
    wire core_rst_n = rst_n;

    always @(posedge core_clk or negedge core_rst_n) begin
        if (!core_rst_n) begin
            enable_lfsr_q <= 32'h1234_5678 ^ (core_seed * 32'h9E37_79B9);
            opcode_q <= 8'd0;
            phase_q <= 6'd0;
        end else begin
            enable_lfsr_q <= {enable_lfsr_q[30:0], enable_lfsr_q[31] ^ enable_lfsr_q[21] ^ enable_lfsr_q[1] ^ enable_lfsr_q[0]};
            phase_q <= phase_q + 6'd1;
            if (phase_q == 6'd0) opcode_q <= opcode_q + 8'd3;
        end
    end

    genvar lane;
    generate
        for (lane = 0; lane < LANES; lane = lane + 1) begin : g_lane
            // A lane works when six bits of the shift register are all set: one cycle in 64.
            wire lane_go = &enable_lfsr_q[(lane % 26) +: 6];
            wire [127:0] lane_q;
            assign lane_enable_vector[lane] = lane_go;
            lane_cell u_lane_cell (
                .clk(core_clk), .rst_n(core_rst_n), .lane_enable(lane_go), .lane_seed(32'(core_seed * LANES + lane)),
                .opcode(opcode_q),
                .data_in(lane_result[lane]), .data_out_q(lane_q),
                .parity_out(), .result_valid_q(lane_valid_vector[lane]));
            assign lane_result[lane + 1] = lane_q;
        end
    endgenerate
    assign core_data_out = lane_result[LANES];
endmodule

module cluster_wrapper #(parameter integer CORES = 2, parameter integer LANES = 4) (
    input  wire         clk,
    input  wire         rst_n,
    input  wire [15:0]  cluster_id,
    input  wire [127:0] cluster_data_in,
    output wire [127:0] cluster_data_out,
    output wire         cluster_any_valid
);
    wire [127:0] core_chain [0:CORES];
    wire [CORES-1:0] core_any_valid;
    reg  [255:0] cluster_status_q;
    assign core_chain[0] = cluster_data_in;

    genvar core;
    generate
        for (core = 0; core < CORES; core = core + 1) begin : g_core
            wire [LANES-1:0] valid_lanes;
            core_datapath #(.LANES(LANES)) u_core_datapath (
                .clk(clk), .rst_n(rst_n), .core_seed(32'(cluster_id * CORES + core)), .core_data_in(core_chain[core]),
                .core_data_out(core_chain[core + 1]), .lane_valid_vector(valid_lanes));
            assign core_any_valid[core] = |valid_lanes;
        end
    endgenerate

    always @(posedge clk or negedge rst_n) begin
        if (!rst_n) cluster_status_q <= 256'd0;
        else if (|core_any_valid) cluster_status_q <= {cluster_status_q[127:0], core_chain[CORES]};
    end
    assign cluster_data_out = core_chain[CORES];
    assign cluster_any_valid = |core_any_valid;
endmodule

module soc_top #(parameter integer CLUSTERS = 2, parameter integer CORES = 2,
                 parameter integer LANES = 4) (
    input  wire         clk,
    input  wire         rst_n,
    input  wire [127:0] soc_stimulus,
    output wire [127:0] soc_result,
    output wire [CLUSTERS-1:0] cluster_valid
);
    wire [127:0] cluster_chain [0:CLUSTERS];
    assign cluster_chain[0] = soc_stimulus;

    genvar cluster;
    generate
        for (cluster = 0; cluster < CLUSTERS; cluster = cluster + 1) begin : g_cluster
            cluster_wrapper #(.CORES(CORES), .LANES(LANES)) u_cluster_wrapper (
                .clk(clk), .rst_n(rst_n), .cluster_id(cluster[15:0]), .cluster_data_in(cluster_chain[cluster]),
                .cluster_data_out(cluster_chain[cluster + 1]),
                .cluster_any_valid(cluster_valid[cluster]));
        end
    endgenerate
    assign soc_result = cluster_chain[CLUSTERS];
endmodule

module tb;
    parameter integer CLUSTERS = 2;
    parameter integer CORES = 2;
    parameter integer LANES = 4;
    parameter integer CYCLES = 100;

    reg clk = 1'b0;
    reg rst_n = 1'b0;
    reg [31:0] cycle = 32'd0;
    reg [127:0] stimulus = 128'h0123_4567_89AB_CDEF_FEDC_BA98_7654_3210;
    wire [127:0] result;
    wire [CLUSTERS-1:0] valid;

    soc_top #(.CLUSTERS(CLUSTERS), .CORES(CORES), .LANES(LANES)) u_soc_top (
        .clk(clk), .rst_n(rst_n), .soc_stimulus(stimulus), .soc_result(result),
        .cluster_valid(valid));

    always #5 clk = ~clk;
    // The stimulus moves every 64 cycles; between, data changes only where lanes work.
    always @(posedge clk) if (&cycle[5:0]) stimulus <= {stimulus[126:0], stimulus[127] ^ stimulus[100]};
    always @(posedge clk) cycle <= cycle + 32'd1;

    // The file name lives in a named block that is not dumped: level 1 takes tb's own signals.
    initial begin : dump_setup
        /*verilator tracing_off*/
        reg [8*512-1:0] dump_file;
        /*verilator tracing_on*/
        if (!$value$plusargs("dump=%s", dump_file)) dump_file = "soc.vcd";
        $dumpfile(dump_file);
        $dumpvars(1, tb);
        $dumpvars(0, u_soc_top);
        #12 rst_n = 1'b1;
        #(CYCLES * 10) $finish;
    end
endmodule
