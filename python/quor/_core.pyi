"""Type information for the extension module quor._core."""

import os
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union, final, overload

Value = Union[int, float, str, None]
# A file system path, as Python's open() takes it.
Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

@final
class PyArray:
    """A read-only array of 64-bit numbers returned by quor: indices and times as unsigned integers
    (format 'Q'), reals as floats (format 'd').

    It owns its memory and exports it through the buffer protocol, so numpy.asarray(a),
    memoryview(a) and pyarrow wrap it without copying; numpy is not needed to use it. It supports
    len(), indexing with ints (negative ones count from the end) and slices (a slice with step 1
    shares the memory), iteration and tolist(). Views of it are read-only: numpy.array(a) makes
    a writable copy. It can be pickled (sent to another process) and copied.

    Example:
        >>> hits = trace.find_array(trace.expr("en && count > 10", scope="counter_tb"))
        >>> len(hits), hits[0], hits[-1]
        (19, 25, 43)
        >>> import numpy
        >>> numpy.asarray(hits).dtype
        dtype('uint64')
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
    """One loaded waveform trace, read-only once loaded.

    Instances come from quor.open() or the static loaders (from_vcd, from_fst, ...); PyTrace()
    itself raises TypeError. A trace is a list of samples, numbered 0 .. max_index(), each with a
    time (timestamps()) and a value for every signal. Signals are named by their full path,
    scopes joined by '.', e.g. "top.cpu.pc"; a name an FST writer stored with its bit range
    ("top.cnt [7:0]") is also found without it when exactly one signal has that name.
    An escaped identifier is one element of the path, dots and all: "top.\\esc.dotted" is the
    signal "\\esc.dotted" in the scope top.

    Values convert to Python as: two-state numbers to int (whole, however wide), reals to float,
    text to str, and a value with an x or z bit, or no value at all, to None. Unknown names and
    indices past the end never raise: they give None, 0 or empty results. A negative index, or one
    above 2**64 - 1, raises OverflowError; an argument of the wrong type raises TypeError.

    Example:
        >>> trace = quor.open("examples/counter.vcd")
        >>> trace.signal_value("counter_tb.count", 10)
        1
    """

    @staticmethod
    def from_vcd(path: Path) -> PyTrace:
        """Loads a VCD file, or VCD text from a pipe such as /dev/stdin.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.
        Gzip-compressed VCD (starting with the bytes 1f 8b) is inflated as it is read. Lines that
        are not UTF-8 are skipped; a truncated file loads what it holds.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "Failed to open {path}: {reason}" when it cannot be opened,
            "Failed to read {path}: ..." for broken gzip data.
            "VCD hierarchy: too deep or its names too long: ..." when the full names would take
            more than 256 bytes per byte of declarations, plus 64 MiB.
            MemoryError: the trace does not fit in memory.

        Example:
            >>> trace = PyTrace.from_vcd("examples/counter.vcd")
            >>> trace.max_index()
            57
        """
    @staticmethod
    def from_vcd_string(data: str) -> PyTrace:
        """Loads VCD text held in a str into a new PyTrace, as from_vcd() loads a file.

        Args:
            data (str): the VCD text. An empty str gives a trace without signals or samples.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: data is not a str.
            ValueError: the text cannot be loaded, with the loader's message.
            MemoryError: the trace does not fit in memory.

        Example:
            >>> trace = PyTrace.from_vcd_string(
            ...     "$scope module top $end\\n$var wire 4 ! a $end\\n$upscope $end\\n"
            ...     "$enddefinitions $end\\n#0\\nb101 !\\n#10\\nb110 !\\n")
            >>> trace.signal_value("top.a", 1), trace.timestamp(1)
            (6, 10)
        """
    @staticmethod
    def from_fst(path: Path) -> PyTrace:
        """Loads an FST file.

        Each entry of the file's time tables is a sample, except that a value-change block that
        starts at the time the block before it ended continues that sample (a writer flushed
        mid-step): the FST and the VCD of one run have the same samples.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "Failed to open {path}: {reason}" when it cannot be opened, else
            "FST open: ", "FST hierarchy: " or "FST signals: " and what is wrong and where.
            "FST hierarchy: too deep or its names too long: ..." when the full names would take
            more than 256 bytes per byte of the hierarchy, plus 64 MiB.
            MemoryError: the trace does not fit in memory.

        Example:
            >>> trace = PyTrace.from_fst("run.fst")
        """
    @staticmethod
    def from_fsdb(path: Path) -> PyTrace:
        """Loads an FSDB file.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "Failed to read {path}: {reason}", "FSDB file too small" or
            "Not an FSDB file (magic=0x...)".
            MemoryError: the trace does not fit in memory.
        """
    @staticmethod
    def from_wlf(path: Path) -> PyTrace:
        """Loads a WLF file.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "Failed to read {path}: {reason}" or "WLF file too small (< 1 page)".
            MemoryError: the trace does not fit in memory.
        """
    @staticmethod
    def from_shm(path: Path) -> PyTrace:
        """Loads an SHM database: its directory, or one of its .dsn/.trn files.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "No .dsn/.trn in {path}", "DSN: ..." or "Bad DSN magic: 0x...".
            MemoryError: the trace does not fit in memory.
        """
    @staticmethod
    def from_vpd(path: Path) -> PyTrace:
        """Loads a VPD file.

        The file is read on the calling thread with the interpreter lock released, so other Python
        threads run meanwhile.

        Args:
            path (str | bytes | os.PathLike): the file.

        Returns:
            PyTrace: the loaded trace.

        Raises:
            TypeError: path is not a str, bytes or os.PathLike.
            ValueError: the file cannot be loaded; the message says why:
            "Failed to read {path}: {reason}", "VPD file too small" or
            "Not a VPD file (magic=0x...)".
            MemoryError: the trace does not fit in memory.
        """
    @staticmethod
    def _from_stream(path: Path) -> PyTrace:
        """Loads VCD text (plain or gzip-compressed) from a pipe or device, read once; refuses
        anything else. quor.open calls it for every path that is not a regular file."""
    def signal_names(self) -> List[str]:
        """The full names of all signals, in the trace's order (a new list on every call).

        Returns:
            list[str]: e.g. ['counter_tb.bus', 'counter_tb.clk', ...]; empty for a trace without signals.
        """
    def scopes(self) -> List[str]:
        """The full names of all scopes, in the trace's order (a new list on every call).

        Returns:
            list[str]: e.g. ['top', 'top.cpu', 'top.cpu.alu'].
        """
    def max_index(self) -> int:
        """The index of the last sample.

        Returns:
            int: the number of samples minus 1; 0 also for a trace without samples (len(timestamps())
            tells the two apart).
        """
    def timestamp(self, index: int) -> int:
        """The time of one sample, in the trace's time unit (see timescale()).

        Args:
            index (int): the sample index.

        Returns:
            int: the time; 0 for an index past the end.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: index is not an integer.
        """
    def signal_id(self, name: str) -> Optional[int]:
        """The numeric id of a signal, as PyExpr.signal() takes it.

        Args:
            name (str): the full signal name.

        Returns:
            int | None: the id, or None when the trace has no signal of that name.

        Raises:
            TypeError: name is not a str.

        Example:
            >>> PyExpr.signal(trace.signal_id("counter_tb.count"))
        """
    def signal_width(self, name: str) -> int:
        """The declared width of a signal in bits.

        Args:
            name (str): the full signal name.

        Returns:
            int: the width; for an unknown name 0 on a VCD trace and 1 on traces of the other formats.

        Raises:
            TypeError: name is not a str.
        """
    def signal_value(self, name: str, index: int) -> Value:
        """The value of a signal at one sample.

        Args:
            name (str): the full signal name.
            index (int): the sample index.

        Returns:
            int | float | str | None: int for a two-state number (whole, however wide), float for a
            real, str for text; None for a value with an x or z bit, before the signal's first value,
            for an index past the end and for an unknown name.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: name is not a str, or index is not an integer.

        Example:
            >>> trace.signal_value("counter_tb.count", 10)
            1
        """
    def signal_value_raw(self, name: str, index: int) -> int:
        """The value of a signal at one sample as an unsigned 64-bit number.

        Args:
            name (str): the full signal name.
            index (int): the sample index.

        Returns:
            int: the number (a wider value's lowest 64 bits, a real truncated, text that is a decimal
            number read as one); 0 where signal_value() gives None and for other text.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: name is not a str, or index is not an integer.
        """
    def signal_values_range(self, name: str, start: int, end: int) -> List[Value]:
        """The values of a signal at the indices start .. end - 1, as signal_value() gives them.

        Args:
            name (str): the full signal name.
            start (int): the first index.
            end (int): one past the last index.

        Returns:
            list: one value per index; empty when end is not above start; None past the end of the
            trace, and for every index of an unknown name.

        Raises:
            ValueError: the range holds more than the trace's number of samples plus 1,048,576
            entries (a list that size can only come from a mistake).
            OverflowError: start or end is negative or above 2**64 - 1.
            TypeError: name is not a str, or start or end is not an integer.

        Example:
            >>> trace.signal_values_range("counter_tb.count", 2, 6)
            [0, 0, 1, 1]
        """
    def snapshot(self, index: int) -> Dict[str, Value]:
        """Snapshot: get all signal values at a specific index as a dict.
        Uses signal_value_by_id for O(1) access per signal.

        Args:
            index (int): the sample index.

        Returns:
            dict[str, int | float | str | None]: every signal's value at index, as signal_value()
            gives it, keyed by full name in the order of signal_names(); all None past the end.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: index is not an integer.
        """
    def snapshot_scope(self, index: int, scope: str) -> Dict[str, Value]:
        """Snapshot within a scope.
        Uses signal_value_by_id for O(1) access per signal.

        The values at index of the signals below scope, at any depth.

        Args:
            index (int): the sample index.
            scope (str): the full scope name, e.g. "top.cpu".

        Returns:
            dict[str, int | float | str | None]: keyed by the name below the scope (the scope top and
            the signal top.cpu.clk give the key "cpu.clk"); empty for an unknown scope.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: index is not an integer, or scope is not a str.
        """
    def find(self, expr: PyExpr, limit: Optional[int] = None) -> List[int]:
        """The indices at which expr holds (its value is true: a non-zero number, a value with a 1
        bit, a non-empty text), searched on the calling thread.

        Args:
            expr (PyExpr): the condition, e.g. from trace.expr("en && count > 10", "top").
            limit (int | None): at most this many indices, the first ones; the search stops once it
            has them. None: all of them.

        Returns:
            list[int]: ascending indices. For many matches find_array() is faster: it makes no int
            per index.

        Raises:
            TypeError: expr is not a PyExpr, or limit is not an integer or None.
            OverflowError: limit is negative.

        Example:
            >>> trace.find(trace.expr("count > 10", scope="counter_tb"))[:3]
            [25, 26, 27]
        """
    def parallel_find(self, expr: PyExpr, limit: Optional[int] = None) -> List[int]:
        """Find matching indices using rayon parallel iteration across all CPU cores.

        The same list as find(), searched by the worker threads.

        Args:
            expr (PyExpr): the condition.
            limit (int | None): at most this many indices, the first ones. None: all of them.

        Returns:
            list[int]: ascending indices.

        Raises:
            TypeError: expr is not a PyExpr, or limit is not an integer or None.
            OverflowError: limit is negative.
        """
    def parallel_count(self, expr: PyExpr) -> int:
        """Count matching indices using rayon parallel iteration.

        The same as len(find(expr)), without building the list.

        Args:
            expr (PyExpr): the condition.

        Returns:
            int: the number of indices at which expr holds.

        Raises:
            TypeError: expr is not a PyExpr.

        Example:
            >>> trace.parallel_count(trace.expr("counter_tb.count == 3"))
            3
        """
    def eval_expr(self, expr: PyExpr, index: int) -> Value:
        """The value of an expression at one sample.

        Args:
            expr (PyExpr): the expression.
            index (int): the sample index; past the end, signals read as no value.

        Returns:
            int | float | str | None: converted as signal_value() converts; a signed() expression
            gives a signed int; None where the expression has no value (an operand with an x or z
            bit, a rel_eval() outside the trace).

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: expr is not a PyExpr, or index is not an integer.
        """
    def eval_expr_bool(self, expr: PyExpr, index: int) -> bool:
        """Whether an expression holds at one sample, as find() decides it.

        A number is true when it is not 0, a value with x or z bits when one bit is 1, a real when it
        is not 0.0 (NaN is true), a text when it is not empty; no value is false.

        Args:
            expr (PyExpr): the expression.
            index (int): the sample index.

        Returns:
            bool

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: expr is not a PyExpr, or index is not an integer.
        """
    def find_with_values(self, expr: PyExpr, signal_names: Sequence[str]) -> List[Tuple[int, List[Value]]]:
        """Find with value extraction in one pass: returns list of (index, [values]) tuples.

        Each name is looked up once, before the search, so this is faster than find() followed by
        signal_value() per index and name.

        Args:
            expr (PyExpr): the condition.
            signal_names (Sequence[str]): full signal names (a list or tuple, not one str).

        Returns:
            list[tuple[int, list]]: per matching index, ascending, the index and the values of the
            named signals there; None for a name the trace does not know.

        Raises:
            TypeError: expr is not a PyExpr, or signal_names is a str or holds something else.

        Example:
            >>> trace.find_with_values(trace.expr("counter_tb.count == 3"), ["counter_tb.en"])
            [(8, [0]), (9, [0]), (10, [1])]
        """
    def transitions(self, name: str) -> List[Tuple[int, Value, Value]]:
        """Get all transitions for a signal: [(index, old, new), ...]

        Args:
            name (str): the full signal name.

        Returns:
            list[tuple[int, value, value]]: one tuple per index (from 1 on, ascending) whose value
            differs from the one before, with both values converted; empty for a signal that never
            changes and for an unknown name.

        Raises:
            TypeError: name is not a str.

        Example:
            >>> trace.transitions("counter_tb.count")[:2]
            [(1, None, 0), (4, 0, 1)]
        """
    def changed_at(self, index: int) -> List[Tuple[str, Value, Value]]:
        """Get all signals that changed value at a specific index.
        Returns list of (name, old_value, new_value) tuples.

        Args:
            index (int): the sample index; 0 gives an empty list.

        Returns:
            list[tuple[str, value, value]]: full name, the value at index - 1 and the value at index,
            in the order of signal_names(). Past the end, a signal that had a value reads as changed
            to None.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: index is not an integer.

        Example:
            >>> trace.changed_at(3)
            [('counter_tb.rst', 1, 0)]
        """
    def changed_at_scope(self, index: int, scope: str) -> List[Tuple[str, Value, Value]]:
        """Get signals that changed at index within a scope.

        Args:
            index (int): the sample index.
            scope (str): the full scope name; signals below it at any depth count (top counts
            top.cpu.pc, not topx.a).

        Returns:
            list[tuple[str, value, value]]: as changed_at() gives them, full names included.

        Raises:
            OverflowError: index is negative or above 2**64 - 1.
            TypeError: index is not an integer, or scope is not a str.
        """
    def resolve(self, scope_name: str, short_name: str) -> Optional[str]:
        """The full name a short name stands for within a scope, as expressions resolve names.

        scope_name + "." + short_name when that is a signal; otherwise the first signal, in the order
        of signal_names(), whose name starts with scope_name and ends with "." + short_name (or is
        short_name).
        short_name matches whole elements of the path, and a name kept with its bit range
        ("top.cnt [7:0]") matches without it too.

        Args:
            scope_name (str): the scope; "" searches every signal.
            short_name (str): the name within it, e.g. "clk" or "cpu.pc".

        Returns:
            str | None: the full name, or None when no signal fits.

        Raises:
            TypeError: scope_name or short_name is not a str.

        Example:
            >>> trace.resolve("counter_tb", "count")
            'counter_tb.count'
        """
    def local_scopes(self, scope_name: str) -> List[str]:
        """The scopes directly inside a scope, by full name, each once, in the trace's order.

        Args:
            scope_name (str): the full scope name; "" gives the top-level scopes.

        Returns:
            list[str]: e.g. ['top.cpu', 'top.mem'] for "top"; empty for an unknown scope.

        Raises:
            TypeError: scope_name is not a str.
        """
    def local_signals(self, scope_name: str) -> List[str]:
        """The signals directly in a scope (not in scopes below it), by full name, in the trace's order.

        Args:
            scope_name (str): the full scope name; "" gives the signals outside any scope.

        Returns:
            list[str]: e.g. ['top.clk', 'top.rst'] for "top"; empty for an unknown scope.

        Raises:
            TypeError: scope_name is not a str.
        """
    def find_signals_glob(self, pattern: str) -> List[str]:
        """Find signals matching a glob pattern.

        The pattern must match the whole full name, case-sensitively: * matches any run of
        characters (dots included), ? exactly one byte; every other character, [ and ] included,
        matches itself.

        Args:
            pattern (str): e.g. "top.*.clk" or "*valid".

        Returns:
            list[str]: the matching full names, in the order of signal_names().

        Raises:
            TypeError: pattern is not a str.

        Example:
            >>> trace.find_signals_glob("*cl*")
            ['counter_tb.clk']
        """
    def find_signals_containing(self, substring: str) -> List[str]:
        """Find signals containing a substring (case-insensitive).

        Args:
            substring (str): the text to look for; "" matches every name.

        Returns:
            list[str]: the matching full names, unchanged, in the order of signal_names().

        Raises:
            TypeError: substring is not a str.
        """
    def signal_stats(self, name: str) -> Tuple[int, int, int, int, int, int, int]:
        """Compute stats for a signal: (min, max, sum, count, transitions, num_x, num_z).

        min, max and the exact sum are taken over the samples holding a two-state number (wide ones
        included) and are ints of any size; count is the number of those samples; transitions the
        number of indices (from 1 on) whose value differs from the one before; num_x the samples
        without a value plus the x bits of values with x or z bits; num_z their z bits. min is 0 when
        count is 0.

        Args:
            name (str): the full signal name.

        Returns:
            tuple[int, int, int, int, int, int, int]: seven zeros for an unknown name.

        Raises:
            TypeError: name is not a str.

        Example:
            >>> trace.signal_stats("counter_tb.count")
            (0, 25, 710, 57, 26, 1, 0)
        """
    def bit_slice_val(self, val: int, high: int, low: int) -> int:
        """Bits high..low (both inclusive, bit 0 the least significant) of a number, as
        PyExpr.slice() takes them.

        Args:
            val (int): the number, 0 .. 2**64 - 1.
            high (int): the highest bit.
            low (int): the lowest bit.

        Returns:
            int: the field, shifted down to bit 0; 0 when high < low or low >= 64.

        Raises:
            OverflowError: an argument is negative or above 2**64 - 1.
            TypeError: an argument is not an integer.

        Example:
            >>> trace.bit_slice_val(0xAB, 7, 4)
            10
        """
    def sign_extend_val(self, val: int, width: int) -> int:
        """A number of width bits read as two's complement.

        Args:
            val (int): the number, 0 .. 2**64 - 1.
            width (int): its width in bits.

        Returns:
            int: when width is 1 .. 63 and bit width - 1 is set, val with every bit from width up set
            (a negative int); otherwise val read as a signed 64-bit number. Bits above width are
            never cleared.

        Raises:
            OverflowError: an argument is negative or above 2**64 - 1.
            TypeError: an argument is not an integer.

        Example:
            >>> trace.sign_extend_val(0xF, 4), trace.sign_extend_val(0x7, 4)
            (-1, 7)
        """
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
        by the worker threads.

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
            and every run holds a two-state number, a 'd' array when every run holds a real, and
            otherwise a list of the runs' values converted as signal_value converts them: int
            (two-state, any width), float, str (text) or None (no value, or a value with an x or z
            bit; to_arrow() gives such bits as text). An unknown name gives two empty arrays.

        Raises:
            TypeError: name is not a str.

        Example:
            >>> starts, values = trace.signal_runs("counter_tb.state")
            >>> starts[:4].tolist(), values[:4]
            ([0, 1, 11, 19], [None, 0, 1, 2])
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
    """An expression over the signals of a trace: an immutable tree for PyTrace.find(),
    find_array(), parallel_count(), eval_expr() and the like.

    Build one from text with PyTrace.expr(), or from leaves (signal(), const_int(), ...) and
    builder methods, each returning a new PyExpr (the operands are copied, never changed).
    PyExpr() itself raises TypeError.

    An operand without a value (an x or z bit, a rel_eval() outside the trace) makes arithmetic,
    slices and ordering comparisons have no value, which no search matches; logical operators,
    eq_(), neq(), is_x() and is_z() always give 0 or 1.

    Example:
        >>> count = PyExpr.signal(trace.signal_id("counter_tb.count"))
        >>> rising = count.gt_(count.rel_eval(-1))
        >>> trace.find(rising)[:3]
        [4, 6, 8]
    """

    @staticmethod
    def signal(id: int) -> PyExpr:
        """A signal's value at the index being evaluated.

        Args:
            id (int): the signal's id, from PyTrace.signal_id(); an id the trace does not know has
            no value.

        Returns:
            PyExpr

        Raises:
            OverflowError: id is negative or above 2**64 - 1.
            TypeError: id is not an integer.
        """
    @staticmethod
    def const_int(val: int) -> PyExpr:
        """An unsigned integer constant.

        Args:
            val (int): 0 .. 2**64 - 1 (const_wide() takes any size).

        Returns:
            PyExpr

        Raises:
            OverflowError: val is negative or above 2**64 - 1.
            TypeError: val is not an integer.
        """
    @staticmethod
    def const_wide(value: int) -> PyExpr:
        """An integer constant of any size: a non-negative int, kept as one 64-bit number when it fits
        and as a wide value (every bit) otherwise.

        Args:
            value (int): the number, 0 or more.

        Returns:
            PyExpr

        Raises:
            OverflowError: value is negative.
            TypeError: value is not an integer.

        Example:
            >>> PyExpr.signal(trace.signal_id("top.wide")).eq_(PyExpr.const_wide(1 << 100))
        """
    @staticmethod
    def const_float(val: float) -> PyExpr:
        """A real constant.

        Args:
            val (float): a float, or an object with __float__ or __index__ (an int, say).

        Returns:
            PyExpr

        Raises:
            TypeError: val cannot be converted to a float.
        """
    @staticmethod
    def const_str(val: str) -> PyExpr:
        """A text constant (text values compare by their bytes, or as numbers when both read as
        decimal numbers).

        Args:
            val (str): the text.

        Returns:
            PyExpr

        Raises:
            TypeError: val is not a str.
        """
    @staticmethod
    def always_true() -> PyExpr:
        """The constant 1: true at every index (find(PyExpr.always_true()) lists every index).

        Returns:
            PyExpr
        """
    def rel_eval(self, offset: int) -> PyExpr:
        """This expression evaluated offset samples away from the index being evaluated.

        Args:
            offset (int): -1 for the previous sample, 1 for the next; -2**63 .. 2**63 - 1. Outside the
            trace the result has no value.

        Returns:
            PyExpr

        Raises:
            OverflowError: offset is outside the signed 64-bit range.
            TypeError: offset is not an integer.

        Example:
            >>> rose = clk.and_(clk.rel_eval(-1).not_())
        """
    def not_(self) -> PyExpr:
        """Logical not: 1 where this expression is false (0, no value, empty text), else 0.

        Returns:
            PyExpr
        """
    def and_(self, other: PyExpr) -> PyExpr:
        """Logical and: 1 where both expressions are true, else 0. Both sides are always evaluated.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.

        Example:
            >>> en.and_(count.gt_(PyExpr.const_int(10)))
        """
    def or_(self, other: PyExpr) -> PyExpr:
        """Logical or: 1 where either expression is true, else 0.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def eq_(self, other: PyExpr) -> PyExpr:
        """Equality: 1 where the values are equal, else 0 (never no value). Numbers compare whole,
        a real with a number as reals, a signed() operand as a signed number (see signed()); a text
        equals a number when it reads as that decimal number; two values without a value are
        equal.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.

        Example:
            >>> count.eq_(PyExpr.const_int(3))
        """
    def neq(self, other: PyExpr) -> PyExpr:
        """Inequality: exactly the opposite of eq_().

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def gt_(self, other: PyExpr) -> PyExpr:
        """Greater than: 1 where this expression is above other, else 0.
        Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is
        a signed() expression; as reals when an operand is a real. No value when an operand has
        none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def lt_(self, other: PyExpr) -> PyExpr:
        """Less than: 1 where this expression is below other, else 0.
        Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is
        a signed() expression; as reals when an operand is a real. No value when an operand has
        none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.

        Example:
            >>> PyExpr.signal(trace.signal_id("top.delta")).signed().lt_(PyExpr.const_int(0))
        """
    def gte(self, other: PyExpr) -> PyExpr:
        """Greater than or equal: 1 where this expression is not below other, else 0.
        Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is
        a signed() expression; as reals when an operand is a real. No value when an operand has
        none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def lte(self, other: PyExpr) -> PyExpr:
        """Less than or equal: 1 where this expression is not above other, else 0.
        Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is
        a signed() expression; as reals when an operand is a real. No value when an operand has
        none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def add(self, other: PyExpr) -> PyExpr:
        """Sum of the two 64-bit readings, wrapping modulo 2**64; no value when an operand has none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def sub(self, other: PyExpr) -> PyExpr:
        """This minus other, wrapping modulo 2**64 (0 - 1 gives 2**64 - 1); no value when an
        operand has none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def bit_and(self, other: PyExpr) -> PyExpr:
        """Bitwise and of the two 64-bit readings; no value when an operand has none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def bit_or(self, other: PyExpr) -> PyExpr:
        """Bitwise or of the two 64-bit readings; no value when an operand has none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def bit_xor(self, other: PyExpr) -> PyExpr:
        """Bitwise exclusive or of the two 64-bit readings; no value when an operand has none.

        Args:
            other (PyExpr): the right-hand operand.

        Returns:
            PyExpr

        Raises:
            TypeError: other is not a PyExpr.
        """
    def slice(self, high: int, low: int) -> PyExpr:
        """Bits high..low of this expression's value (both inclusive, bit 0 the least significant),
        shifted down to bit 0: sig[7:4] of the expression language. Wide values are sliced whole.

        Args:
            high (int): the highest bit; high < low gives 0.
            low (int): the lowest bit.

        Returns:
            PyExpr: no value where the operand has none.

        Raises:
            OverflowError: high or low is negative or above 2**64 - 1.
            TypeError: high or low is not an integer.

        Example:
            >>> nibble = PyExpr.signal(trace.signal_id("top.bus")).slice(7, 4)
        """
    def signed(self) -> PyExpr:
        """This expression read as a two's-complement number: a signal is sign-extended from its
        declared width, a slice from its width. Comparisons with it are signed, and eval_expr() gives
        it as a negative int where the sign bit is set. A real stays a real. Of at most 64 bits, a
        comparison with it reads both sides as signed 64-bit numbers. Of more, it is the whole number
        and a comparison with it compares whole numbers: the other side as signed when it is signed()
        too, else unsigned; signed() of a const_wide reads all its words as two's complement.

        Returns:
            PyExpr: no value where the operand has none.

        Example:
            >>> negative = PyExpr.signal(trace.signal_id("top.delta")).signed().lt_(PyExpr.const_int(0))
        """
    def is_x(self) -> PyExpr:
        """1 where this expression's value has an x bit or no value at all, else 0.

        Returns:
            PyExpr
        """
    def is_z(self) -> PyExpr:
        """1 where this expression's value has a z (high-impedance) bit, else 0.

        Returns:
            PyExpr
        """

def _runs(
    trace: PyTrace, name: str, start: int, end: int, all_texts: bool
) -> Optional[Tuple[PyArray, bytes, PyArray, List[Optional[str]], int, int]]:
    """The runs of a signal over [start, end), for the package's table and export code: None for
    an unknown name, else (starts, kinds, payloads, texts, kinds_anywhere, width).

    starts: a 'Q' array of each run's first index (the first clipped to start).
    kinds: bytes, a kind per run: 0 a two-state number of a signal at most 64 bits wide, 1 one
    of a wider signal, 2 a value with x or z bits, 3 a real, 4 text, 5 no value, 6 a value
    whose bits are all x.
    payloads: a 'Q' array: the number of a kind 0 run, the bits of a real, else 0.
    texts: the text (kind 4) or the bits (kinds 1, 2, 6) of those runs, in order; with
    all_texts, one entry per run: also the bits of numbers, the repr of reals and None.
    kinds_anywhere: the kinds of the whole signal, as bits 1 << kind.
    width: the declared width.
    """

def _change_rows(
    trace: PyTrace, names: List[str], first: int, max_rows: int
) -> Tuple[int, PyArray, PyArray, bytes, PyArray, List[str]]:
    """The runs of names[first], names[first + 1], ... joined, up to the signal that brings them
    to max_rows or more, for the export: (next, signals, starts, kinds, payloads, texts).
    next is the position of the first name not taken; signals a 'Q' array of each row's name
    position minus first; starts, kinds, payloads and texts as _runs gives them (unknown names
    give no rows).
    """
