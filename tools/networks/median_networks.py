#!/usr/bin/env python3
"""Prints the 5 x 5 median's networks of src/imaging/filter_median.cpp and proves them.

Two rows at a time, the windows share four rows: kSort4 and kMerge4 (rank k on wire
kMerge4Rank[k]) do their columns, and kShared20 takes the 20 shared values of a window (two
merged pairs, wires 0..7 and 8..15, and one sorted column, 16..19) to their ranks 7..12 (rank
7 + i on wire kShared20Rank[i]), the only ones that can be the median once five more values
join. kFinal11 sorts a row's own five values (wires 6..10) and merges them with those six
candidates (wires 0..5) as far as the median, on wire kFinal11Output.

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


sort5 = [(i, j, 3) for i, j in [(0, 1), (3, 4), (2, 4), (2, 3), (1, 4), (0, 3), (0, 2), (1, 3), (1, 2)]]
assert all(run(sort5, bits) == sorted(bits) for bits in itertools.product([0, 1], repeat=5))

sort4 = [(0, 1, 3), (2, 3, 3), (0, 2, 3), (1, 3, 3), (1, 2, 3)]
assert all(run(sort4, bits) == sorted(bits) for bits in itertools.product([0, 1], repeat=4))

comps, merge4_rank = merge(range(4), range(4, 8))
merge4 = [(i, j, 3) for i, j in comps]
for a, b in itertools.product(runs(4), runs(4)):
    v = run(merge4, a + b)
    assert [v[w] for w in merge4_rank] == sorted(a + b)

pairs, by_rank = merge(range(8), range(8, 16))
last, by_rank = merge(by_rank, range(16, 20))
shared20_rank = by_rank[7:13]
shared20 = prune(pairs + last, shared20_rank)
for p, q, c in itertools.product(runs(8), runs(8), runs(4)):
    v = run(shared20, p + q + c)
    assert [v[w] for w in shared20_rank] == sorted(p + q + c)[7:13]

own = [(i + 6, j + 6) for i, j, _ in sort5]
comps, by_rank = merge(range(6), range(6, 11))
final11_output = by_rank[5]
final11 = prune(own + comps, [final11_output])
for c in runs(6):
    for bits in itertools.product([0, 1], repeat=5):
        assert run(final11, c + list(bits))[final11_output] == sorted(c + list(bits))[5]

print(table('kSort4', sort4))
print(table('kMerge4', merge4))
print('constexpr uint8_t kMerge4Rank[8] = {%s};' % ', '.join(map(str, merge4_rank)))
print(table('kShared20', shared20))
print('constexpr uint8_t kShared20Rank[6] = {%s};' % ', '.join(map(str, shared20_rank)))
print(table('kFinal11', final11))
print('constexpr int32_t kFinal11Output = %d;' % final11_output)
