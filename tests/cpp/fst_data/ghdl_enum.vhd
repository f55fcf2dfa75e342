library ieee; use ieee.std_logic_1164.all; use ieee.numeric_std.all;
entity e is end e;
architecture a of e is
  type state_t is (idle, load, run);
  signal st : state_t := idle;
  signal sl : std_logic := 'U';
  signal v : std_logic_vector(7 downto 0) := (others => 'U');
  signal b : boolean := false;
  signal i : integer := 0;
  signal c : character := 'a';
  signal re : real := 0.0;
begin
  process begin
    wait for 1 ns; st <= load; sl <= '1'; v <= x"A5"; b <= true; i <= 42; re <= 2.5; c <= 'z';
    wait for 1 ns; st <= run; sl <= 'Z'; v <= "01XZWLH-"; i <= -7;
    wait for 1 ns; st <= idle; sl <= 'L';
    wait;
  end process;
end a;
