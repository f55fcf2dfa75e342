#pragma once
// The help() texts of PyTrace and PyExpr. The method tables put each after its method's text
// signature ("name(args)\n--\n\n"), which Python shows as the signature. python/quor/_core.pyi
// carries the same texts; a test keeps the two alike.

#define QUOR_DOC_TRACE \
    "One loaded waveform trace, read-only once loaded.\n" \
    "\n" \
    "Instances come from quor.open() or the static loaders (from_vcd, from_fst, ...); PyTrace()\n" \
    "itself raises TypeError. A trace is a list of samples, numbered 0 .. max_index(), each with a\n" \
    "time (timestamps()) and a value for every signal. Signals are named by their full path,\n" \
    "scopes joined by '.', e.g. \"top.cpu.pc\"; a name an FST writer stored with its bit range\n" \
    "(\"top.cnt [7:0]\") is also found without it when exactly one signal has that name.\n" \
    "An escaped identifier is one element of the path, dots and all: \"top.\\esc.dotted\" is the\n" \
    "signal \"\\esc.dotted\" in the scope top.\n" \
    "\n" \
    "Values convert to Python as: two-state numbers to int (whole, however wide), reals to float,\n" \
    "text to str, and a value with an x or z bit, or no value at all, to None. Unknown names and\n" \
    "indices past the end never raise: they give None, 0 or empty results. A negative index, or one\n" \
    "above 2**64 - 1, raises OverflowError; an argument of the wrong type raises TypeError.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace = quor.open(\"examples/counter.vcd\")\n" \
    "    >>> trace.signal_value(\"counter_tb.count\", 10)\n" \
    "    1\n"

#define QUOR_DOC_TRACE_FROM_VCD \
    "Loads a VCD file, or VCD text from a pipe such as /dev/stdin.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "Gzip-compressed VCD (starting with the bytes 1f 8b) is inflated as it is read. Lines that\n" \
    "are not UTF-8 are skipped; a truncated file loads what it holds.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"Failed to open {path}: {reason}\" when it cannot be opened,\n" \
    "    \"Failed to read {path}: ...\" for broken gzip data.\n" \
    "    \"VCD hierarchy: too deep or its names too long: ...\" when the full names would take\n" \
    "    more than 256 bytes per byte of declarations, plus 64 MiB.\n" \
    "    MemoryError: the trace does not fit in memory.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace = PyTrace.from_vcd(\"examples/counter.vcd\")\n" \
    "    >>> trace.max_index()\n" \
    "    57\n"

#define QUOR_DOC_TRACE_FROM_VCD_STRING \
    "Loads VCD text held in a str into a new PyTrace, as from_vcd() loads a file.\n" \
    "\n" \
    "Args:\n" \
    "    data (str): the VCD text. An empty str gives a trace without signals or samples.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: data is not a str.\n" \
    "    ValueError: the text cannot be loaded, with the loader's message.\n" \
    "    MemoryError: the trace does not fit in memory.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace = PyTrace.from_vcd_string(\n" \
    "    ...     \"$scope module top $end\\n$var wire 4 ! a $end\\n$upscope $end\\n\"\n" \
    "    ...     \"$enddefinitions $end\\n#0\\nb101 !\\n#10\\nb110 !\\n\")\n" \
    "    >>> trace.signal_value(\"top.a\", 1), trace.timestamp(1)\n" \
    "    (6, 10)\n"

#define QUOR_DOC_TRACE_FROM_FST \
    "Loads an FST file.\n" \
    "\n" \
    "Each entry of the file's time tables is a sample, except that a value-change block that\n" \
    "starts at the time the block before it ended continues that sample (a writer flushed\n" \
    "mid-step): the FST and the VCD of one run have the same samples.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"Failed to open {path}: {reason}\" when it cannot be opened, else\n" \
    "    \"FST open: \", \"FST hierarchy: \" or \"FST signals: \" and what is wrong and where.\n" \
    "    \"FST hierarchy: too deep or its names too long: ...\" when the full names would take\n" \
    "    more than 256 bytes per byte of the hierarchy, plus 64 MiB.\n" \
    "    MemoryError: the trace does not fit in memory.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace = PyTrace.from_fst(\"run.fst\")\n"

#define QUOR_DOC_TRACE_FROM_FSDB \
    "Loads an FSDB file.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"Failed to read {path}: {reason}\", \"FSDB file too small\" or\n" \
    "    \"Not an FSDB file (magic=0x...)\".\n" \
    "    MemoryError: the trace does not fit in memory.\n"

#define QUOR_DOC_TRACE_FROM_WLF \
    "Loads a WLF file.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"Failed to read {path}: {reason}\" or \"WLF file too small (< 1 page)\".\n" \
    "    MemoryError: the trace does not fit in memory.\n"

#define QUOR_DOC_TRACE_FROM_SHM \
    "Loads an SHM database: its directory, or one of its .dsn/.trn files.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"No .dsn/.trn in {path}\", \"DSN: ...\" or \"Bad DSN magic: 0x...\".\n" \
    "    MemoryError: the trace does not fit in memory.\n"

#define QUOR_DOC_TRACE_FROM_VPD \
    "Loads a VPD file.\n" \
    "\n" \
    "The file is read on the calling thread with the interpreter lock released, so other Python\n" \
    "threads run meanwhile.\n" \
    "\n" \
    "Args:\n" \
    "    path (str | bytes | os.PathLike): the file.\n" \
    "\n" \
    "Returns:\n" \
    "    PyTrace: the loaded trace.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: path is not a str, bytes or os.PathLike.\n" \
    "    ValueError: the file cannot be loaded; the message says why:\n" \
    "    \"Failed to read {path}: {reason}\", \"VPD file too small\" or\n" \
    "    \"Not a VPD file (magic=0x...)\".\n" \
    "    MemoryError: the trace does not fit in memory.\n"

#define QUOR_DOC_TRACE_SIGNAL_NAMES \
    "The full names of all signals, in the trace's order (a new list on every call).\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: e.g. ['counter_tb.bus', 'counter_tb.clk', ...]; empty for a trace without signals.\n"

#define QUOR_DOC_TRACE_SCOPES \
    "The full names of all scopes, in the trace's order (a new list on every call).\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: e.g. ['top', 'top.cpu', 'top.cpu.alu'].\n"

#define QUOR_DOC_TRACE_MAX_INDEX \
    "The index of the last sample.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the number of samples minus 1; 0 also for a trace without samples (len(timestamps())\n" \
    "    tells the two apart).\n"

#define QUOR_DOC_TRACE_TIMESTAMP \
    "The time of one sample, in the trace's time unit (see timescale()).\n" \
    "\n" \
    "Args:\n" \
    "    index (int): the sample index.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the time; 0 for an index past the end.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: index is not an integer.\n"

#define QUOR_DOC_TRACE_SIGNAL_ID \
    "The numeric id of a signal, as PyExpr.signal() takes it.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "\n" \
    "Returns:\n" \
    "    int | None: the id, or None when the trace has no signal of that name.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: name is not a str.\n" \
    "\n" \
    "Example:\n" \
    "    >>> PyExpr.signal(trace.signal_id(\"counter_tb.count\"))\n"

#define QUOR_DOC_TRACE_SIGNAL_WIDTH \
    "The declared width of a signal in bits.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the width; for an unknown name 0 on a VCD trace and 1 on traces of the other formats.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: name is not a str.\n"

#define QUOR_DOC_TRACE_SIGNAL_VALUE \
    "The value of a signal at one sample.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "    index (int): the sample index.\n" \
    "\n" \
    "Returns:\n" \
    "    int | float | str | None: int for a two-state number (whole, however wide), float for a\n" \
    "    real, str for text; None for a value with an x or z bit, before the signal's first value,\n" \
    "    for an index past the end and for an unknown name.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: name is not a str, or index is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.signal_value(\"counter_tb.count\", 10)\n" \
    "    1\n"

#define QUOR_DOC_TRACE_SIGNAL_VALUE_RAW \
    "The value of a signal at one sample as an unsigned 64-bit number.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "    index (int): the sample index.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the number (a wider value's lowest 64 bits, a real truncated, text that is a decimal\n" \
    "    number read as one); 0 where signal_value() gives None and for other text.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: name is not a str, or index is not an integer.\n"

#define QUOR_DOC_TRACE_SIGNAL_VALUES_RANGE \
    "The values of a signal at the indices start .. end - 1, as signal_value() gives them.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "    start (int): the first index.\n" \
    "    end (int): one past the last index.\n" \
    "\n" \
    "Returns:\n" \
    "    list: one value per index; empty when end is not above start; None past the end of the\n" \
    "    trace, and for every index of an unknown name.\n" \
    "\n" \
    "Raises:\n" \
    "    ValueError: the range holds more than the trace's number of samples plus 1,048,576\n" \
    "    entries (a list that size can only come from a mistake).\n" \
    "    OverflowError: start or end is negative or above 2**64 - 1.\n" \
    "    TypeError: name is not a str, or start or end is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.signal_values_range(\"counter_tb.count\", 2, 6)\n" \
    "    [0, 0, 1, 1]\n"

#define QUOR_DOC_TRACE_SNAPSHOT \
    "Snapshot: get all signal values at a specific index as a dict.\n" \
    "Uses signal_value_by_id for O(1) access per signal.\n" \
    "\n" \
    "Args:\n" \
    "    index (int): the sample index.\n" \
    "\n" \
    "Returns:\n" \
    "    dict[str, int | float | str | None]: every signal's value at index, as signal_value()\n" \
    "    gives it, keyed by full name in the order of signal_names(); all None past the end.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: index is not an integer.\n"

#define QUOR_DOC_TRACE_SNAPSHOT_SCOPE \
    "Snapshot within a scope.\n" \
    "Uses signal_value_by_id for O(1) access per signal.\n" \
    "\n" \
    "The values at index of the signals below scope, at any depth.\n" \
    "\n" \
    "Args:\n" \
    "    index (int): the sample index.\n" \
    "    scope (str): the full scope name, e.g. \"top.cpu\".\n" \
    "\n" \
    "Returns:\n" \
    "    dict[str, int | float | str | None]: keyed by the name below the scope (the scope top and\n" \
    "    the signal top.cpu.clk give the key \"cpu.clk\"); empty for an unknown scope.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: index is not an integer, or scope is not a str.\n"

#define QUOR_DOC_TRACE_FIND \
    "The indices at which expr holds (its value is true: a non-zero number, a value with a 1\n" \
    "bit, a non-empty text), searched on the calling thread.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the condition, e.g. from trace.expr(\"en && count > 10\", \"top\").\n" \
    "    limit (int | None): at most this many indices, the first ones; the search stops once it\n" \
    "    has them. None: all of them.\n" \
    "\n" \
    "Returns:\n" \
    "    list[int]: ascending indices. For many matches find_array() is faster: it makes no int\n" \
    "    per index.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: expr is not a PyExpr, or limit is not an integer or None.\n" \
    "    OverflowError: limit is negative.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.find(trace.expr(\"count > 10\", scope=\"counter_tb\"))[:3]\n" \
    "    [25, 26, 27]\n"

#define QUOR_DOC_TRACE_PARALLEL_FIND \
    "Find matching indices using rayon parallel iteration across all CPU cores.\n" \
    "\n" \
    "The same list as find(), searched by the worker threads.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the condition.\n" \
    "    limit (int | None): at most this many indices, the first ones. None: all of them.\n" \
    "\n" \
    "Returns:\n" \
    "    list[int]: ascending indices.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: expr is not a PyExpr, or limit is not an integer or None.\n" \
    "    OverflowError: limit is negative.\n"

#define QUOR_DOC_TRACE_PARALLEL_COUNT \
    "Count matching indices using rayon parallel iteration.\n" \
    "\n" \
    "The same as len(find(expr)), without building the list.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the condition.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the number of indices at which expr holds.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: expr is not a PyExpr.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.parallel_count(trace.expr(\"counter_tb.count == 3\"))\n" \
    "    3\n"

#define QUOR_DOC_TRACE_EVAL_EXPR \
    "The value of an expression at one sample.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the expression.\n" \
    "    index (int): the sample index; past the end, signals read as no value.\n" \
    "\n" \
    "Returns:\n" \
    "    int | float | str | None: converted as signal_value() converts; a signed() expression\n" \
    "    gives a signed int; None where the expression has no value (an operand with an x or z\n" \
    "    bit, a rel_eval() outside the trace).\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: expr is not a PyExpr, or index is not an integer.\n"

#define QUOR_DOC_TRACE_EVAL_EXPR_BOOL \
    "Whether an expression holds at one sample, as find() decides it.\n" \
    "\n" \
    "A number is true when it is not 0, a value with x or z bits when one bit is 1, a real when it\n" \
    "is not 0.0 (NaN is true), a text when it is not empty; no value is false.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the expression.\n" \
    "    index (int): the sample index.\n" \
    "\n" \
    "Returns:\n" \
    "    bool\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: expr is not a PyExpr, or index is not an integer.\n"

#define QUOR_DOC_TRACE_FIND_WITH_VALUES \
    "Find with value extraction in one pass: returns list of (index, [values]) tuples.\n" \
    "\n" \
    "Each name is looked up once, before the search, so this is faster than find() followed by\n" \
    "signal_value() per index and name.\n" \
    "\n" \
    "Args:\n" \
    "    expr (PyExpr): the condition.\n" \
    "    signal_names (Sequence[str]): full signal names (a list or tuple, not one str).\n" \
    "\n" \
    "Returns:\n" \
    "    list[tuple[int, list]]: per matching index, ascending, the index and the values of the\n" \
    "    named signals there; None for a name the trace does not know.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: expr is not a PyExpr, or signal_names is a str or holds something else.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.find_with_values(trace.expr(\"counter_tb.count == 3\"), [\"counter_tb.en\"])\n" \
    "    [(8, [0]), (9, [0]), (10, [1])]\n"

#define QUOR_DOC_TRACE_TRANSITIONS \
    "Get all transitions for a signal: [(index, old, new), ...]\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "\n" \
    "Returns:\n" \
    "    list[tuple[int, value, value]]: one tuple per index (from 1 on, ascending) whose value\n" \
    "    differs from the one before, with both values converted; empty for a signal that never\n" \
    "    changes and for an unknown name.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: name is not a str.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.transitions(\"counter_tb.count\")[:2]\n" \
    "    [(1, None, 0), (4, 0, 1)]\n"

#define QUOR_DOC_TRACE_CHANGED_AT \
    "Get all signals that changed value at a specific index.\n" \
    "Returns list of (name, old_value, new_value) tuples.\n" \
    "\n" \
    "Args:\n" \
    "    index (int): the sample index; 0 gives an empty list.\n" \
    "\n" \
    "Returns:\n" \
    "    list[tuple[str, value, value]]: full name, the value at index - 1 and the value at index,\n" \
    "    in the order of signal_names(). Past the end, a signal that had a value reads as changed\n" \
    "    to None.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: index is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.changed_at(3)\n" \
    "    [('counter_tb.rst', 1, 0)]\n"

#define QUOR_DOC_TRACE_CHANGED_AT_SCOPE \
    "Get signals that changed at index within a scope.\n" \
    "\n" \
    "Args:\n" \
    "    index (int): the sample index.\n" \
    "    scope (str): the full scope name; signals below it at any depth count (top counts\n" \
    "    top.cpu.pc, not topx.a).\n" \
    "\n" \
    "Returns:\n" \
    "    list[tuple[str, value, value]]: as changed_at() gives them, full names included.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: index is negative or above 2**64 - 1.\n" \
    "    TypeError: index is not an integer, or scope is not a str.\n"

#define QUOR_DOC_TRACE_RESOLVE \
    "The full name a short name stands for within a scope, as expressions resolve names.\n" \
    "\n" \
    "scope_name + \".\" + short_name when that is a signal; otherwise the first signal, in the order\n" \
    "of signal_names(), whose name starts with scope_name and ends with \".\" + short_name (or is\n" \
    "short_name).\n" \
    "short_name matches whole elements of the path, and a name kept with its bit range\n" \
    "(\"top.cnt [7:0]\") matches without it too.\n" \
    "\n" \
    "Args:\n" \
    "    scope_name (str): the scope; \"\" searches every signal.\n" \
    "    short_name (str): the name within it, e.g. \"clk\" or \"cpu.pc\".\n" \
    "\n" \
    "Returns:\n" \
    "    str | None: the full name, or None when no signal fits.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: scope_name or short_name is not a str.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.resolve(\"counter_tb\", \"count\")\n" \
    "    'counter_tb.count'\n"

#define QUOR_DOC_TRACE_LOCAL_SCOPES \
    "The scopes directly inside a scope, by full name, each once, in the trace's order.\n" \
    "\n" \
    "Args:\n" \
    "    scope_name (str): the full scope name; \"\" gives the top-level scopes.\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: e.g. ['top.cpu', 'top.mem'] for \"top\"; empty for an unknown scope.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: scope_name is not a str.\n"

#define QUOR_DOC_TRACE_LOCAL_SIGNALS \
    "The signals directly in a scope (not in scopes below it), by full name, in the trace's order.\n" \
    "\n" \
    "Args:\n" \
    "    scope_name (str): the full scope name; \"\" gives the signals outside any scope.\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: e.g. ['top.clk', 'top.rst'] for \"top\"; empty for an unknown scope.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: scope_name is not a str.\n"

#define QUOR_DOC_TRACE_FIND_SIGNALS_GLOB \
    "Find signals matching a glob pattern.\n" \
    "\n" \
    "The pattern must match the whole full name, case-sensitively: * matches any run of\n" \
    "characters (dots included), ? exactly one byte; every other character, [ and ] included,\n" \
    "matches itself.\n" \
    "\n" \
    "Args:\n" \
    "    pattern (str): e.g. \"top.*.clk\" or \"*valid\".\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: the matching full names, in the order of signal_names().\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: pattern is not a str.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.find_signals_glob(\"*cl*\")\n" \
    "    ['counter_tb.clk']\n"

#define QUOR_DOC_TRACE_FIND_SIGNALS_CONTAINING \
    "Find signals containing a substring (case-insensitive).\n" \
    "\n" \
    "Args:\n" \
    "    substring (str): the text to look for; \"\" matches every name.\n" \
    "\n" \
    "Returns:\n" \
    "    list[str]: the matching full names, unchanged, in the order of signal_names().\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: substring is not a str.\n"

#define QUOR_DOC_TRACE_SIGNAL_STATS \
    "Compute stats for a signal: (min, max, sum, count, transitions, num_x, num_z).\n" \
    "\n" \
    "min, max and the exact sum are taken over the samples holding a two-state number (wide ones\n" \
    "included) and are ints of any size; count is the number of those samples; transitions the\n" \
    "number of indices (from 1 on) whose value differs from the one before; num_x the samples\n" \
    "without a value plus the x bits of values with x or z bits; num_z their z bits. min is 0 when\n" \
    "count is 0.\n" \
    "\n" \
    "Args:\n" \
    "    name (str): the full signal name.\n" \
    "\n" \
    "Returns:\n" \
    "    tuple[int, int, int, int, int, int, int]: seven zeros for an unknown name.\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: name is not a str.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.signal_stats(\"counter_tb.count\")\n" \
    "    (0, 25, 710, 57, 26, 1, 0)\n"

#define QUOR_DOC_TRACE_BIT_SLICE_VAL \
    "Bits high..low (both inclusive, bit 0 the least significant) of a number, as\n" \
    "PyExpr.slice() takes them.\n" \
    "\n" \
    "Args:\n" \
    "    val (int): the number, 0 .. 2**64 - 1.\n" \
    "    high (int): the highest bit.\n" \
    "    low (int): the lowest bit.\n" \
    "\n" \
    "Returns:\n" \
    "    int: the field, shifted down to bit 0; 0 when high < low or low >= 64.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: an argument is negative or above 2**64 - 1.\n" \
    "    TypeError: an argument is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.bit_slice_val(0xAB, 7, 4)\n" \
    "    10\n"

#define QUOR_DOC_TRACE_SIGN_EXTEND_VAL \
    "A number of width bits read as two's complement.\n" \
    "\n" \
    "Args:\n" \
    "    val (int): the number, 0 .. 2**64 - 1.\n" \
    "    width (int): its width in bits.\n" \
    "\n" \
    "Returns:\n" \
    "    int: when width is 1 .. 63 and bit width - 1 is set, val with every bit from width up set\n" \
    "    (a negative int); otherwise val read as a signed 64-bit number. Bits above width are\n" \
    "    never cleared.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: an argument is negative or above 2**64 - 1.\n" \
    "    TypeError: an argument is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> trace.sign_extend_val(0xF, 4), trace.sign_extend_val(0x7, 4)\n" \
    "    (-1, 7)\n"

#define QUOR_DOC_EXPR \
    "An expression over the signals of a trace: an immutable tree for PyTrace.find(),\n" \
    "find_array(), parallel_count(), eval_expr() and the like.\n" \
    "\n" \
    "Build one from text with PyTrace.expr(), or from leaves (signal(), const_int(), ...) and\n" \
    "builder methods, each returning a new PyExpr (the operands are copied, never changed).\n" \
    "PyExpr() itself raises TypeError.\n" \
    "\n" \
    "An operand without a value (an x or z bit, a rel_eval() outside the trace) makes arithmetic,\n" \
    "slices and ordering comparisons have no value, which no search matches; logical operators,\n" \
    "eq_(), neq(), is_x() and is_z() always give 0 or 1.\n" \
    "\n" \
    "Example:\n" \
    "    >>> count = PyExpr.signal(trace.signal_id(\"counter_tb.count\"))\n" \
    "    >>> rising = count.gt_(count.rel_eval(-1))\n" \
    "    >>> trace.find(rising)[:3]\n" \
    "    [4, 6, 8]\n"

#define QUOR_DOC_EXPR_SIGNAL \
    "A signal's value at the index being evaluated.\n" \
    "\n" \
    "Args:\n" \
    "    id (int): the signal's id, from PyTrace.signal_id(); an id the trace does not know has\n" \
    "    no value.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: id is negative or above 2**64 - 1.\n" \
    "    TypeError: id is not an integer.\n"

#define QUOR_DOC_EXPR_CONST_INT \
    "An unsigned integer constant.\n" \
    "\n" \
    "Args:\n" \
    "    val (int): 0 .. 2**64 - 1 (const_wide() takes any size).\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: val is negative or above 2**64 - 1.\n" \
    "    TypeError: val is not an integer.\n"

#define QUOR_DOC_EXPR_CONST_WIDE \
    "An integer constant of any size: a non-negative int, kept as one 64-bit number when it fits\n" \
    "and as a wide value (every bit) otherwise.\n" \
    "\n" \
    "Args:\n" \
    "    value (int): the number, 0 or more.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: value is negative.\n" \
    "    TypeError: value is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> PyExpr.signal(trace.signal_id(\"top.wide\")).eq_(PyExpr.const_wide(1 << 100))\n"

#define QUOR_DOC_EXPR_CONST_FLOAT \
    "A real constant.\n" \
    "\n" \
    "Args:\n" \
    "    val (float): a float, or an object with __float__ or __index__ (an int, say).\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: val cannot be converted to a float.\n"

#define QUOR_DOC_EXPR_CONST_STR \
    "A text constant (text values compare by their bytes, or as numbers when both read as\n" \
    "decimal numbers).\n" \
    "\n" \
    "Args:\n" \
    "    val (str): the text.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: val is not a str.\n"

#define QUOR_DOC_EXPR_ALWAYS_TRUE \
    "The constant 1: true at every index (find(PyExpr.always_true()) lists every index).\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n"

#define QUOR_DOC_EXPR_REL_EVAL \
    "This expression evaluated offset samples away from the index being evaluated.\n" \
    "\n" \
    "Args:\n" \
    "    offset (int): -1 for the previous sample, 1 for the next; -2**63 .. 2**63 - 1. Outside the\n" \
    "    trace the result has no value.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: offset is outside the signed 64-bit range.\n" \
    "    TypeError: offset is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> rose = clk.and_(clk.rel_eval(-1).not_())\n"

#define QUOR_DOC_EXPR_NOT \
    "Logical not: 1 where this expression is false (0, no value, empty text), else 0.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n"

#define QUOR_DOC_EXPR_AND \
    "Logical and: 1 where both expressions are true, else 0. Both sides are always evaluated.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n" \
    "\n" \
    "Example:\n" \
    "    >>> en.and_(count.gt_(PyExpr.const_int(10)))\n"

#define QUOR_DOC_EXPR_OR \
    "Logical or: 1 where either expression is true, else 0.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_EQ \
    "Equality: 1 where the values are equal, else 0 (never no value). Numbers compare whole,\n" \
    "a real with a number as reals, a signed() operand as a signed number (see signed()); a text\n" \
    "equals a number when it reads as that decimal number; two values without a value are\n" \
    "equal.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n" \
    "\n" \
    "Example:\n" \
    "    >>> count.eq_(PyExpr.const_int(3))\n"

#define QUOR_DOC_EXPR_NEQ \
    "Inequality: exactly the opposite of eq_().\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_GT \
    "Greater than: 1 where this expression is above other, else 0.\n" \
    "Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is\n" \
    "a signed() expression; as reals when an operand is a real. No value when an operand has\n" \
    "none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_LT \
    "Less than: 1 where this expression is below other, else 0.\n" \
    "Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is\n" \
    "a signed() expression; as reals when an operand is a real. No value when an operand has\n" \
    "none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n" \
    "\n" \
    "Example:\n" \
    "    >>> PyExpr.signal(trace.signal_id(\"top.delta\")).signed().lt_(PyExpr.const_int(0))\n"

#define QUOR_DOC_EXPR_GTE \
    "Greater than or equal: 1 where this expression is not below other, else 0.\n" \
    "Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is\n" \
    "a signed() expression; as reals when an operand is a real. No value when an operand has\n" \
    "none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_LTE \
    "Less than or equal: 1 where this expression is not above other, else 0.\n" \
    "Numbers compare whole, whatever their width; as signed numbers (see signed()) when an operand is\n" \
    "a signed() expression; as reals when an operand is a real. No value when an operand has\n" \
    "none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_ADD \
    "Sum of the two 64-bit readings, wrapping modulo 2**64; no value when an operand has none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_SUB \
    "This minus other, wrapping modulo 2**64 (0 - 1 gives 2**64 - 1); no value when an\n" \
    "operand has none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_BIT_AND \
    "Bitwise and of the two 64-bit readings; no value when an operand has none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_BIT_OR \
    "Bitwise or of the two 64-bit readings; no value when an operand has none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_BIT_XOR \
    "Bitwise exclusive or of the two 64-bit readings; no value when an operand has none.\n" \
    "\n" \
    "Args:\n" \
    "    other (PyExpr): the right-hand operand.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n" \
    "\n" \
    "Raises:\n" \
    "    TypeError: other is not a PyExpr.\n"

#define QUOR_DOC_EXPR_SLICE \
    "Bits high..low of this expression's value (both inclusive, bit 0 the least significant),\n" \
    "shifted down to bit 0: sig[7:4] of the expression language. Wide values are sliced whole.\n" \
    "\n" \
    "Args:\n" \
    "    high (int): the highest bit; high < low gives 0.\n" \
    "    low (int): the lowest bit.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr: no value where the operand has none.\n" \
    "\n" \
    "Raises:\n" \
    "    OverflowError: high or low is negative or above 2**64 - 1.\n" \
    "    TypeError: high or low is not an integer.\n" \
    "\n" \
    "Example:\n" \
    "    >>> nibble = PyExpr.signal(trace.signal_id(\"top.bus\")).slice(7, 4)\n"

#define QUOR_DOC_EXPR_SIGNED \
    "This expression read as a two's-complement number: a signal is sign-extended from its\n" \
    "declared width, a slice from its width. Comparisons with it are signed, and eval_expr() gives\n" \
    "it as a negative int where the sign bit is set. A real stays a real. Of at most 64 bits, a\n" \
    "comparison with it reads both sides as signed 64-bit numbers. Of more, it is the whole number\n" \
    "and a comparison with it compares whole numbers: the other side as signed when it is signed()\n" \
    "too, else unsigned; signed() of a const_wide reads all its words as two's complement.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr: no value where the operand has none.\n" \
    "\n" \
    "Example:\n" \
    "    >>> negative = PyExpr.signal(trace.signal_id(\"top.delta\")).signed().lt_(PyExpr.const_int(0))\n"

#define QUOR_DOC_EXPR_IS_X \
    "1 where this expression's value has an x bit or no value at all, else 0.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n"

#define QUOR_DOC_EXPR_IS_Z \
    "1 where this expression's value has a z (high-impedance) bit, else 0.\n" \
    "\n" \
    "Returns:\n" \
    "    PyExpr\n"
