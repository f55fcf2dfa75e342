-- GHDL design for extended.vcd and extended.fst (one run each): VHDL extended identifiers
-- that hold dots, for signals and for an instance.
library ieee;
use ieee.std_logic_1164.all;

entity \my.sub\ is
  port (clk : in std_logic);
end entity;

architecture a of \my.sub\ is
  signal \inner.x\ : std_logic := '0';
  signal plain : std_logic_vector(3 downto 0) := "0000";
begin
  process (clk)
  begin
    if rising_edge(clk) then
      \inner.x\ <= not \inner.x\;
      plain <= plain(2 downto 0) & not plain(3);
    end if;
  end process;
end architecture;

library ieee;
use ieee.std_logic_1164.all;

entity tb is
end entity;

architecture a of tb is
  signal clk : std_logic := '0';
  signal \esc.dotted\ : std_logic := '0';
begin
  \u.1\: entity work.\my.sub\ port map (clk => clk);
  process
  begin
    for i in 0 to 5 loop
      wait for 5 ns;
      clk <= not clk;
      \esc.dotted\ <= not \esc.dotted\;
    end loop;
    wait;
  end process;
end architecture;
