`timescale 1ns / 1ps
// A hierarchy-heavy design for load benchmarks: a configuration space of power domains,
// register blocks, banks and fields, four levels of generate loops over small modules with a
// handful of signals each, so the dump is mostly scopes and long names
// (tb.u_chip_configuration_space.g_power_domain[3].u_power_domain_controller.g_register_block[7]...).
// Instances get their identities through ports, not parameters, so every instance of a module
// shares one model in simulators that specialise a module per parameter set.
// Sizes come from parameters: DOMAINS x BLOCKS x BANKS x FIELDS leaves of five signals;
// CYCLES clock cycles are simulated. The dump file is named by +dump=FILE.

module config_register_leaf (
    input  wire       clk,
    input  wire       rst_n,
    input  wire [7:0] reset_value,
    input  wire       write_strobe,
    input  wire [7:0] write_data,
    output reg  [7:0] register_value_q,
    output wire       register_is_zero
);
    always @(posedge clk or negedge rst_n) begin
        if (!rst_n) register_value_q <= reset_value;
        else if (write_strobe) register_value_q <= write_data ^ register_value_q;
    end
    assign register_is_zero = register_value_q == 8'd0;
endmodule

module register_bank_arbiter #(parameter integer FIELDS = 4) (
    input  wire       clk,
    input  wire       rst_n,
    input  wire [15:0] bank_id,
    input  wire [7:0] bank_write_data,
    output wire       bank_any_zero
);
    reg  [15:0] field_select_q;
    wire [FIELDS-1:0] field_zero_flags;
    // The bank's own clock and reset, buffered for its fields as a clock tree would: the fields'
    // ports alias these. (A net that reaches every field through ports alone also makes Icarus'
    // elaboration quadratic.)
    wire bank_clk = clk;
    wire bank_rst_n = rst_n;
    always @(posedge bank_clk or negedge bank_rst_n) begin
        if (!bank_rst_n) field_select_q <= bank_id;
        else field_select_q <= field_select_q + 16'd7;
    end
    genvar field;
    generate
        for (field = 0; field < FIELDS; field = field + 1) begin : g_config_field
            config_register_leaf u_config_register_leaf (
                .clk(bank_clk), .rst_n(bank_rst_n), .reset_value(bank_id[7:0] + field[7:0]), .write_strobe(field_select_q[3:0] == (field % 16)),
                .write_data(bank_write_data), .register_value_q(),
                .register_is_zero(field_zero_flags[field]));
        end
    endgenerate
    assign bank_any_zero = |field_zero_flags;
endmodule

module register_block_decoder #(parameter integer BANKS = 4, parameter integer FIELDS = 4) (
    input  wire       clk,
    input  wire       rst_n,
    input  wire [15:0] block_id,
    input  wire [7:0] block_write_data,
    output wire       block_any_zero
);
    wire [BANKS-1:0] bank_zero_flags;
    genvar bank;
    generate
        for (bank = 0; bank < BANKS; bank = bank + 1) begin : g_register_bank
            register_bank_arbiter #(.FIELDS(FIELDS)) u_register_bank_arbiter (
                .clk(clk), .rst_n(rst_n), .bank_id(16'(block_id * BANKS + bank)), .bank_write_data(block_write_data + bank[7:0]),
                .bank_any_zero(bank_zero_flags[bank]));
        end
    endgenerate
    assign block_any_zero = |bank_zero_flags;
endmodule

module power_domain_controller #(parameter integer BLOCKS = 4, parameter integer BANKS = 4,
                                 parameter integer FIELDS = 4) (
    input  wire       clk,
    input  wire       rst_n,
    input  wire [15:0] domain_id,
    input  wire [7:0] domain_write_data,
    output wire       domain_any_zero
);
    wire [BLOCKS-1:0] block_zero_flags;
    genvar block;
    generate
        for (block = 0; block < BLOCKS; block = block + 1) begin : g_register_block
            register_block_decoder #(.BANKS(BANKS), .FIELDS(FIELDS))
                u_register_block_decoder (.clk(clk), .rst_n(rst_n), .block_id(16'(domain_id * BLOCKS + block)),
                                          .block_write_data(domain_write_data),
                                          .block_any_zero(block_zero_flags[block]));
        end
    endgenerate
    assign domain_any_zero = |block_zero_flags;
endmodule

module chip_configuration_space #(parameter integer DOMAINS = 2, parameter integer BLOCKS = 4,
                                  parameter integer BANKS = 4, parameter integer FIELDS = 4) (
    input  wire       clk,
    input  wire       rst_n,
    input  wire [7:0] config_write_data,
    output wire [DOMAINS-1:0] domain_zero_flags
);
    genvar domain;
    generate
        for (domain = 0; domain < DOMAINS; domain = domain + 1) begin : g_power_domain
            power_domain_controller #(.BLOCKS(BLOCKS), .BANKS(BANKS), .FIELDS(FIELDS))
                u_power_domain_controller (.clk(clk), .rst_n(rst_n), .domain_id(domain[15:0]),
                                           .domain_write_data(config_write_data),
                                           .domain_any_zero(domain_zero_flags[domain]));
        end
    endgenerate
endmodule

module tb;
    parameter integer DOMAINS = 2;
    parameter integer BLOCKS = 4;
    parameter integer BANKS = 4;
    parameter integer FIELDS = 4;
    parameter integer CYCLES = 10;

    reg clk = 1'b0;
    reg rst_n = 1'b0;
    reg [7:0] write_data = 8'h5A;
    wire [DOMAINS-1:0] zero_flags;

    chip_configuration_space #(.DOMAINS(DOMAINS), .BLOCKS(BLOCKS), .BANKS(BANKS), .FIELDS(FIELDS))
        u_chip_configuration_space (.clk(clk), .rst_n(rst_n), .config_write_data(write_data),
                                    .domain_zero_flags(zero_flags));

    always #5 clk = ~clk;
    always @(posedge clk) write_data <= {write_data[6:0], write_data[7] ^ write_data[5]};

    // The file name lives in a named block that is not dumped: level 1 takes tb's own signals.
    initial begin : dump_setup
        /*verilator tracing_off*/
        reg [8*512-1:0] dump_file;
        /*verilator tracing_on*/
        if (!$value$plusargs("dump=%s", dump_file)) dump_file = "tree.vcd";
        $dumpfile(dump_file);
        $dumpvars(1, tb);
        $dumpvars(0, u_chip_configuration_space);
        #12 rst_n = 1'b1;
        #(CYCLES * 10) $finish;
    end
endmodule
