"""quor.find_many on a Dask LocalCluster of two worker processes and on the local process pool."""

import os
import shutil

import pytest

import quor

pd = pytest.importorskip("pandas")
FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
COUNTER = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd"))
SCALED = os.path.abspath(os.path.join(FIXTURES, "scaled", "scaled.vcd"))


@pytest.fixture(scope="module")
def traces(tmp_path_factory):
    """Copies of the counter trace in several formats' worth of files, a broken file and a missing one."""
    where = tmp_path_factory.mktemp("many")
    paths = []
    for k in range(3):
        p = where / f"run{k}.vcd"
        shutil.copy(COUNTER, p)
        paths.append(str(p))
    broken = where / "broken.fst"
    broken.write_bytes(b"\x00" + (329).to_bytes(8, "big") + b"\xff" * 40)
    paths.insert(1, str(broken))
    paths.append(str(where / "missing.vcd"))
    paths.append(SCALED)  # loads, but has no signal 'en': an error of its own
    return paths


def per_file(paths, text, scope):
    """The rows find_many should give, from one find per file."""
    rows = []
    for path in paths:
        try:
            t = quor.open(path)
            found = t.find(t.expr(text, scope=scope))
        except ValueError:
            rows.append((path, None, None, True))
            continue
        rows += [(path, i, t.timestamp(i), False) for i in found]
    return rows


def rows_of(df):
    out = []
    for path, index, time, error in df.itertuples(index=False):
        failed = not pd.isna(error)
        out.append((path, None if failed else int(index), None if failed else int(time), failed))
    return out


def check(df, paths, text, scope):
    assert list(df.columns) == ["path", "index", "time", "error"]
    assert str(df["index"].dtype) == "UInt64" and str(df["time"].dtype) == "UInt64"
    assert rows_of(df) == per_file(paths, text, scope)


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


@pytest.mark.parametrize("text, scope", [("en && count > 10", "counter_tb"), ("counter_tb.state == 2", None)])
def test_on_a_cluster_of_two_workers(client, traces, text, scope):
    df = quor.find_many(traces, text, scope=scope, client=client)
    check(df, traces, text, scope)
    errors = df["error"].dropna().tolist()
    assert len(errors) == 3
    assert "missing.vcd" in errors[1] and "ValueError" in errors[1]
    assert df["path"].drop_duplicates().tolist() == traces  # every file, in path order


def test_on_the_local_process_pool(traces):
    df = quor.find_many(traces, "en && count > 10", scope="counter_tb")
    check(df, traces, "en && count > 10", "counter_tb")


class RefusingClient:
    """A client that fails the test if any task is sent."""

    def map(self, *args, **kwargs):
        raise AssertionError("a task was sent")

    gather = submit = map


@pytest.mark.parametrize("text", ["en &&", "count > > 1", "(en", "1 # 2", ""])
def test_a_bad_expression_raises_before_any_task(traces, text):
    pytest.importorskip("distributed")
    with pytest.raises(ValueError):
        quor.find_many(traces, text, client=RefusingClient())


@pytest.mark.parametrize("paths, text, scope, error", [
    ("a.vcd", "en", None, TypeError),
    ([3], "en", None, TypeError),
    (["a.vcd"], 5, None, TypeError),
    (["a.vcd"], "en", 7, TypeError),
])
def test_argument_errors(paths, text, scope, error):
    with pytest.raises(error):
        quor.find_many(paths, text, scope=scope, client=RefusingClient())


def test_no_paths_gives_an_empty_frame():
    df = quor.find_many([], "en", client=RefusingClient())
    assert list(df.columns) == ["path", "index", "time", "error"] and len(df) == 0
