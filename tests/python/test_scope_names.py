import pytest


def test_resolve(small):
    assert small.resolve("top", "clk") == "top.clk"
    assert small.resolve("top.sub", "clk") == "top.sub.clk"
    assert small.resolve("", "clk") == "top.clk"
    assert small.resolve("top", "nothing") is None


def test_local(small):
    assert small.local_scopes("") == ["top", "topx"]
    assert small.local_scopes("top") == ["top.sub"]
    assert small.local_signals("top") == ["top.clk", "top.cnt", "top.r"]
    assert small.local_signals("") == []


def test_name_searches(small):
    assert small.find_signals_glob("*clk") == ["top.clk", "top.sub.clk", "topx.clk"]
    assert small.find_signals_glob("top.?") == ["top.r"]
    assert small.find_signals_containing("CLK") == ["top.clk", "top.sub.clk", "topx.clk"]
    assert small.find_signals_containing("") == small.signal_names()


@pytest.mark.parametrize("method", ["resolve", "local_scopes", "local_signals", "find_signals_glob",
                                    "find_signals_containing", "signal_stats", "transitions"])
def test_non_str_arguments(small, method):
    fn = getattr(small, method)
    args = (1, "x") if method == "resolve" else (1,)
    with pytest.raises(TypeError):
        fn(*args)
