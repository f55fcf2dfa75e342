"""Type information for the extension module quor._core."""

from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union, final, overload

Value = Union[int, float, str, None]

@final
class PyArray:
    """A read-only array of 64-bit numbers returned by quor: indices and times as unsigned integers
    (format 'Q'), reals as floats (format 'd').

    It owns its memory and exports it through the buffer protocol, so numpy.asarray(a),
    memoryview(a) and pyarrow wrap it without copying; numpy is not needed to use it. It supports
    len(), indexing with ints (negative ones count from the end) and slices (a slice with step 1
    shares the memory), iteration and tolist(). Views of it are read-only: numpy.array(a) makes
    a writable copy.

    Example:
        >>> hits = trace.find_array(trace.expr("en && count > 10", scope="counter_tb"))
        >>> len(hits), hits[0], hits[-1]
        (19, 25, 43)
    """

    @property
    def typecode(self) -> str:
        """The item format: 'Q' (unsigned 64-bit integers) or 'd' (64-bit floats)."""
    @property
    def itemsize(self) -> int:
        """Bytes per item: always 8."""
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> Union[int, float]: ...
    @overload
    def __getitem__(self, index: slice) -> PyArray: ...
    def __iter__(self) -> Iterator[Union[int, float]]: ...
    def __buffer__(self, flags: int) -> memoryview: ...
    def tolist(self) -> List[Union[int, float]]:
        """The values as a list of Python numbers (int for format 'Q', float for 'd').

        Returns:
            list: one number per item, in order.

        Example:
            >>> trace.timestamps()[:3].tolist()
            [0, 5000, 10000]
        """

@final
class PyTrace:
    """One loaded waveform trace."""

    @staticmethod
    def from_vcd(path: str) -> PyTrace: ...
    @staticmethod
    def from_vcd_string(data: str) -> PyTrace: ...
    @staticmethod
    def from_fst(path: str) -> PyTrace: ...
    @staticmethod
    def from_fsdb(path: str) -> PyTrace: ...
    @staticmethod
    def from_wlf(path: str) -> PyTrace: ...
    @staticmethod
    def from_shm(path: str) -> PyTrace: ...
    @staticmethod
    def from_vpd(path: str) -> PyTrace: ...
    def signal_names(self) -> List[str]: ...
    def scopes(self) -> List[str]: ...
    def max_index(self) -> int: ...
    def timestamp(self, index: int) -> int: ...
    def signal_id(self, name: str) -> Optional[int]: ...
    def signal_width(self, name: str) -> int: ...
    def signal_value(self, name: str, index: int) -> Value: ...
    def signal_value_raw(self, name: str, index: int) -> int: ...
    def signal_values_range(self, name: str, start: int, end: int) -> List[Value]: ...
    def snapshot(self, index: int) -> Dict[str, Value]: ...
    def snapshot_scope(self, index: int, scope: str) -> Dict[str, Value]: ...
    def find(self, expr: PyExpr) -> List[int]: ...
    def parallel_find(self, expr: PyExpr) -> List[int]: ...
    def parallel_count(self, expr: PyExpr) -> int: ...
    def eval_expr(self, expr: PyExpr, index: int) -> Value: ...
    def eval_expr_bool(self, expr: PyExpr, index: int) -> bool: ...
    def find_with_values(self, expr: PyExpr, signal_names: Sequence[str]) -> List[Tuple[int, List[Value]]]: ...
    def transitions(self, name: str) -> List[Tuple[int, Value, Value]]: ...
    def changed_at(self, index: int) -> List[Tuple[str, Value, Value]]: ...
    def changed_at_scope(self, index: int, scope: str) -> List[Tuple[str, Value, Value]]: ...
    def resolve(self, scope_name: str, short_name: str) -> Optional[str]: ...
    def local_scopes(self, scope_name: str) -> List[str]: ...
    def local_signals(self, scope_name: str) -> List[str]: ...
    def find_signals_glob(self, pattern: str) -> List[str]: ...
    def find_signals_containing(self, substring: str) -> List[str]: ...
    def signal_stats(self, name: str) -> Tuple[int, int, int, int, int, int, int]: ...
    def bit_slice_val(self, val: int, high: int, low: int) -> int: ...
    def sign_extend_val(self, val: int, width: int) -> int: ...
    def find_array(self, expr: PyExpr) -> PyArray:
        """The indices at which expr holds, as an array: the same indices as find(), searched on the
        calling thread, without making a Python int for each.

        Args:
            expr (PyExpr): the condition, e.g. from trace.expr("en && count > 10", "top").

        Returns:
            PyArray: ascending sample indices, format 'Q' (numpy.asarray gives uint64 without a copy).

        Raises:
            TypeError: expr is not a PyExpr.
            MemoryError: the result does not fit in memory.

        Example:
            >>> hits = trace.find_array(trace.expr("en && count > 10", scope="counter_tb"))
            >>> hits[:3].tolist()
            [25, 26, 27]
        """
    def parallel_find_array(self, expr: PyExpr) -> PyArray:
        """The indices at which expr holds, as an array: the same indices as parallel_find(), searched
        on the worker pool.

        Args:
            expr (PyExpr): the condition.

        Returns:
            PyArray: ascending sample indices, format 'Q'.

        Raises:
            TypeError: expr is not a PyExpr.
            MemoryError: the result does not fit in memory.

        Example:
            >>> import numpy
            >>> numpy.asarray(trace.parallel_find_array(trace.expr("counter_tb.count == 3")))
            array([ 8,  9, 10], dtype=uint64)
        """
    def timestamps(self) -> PyArray:
        """The time of every sample, in the trace's time unit (see timescale()).

        Returns:
            PyArray: one time per index 0 .. max_index(), format 'Q'; empty for a trace without
            samples. It views the trace's own table (no copy) and keeps the trace alive.

        Example:
            >>> times = trace.timestamps()
            >>> len(times) == trace.max_index() + 1
            True
        """
    def index_at(self, time: int) -> Optional[int]:
        """The sample that holds at a time: the last index whose time is at most time.

        Args:
            time (int): a time in the trace's unit (see timescale()).

        Returns:
            int | None: the index, or None when time is before the first sample (or the trace
            has none).

        Raises:
            OverflowError: time is negative or above 2**64 - 1.
            TypeError: time is not an integer.

        Example:
            >>> trace.index_at(12000), trace.index_at(12999)
            (3, 3)
        """
    def timescale(self) -> Optional[Tuple[int, str]]:
        """The unit the trace's times count in, as the file states it.

        Returns:
            tuple[int, str] | None: (magnitude, unit) with unit one of 's', 'ms', 'us', 'ns', 'ps',
            'fs', 'as', e.g. (10, 'ns') when a time of 3 means 30 ns; None when the file states no
            unit (VCD without $timescale, and the formats other than VCD and FST).

        Example:
            >>> trace.timescale()
            (1, 'ps')
        """
    def signal_runs(self, name: str) -> Tuple[PyArray, Union[PyArray, List[Value]]]:
        """A signal's values as runs: each run's first index and the value it holds until the next.

        Args:
            name (str): the full signal name.

        Returns:
            tuple[PyArray, PyArray | list]: (starts, values). starts is a 'Q' array of ascending
            indices, starting at 0. values is a 'Q' array when the signal is at most 64 bits wide
            and every run holds a two-state number, a 'd' array when every run holds a real, and otherwise a list with an
            int (two-state, any width), float, str (text), the bits as a str such as '1x0z' (a value
            with an x or z bit) or None (no value) per run. An unknown name gives two empty arrays.

        Raises:
            TypeError: name is not a str.

        Example:
            >>> starts, values = trace.signal_runs("counter_tb.state")
            >>> starts[:4].tolist(), values[:4]
            ([0, 1, 11, 19], ['xx', 0, 1, 2])
        """
    def expr(self, text: str, scope: Optional[str] = None) -> PyExpr:
        """Parses an expression of the `quor find` language into a PyExpr over this trace.

        The language: signal names, integers (42, 0x2a, 0b101010), == != < > <= >=, && || !, + -,
        & | ^, bit slices sig[7:4] and sig[3], signed(x), isx(x), isz(x), prev(x), next(x), x@-2
        and parentheses. A name is a full signal name, or with scope a name within that scope,
        resolved as the quor command resolves it.

        Args:
            text (str): the expression.
            scope (str | None): the scope short names are resolved in.

        Returns:
            PyExpr: the expression, for find(), find_array(), parallel_count() and the like.

        Raises:
            ValueError: a syntax error or an unknown signal; the message shows the text with a
            caret under the offending character.
            TypeError: text or scope is not a str.

        Example:
            >>> trace.find(trace.expr("en && count > 10", scope="counter_tb"))[:3]
            [25, 26, 27]
        """
    def to_arrow(self, names: Sequence[str], start: int = 0, end: Optional[int] = None) -> Any:
        """The values of some signals over a range of indices as a pyarrow.Table, one row per index.

        Columns: index (uint64), time (uint64), then one per signal, named as given. A signal's
        column type follows what the signal holds anywhere in the trace, so tables of different
        ranges share one schema: uint64 when every value is a two-state number of at most 64 bits,
        float64 for reals, string for text, and otherwise a string of the bits ('0', '1', 'x', 'z';
        wide values, values with x or z bits). A sample without a value is null.

        Args:
            names (list[str]): full signal names.
            start (int): the first index.
            end (int | None): one past the last index; None or past the end means to the last sample.

        Returns:
            pyarrow.Table

        Raises:
            KeyError: a name is not a signal of the trace.
            ImportError: pyarrow is not installed (pip install quor[arrow]).
            OverflowError: start or end is negative.
            TypeError: names is a str, or holds something else.

        Example:
            >>> trace.to_arrow(["counter_tb.count"], 3, 6).to_pylist()[0]
            {'index': 3, 'time': 12000, 'counter_tb.count': 0}
        """
    def to_pandas(self, names: Sequence[str], start: int = 0, end: Optional[int] = None) -> Any:
        """The table of to_arrow() as a pandas.DataFrame. index and time are uint64 columns; a signal's
        column uses pandas' nullable types (UInt64, Float64, string), so a sample without a value is
        <NA>, never confused with a number or NaN.

        Args:
            names (list[str]): full signal names.
            start (int): the first index.
            end (int | None): one past the last index; None means to the last sample.

        Returns:
            pandas.DataFrame

        Raises:
            KeyError: a name is not a signal of the trace.
            ImportError: pandas or pyarrow is not installed (pip install quor[pandas]).
            OverflowError: start or end is negative.

        Example:
            >>> df = trace.to_pandas(["counter_tb.count", "counter_tb.en"])
            >>> df[df["counter_tb.count"] > 10].head(1)
        """

@final
class PyExpr:
    """An expression over the signals of a trace."""

    @staticmethod
    def signal(id: int) -> PyExpr: ...
    @staticmethod
    def const_int(val: int) -> PyExpr: ...
    @staticmethod
    def const_float(val: float) -> PyExpr: ...
    @staticmethod
    def const_str(val: str) -> PyExpr: ...
    @staticmethod
    def always_true() -> PyExpr: ...
    def rel_eval(self, offset: int) -> PyExpr: ...
    def not_(self) -> PyExpr: ...
    def and_(self, other: PyExpr) -> PyExpr: ...
    def or_(self, other: PyExpr) -> PyExpr: ...
    def eq_(self, other: PyExpr) -> PyExpr: ...
    def neq(self, other: PyExpr) -> PyExpr: ...
    def gt_(self, other: PyExpr) -> PyExpr: ...
    def lt_(self, other: PyExpr) -> PyExpr: ...
    def gte(self, other: PyExpr) -> PyExpr: ...
    def lte(self, other: PyExpr) -> PyExpr: ...
    def add(self, other: PyExpr) -> PyExpr: ...
    def sub(self, other: PyExpr) -> PyExpr: ...
    def bit_and(self, other: PyExpr) -> PyExpr: ...
    def bit_or(self, other: PyExpr) -> PyExpr: ...
    def bit_xor(self, other: PyExpr) -> PyExpr: ...
    def slice(self, high: int, low: int) -> PyExpr: ...
    def signed(self) -> PyExpr: ...
    def is_x(self) -> PyExpr: ...
    def is_z(self) -> PyExpr: ...

def _runs(
    trace: PyTrace, name: str, start: int, end: int, all_texts: bool
) -> Optional[Tuple[PyArray, bytes, PyArray, List[Optional[str]], int, int]]:
    """The runs of a signal over [start, end), for the package's table and export code."""

def _change_rows(
    trace: PyTrace, names: List[str], first: int, max_rows: int
) -> Tuple[int, PyArray, PyArray, bytes, PyArray, List[str]]:
    """The runs of names[first:] joined, a row group's worth, for the package's export code."""
