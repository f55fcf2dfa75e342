# The layers of quor_core, lowest first, and the folders each may include from. Every folder
# may include its own headers; a format folder (formats/<name>) may include no other format.
set(QUOR_LAYER_ALLOWED_util     "")
set(QUOR_LAYER_ALLOWED_bytes    "util")
set(QUOR_LAYER_ALLOWED_parallel "util")
set(QUOR_LAYER_ALLOWED_signal   "util;parallel")
set(QUOR_LAYER_ALLOWED_trace    "util;bytes;parallel;signal")
set(QUOR_LAYER_ALLOWED_formats  "util;bytes;parallel;signal;trace;fst_container")
set(QUOR_LAYER_ALLOWED_names    "util;signal;trace")
set(QUOR_LAYER_ALLOWED_eval     "util;parallel;signal;trace")
set(QUOR_LAYER_ALLOWED_query    "util;parallel;signal;trace;eval")
