#!/usr/bin/env python3
"""Prints the 5 x 5 median's networks of src/imaging/filter_median.cpp and proves them.

kSort5 sorts one padded column of five values; kMerge5 merges two neighbouring sorted columns
(rank k lands on wire kMerge5Rank[k]); kMedian25Sorted takes a window as two merged pairs
(wires 0..9 and 10..19, by rank) and one sorted column (20..24) to its median, on wire
kMedian25SortedOutput. The merges are Batcher's odd-even merges, padded to powers of two with
+infinity (whose comparators fall away or only relabel wires), and pruned backwards to the
comparators the outputs depend on: kind 1 keeps only the minimum, 2 only the maximum, 3 both.

A comparator network is right for all inputs when it is right for all inputs of zeros and ones
(the 0-1 principle); the inputs here are sorted runs, so every sorted 0-1 run is tried.
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


sort5 = [(i, j, 3) for i, j in [(0, 1), (3, 4), (2, 4), (2, 3), (1, 4), (0, 3), (0, 2), (1, 3), (1, 2)]]
assert all(run(sort5, bits) == sorted(bits) for bits in itertools.product([0, 1], repeat=5))

comps, merge5_rank = merge(range(5), range(5, 10))
merge5 = [(i, j, 3) for i, j in comps]
for a, b in itertools.product(runs(5), runs(5)):
    v = run(merge5, a + b)
    assert [v[w] for w in merge5_rank] == sorted(a + b)

pairs, by_rank = merge(range(10), range(10, 20))
last, by_rank = merge(by_rank, range(20, 25))
output = by_rank[12]
median25 = prune(pairs + last, [output])
for p, q, c in itertools.product(runs(10), runs(10), runs(5)):
    assert run(median25, p + q + c)[output] == sorted(p + q + c)[12]

print(table('kSort5', sort5))
print(table('kMerge5', merge5))
print('constexpr uint8_t kMerge5Rank[10] = {%s};' % ', '.join(map(str, merge5_rank)))
print('constexpr int32_t kMedian25SortedOutput = %d;' % output)
print(table('kMedian25Sorted', median25))
