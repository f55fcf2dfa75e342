"""The names closest to a mistyped one, for the command's error messages."""

from __future__ import annotations

import bisect
import difflib
from typing import List, Sequence

# difflib compares some 50,000 short words a second. More distinct last elements than this are
# narrowed first to those that sort next to the word, forwards (a shared start) and backwards
# (a shared end), so a typo among a million distinct names costs seconds, not minutes.
_MAX_COMPARED = 20_000


def _neighbours(word: str, words: List[str]) -> List[str]:
    """The words that sort nearest to word, forwards and backwards; at most _MAX_COMPARED."""
    half = _MAX_COMPARED // 4
    forwards = sorted(words)
    at = bisect.bisect_left(forwards, word)
    out = forwards[max(0, at - half) : at + half]
    backwards = sorted(w[::-1] for w in words)
    at = bisect.bisect_left(backwards, word[::-1])
    out.extend(w[::-1] for w in backwards[max(0, at - half) : at + half])
    return out


def _alike(word: str, words: List[str], limit: int, cutoff: float) -> List[str]:
    if len(words) > _MAX_COMPARED:
        words = _neighbours(word, words)
    return difflib.get_close_matches(word, words, limit, cutoff)


def close_names(word: str, names: Sequence[str], limit: int = 3) -> List[str]:
    """Up to limit names that look most like word, best first.

    Names are compared by their last element (case aside). One whose last element is word's is
    the short name given without its scope, or a typo in a scope, and is offered first; else
    the names whose last element is spelled like word's."""
    if not names:
        return []
    lowered = "\n".join(names).lower().split("\n")
    if len(lowered) != len(names):  # a name holding a line break: compare them one by one
        lowered = [n.lower() for n in names]
    leaves = [n[n.rfind(".") + 1 :] for n in lowered]
    lowered_word = word.lower()
    leaf = lowered_word[lowered_word.rfind(".") + 1 :]
    distinct = set(leaves)
    wanted = {leaf} if leaf in distinct else set(_alike(leaf, list(distinct), limit, 0.6))
    pool = [names[i] for i, lf in enumerate(leaves) if lf in wanted]
    if len(pool) <= limit and leaf in wanted:
        return pool
    return _alike(word, pool, limit, 0.0)


def did_you_mean(word: str, names: Sequence[str]) -> str:
    """'; did you mean a, b?' for the closest names, or '' when none is close."""
    found = close_names(word, names)
    return f"; did you mean {', '.join(found)}?" if found else ""
