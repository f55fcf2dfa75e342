def test_signal_stats(small):
    assert small.signal_stats("nope") == (0, 0, 0, 0, 0, 0, 0)
    # cnt: 0, 1, 1x, 3 -> x bit at index 2
    assert small.signal_stats("top.cnt") == (0, 3, 4, 3, 3, 1, 0)
    # r: 1.5, 1.5, nan, nan -> no Uint samples; 1.5 -> nan and nan -> nan are changes
    assert small.signal_stats("top.r") == (0, 0, 0, 0, 2, 0, 0)
