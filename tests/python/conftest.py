import pytest

from quor import PyTrace

# Four samples: clk toggles; cnt counts with an x at index 2; r is real with a NaN run.
SMALL_VCD = """$timescale 1ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " cnt $end
$var real 1 # r $end
$scope module sub $end
$var wire 1 $ clk $end
$upscope $end
$upscope $end
$scope module topx $end
$var wire 1 % clk $end
$upscope $end
$enddefinitions $end
#0
0!
b0 "
r1.5 #
1$
0%
#10
1!
b1 "
#20
0!
b1x "
rnan #
#30
1!
b11 "
"""


@pytest.fixture
def small():
    return PyTrace.from_vcd_string(SMALL_VCD)
