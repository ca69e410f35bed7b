#!/usr/bin/env python3
"""Prints the 3 x 3 and 5 x 5 medians' networks of src/imaging/filter_median.cpp and proves them.

Two rows at a time, the windows of an n x n median share n - 1 rows: kSort<n-1> and
kMerge<n-1> (rank k on wire kMerge<n-1>Rank[k]) do their columns, and kShared<n(n-1)> takes
the shared values of a window (the merged pairs, then one sorted column) to the n + 1 ranks
that can still be the median once the row's own n values join (rank i of them on wire
kShared..Rank[i]). kFinal<2n+1> sorts a row's own values (wires n + 1 ..) and merges them
with those candidates (wires 0 .. n) as far as the median, on wire kFinal..Output. For 5 x 5:
kSort4, kMerge4, kShared20 (ranks 7..12 of 20) and kFinal11.

The merges are Batcher's odd-even merges, padded to powers of two with +infinity (whose
comparators fall away or only relabel wires), and pruned backwards to the comparators the
outputs depend on: kind 1 keeps only the minimum, 2 only the maximum, 3 both.

A comparator network is right for all inputs when it is right for all inputs of zeros and ones
(the 0-1 principle); where the inputs are sorted runs, every sorted 0-1 run is tried.
Usage: median_networks.py (prints the C++ tables; exits non-zero if a check fails)
"""
import itertools


def oddeven_merge(lo, n, r):
    step = r * 2
    if step < n:
        yield from oddeven_merge(lo, n, step)
        yield from oddeven_merge(lo + r, n, step)
        for i in range(lo + r, lo + n - r, step):
            yield (i, i + r)
    else:
        yield (lo, lo + r)


def merge(a, b):
    """Merges sorted wire lists a and b: (comparators, the wires in rank order)."""
    p = 1
    while p < max(len(a), len(b)):
        p *= 2
    wire = list(a) + [None] * (p - len(a)) + list(b) + [None] * (p - len(b))  # None: +infinity
    comps = []
    for i, j in oddeven_merge(0, 2 * p, 1):
        if wire[j] is None:
            continue
        if wire[i] is None:
            wire[i], wire[j] = wire[j], None
            continue
        comps.append((wire[i], wire[j]))
    return comps, wire[:len(a) + len(b)]


def prune(comps, outputs):
    needed, kept = set(outputs), []
    for i, j in reversed(comps):
        kind = (1 if i in needed else 0) | (2 if j in needed else 0)
        if kind:
            kept.append((i, j, kind))
            needed |= {i, j}
    return kept[::-1]


def run(net, values):
    v = list(values)
    for i, j, kind in net:
        lo, hi = min(v[i], v[j]), max(v[i], v[j])
        if kind & 1:
            v[i] = lo
        if kind & 2:
            v[j] = hi
    return v


def runs(n):
    return [[0] * k + [1] * (n - k) for k in range(n + 1)]


def table(name, net):
    return 'constexpr Exchange %s[] = {%s};' % (name, ', '.join('{%d, %d, %d}' % e for e in net))


def sorts(net, n):
    return all(run(net, bits) == sorted(bits) for bits in itertools.product([0, 1], repeat=n))


# Sorting networks for the columns of the shared rows (n - 1 values) and a row's own n values.
SORTS = {
    2: [(0, 1)],
    3: [(0, 1), (1, 2), (0, 1)],
    4: [(0, 1), (2, 3), (0, 2), (1, 3), (1, 2)],
    5: [(0, 1), (3, 4), (2, 4), (2, 3), (1, 4), (0, 3), (0, 2), (1, 3), (1, 2)],
}


def pair_networks(n):
    """The n x n pair's tables: (sort, merge, merge ranks, shared, candidates, final, output)."""
    r = n - 1  # shared rows
    k = n * n // 2  # the median's rank in a window
    sort = [(i, j, 3) for i, j in SORTS[r]]
    assert sorts(sort, r)
    comps, merge_rank = merge(range(r), range(r, 2 * r))
    merged = [(i, j, 3) for i, j in comps]
    for a, b in itertools.product(runs(r), runs(r)):
        v = run(merged, a + b)
        assert [v[w] for w in merge_rank] == sorted(a + b)

    # A window's shared values: n // 2 merged pairs (2 r wires each), then one sorted column.
    comps, by_rank = [], list(range(2 * r))
    for b in range(1, n // 2):
        more, by_rank = merge(by_rank, range(2 * r * b, 2 * r * (b + 1)))
        comps += more
    width = 2 * r * (n // 2)
    more, by_rank = merge(by_rank, range(width, width + r))
    comps += more
    first = k - n  # the n values a row adds can move the median by n ranks at most
    candidates = by_rank[first:k + 1]
    shared = prune(comps, candidates)
    for parts in itertools.product(*[runs(2 * r)] * (n // 2), runs(r)):
        values = sum(parts, [])
        v = run(shared, values)
        assert [v[w] for w in candidates] == sorted(values)[first:k + 1]

    # A row's own n values (wires n + 1 ..) sorted and merged with the candidates (0 .. n).
    own = [(i + n + 1, j + n + 1) for i, j in SORTS[n]]
    comps, by_rank = merge(range(n + 1), range(n + 1, 2 * n + 1))
    output = by_rank[n]
    final = prune(own + comps, [output])
    for c in runs(n + 1):
        for bits in itertools.product([0, 1], repeat=n):
            assert run(final, c + list(bits))[output] == sorted(c + list(bits))[n]
    return sort, merged, merge_rank, shared, candidates, final, output


for n in (3, 5):
    sort, merged, merge_rank, shared, candidates, final, output = pair_networks(n)
    r = n - 1
    print(table('kSort%d' % r, sort))
    print(table('kMerge%d' % r, merged))
    print('constexpr uint8_t kMerge%dRank[%d] = {%s};' % (r, 2 * r, ', '.join(map(str, merge_rank))))
    print(table('kShared%d' % (n * r), shared))
    print('constexpr uint8_t kShared%dRank[%d] = {%s};' % (n * r, n + 1, ', '.join(map(str, candidates))))
    print(table('kFinal%d' % (2 * n + 1), final))
    print('constexpr int32_t kFinal%dOutput = %d;' % (2 * n + 1, output))
