#!/usr/bin/env python3
"""Prints the pair networks of the 3 x 3 to 11 x 11 medians of
src/imaging/filter_median_networks.cpp and proves them.

Two rows at a time, the windows of an n x n median share n - 1 rows: kSort<n-1> and
kMerge<n-1> (rank k on wire kMerge<n-1>Rank[k]) do their columns, and kShared<n(n-1)> takes
the shared values of a window (the merged pairs, then one sorted column) to the n + 1 ranks
that can still be the median once the row's own n values join (rank i of them on wire
kShared..Rank[i]). kFinal<2n+1> sorts a row's own values (wires n + 1 ..) and merges them
with those candidates (wires 0 .. n) as far as the median, on wire kFinal..Output. For 5 x 5:
kSort4, kMerge4, kShared20 (ranks 7..12 of 20) and kFinal11.

The shared values' sorted blocks merge as a balanced tree: for 7 x 7, the first two merged
pairs, the third with the sorted column, then the two results. From 7 x 7 up (5 x 5 in 32-bit
code only), kShared.. is then put in an order that keeps fewer wires alive at once (32-bit x86
has eight vector registers): each wire meets its comparators in the same order, so every
comparator sees the same values, and the order is proven again.

The merges are Batcher's odd-even merges, padded to powers of two with +infinity (whose
comparators fall away or only relabel wires), and pruned backwards to the comparators the
outputs depend on: kind 1 keeps only the minimum, 2 only the maximum, 3 both. Comparators, or
halves of them, that the sorted inputs make redundant are then dropped one at a time, each
drop proven (kShared20 loses 11 of its 78 minima and maxima, kShared72 149 of 622). Sizes
without a listed sorting network are sorted by Batcher's merge exchange.

A comparator network is right for all inputs when it is right for all inputs of zeros and ones
(the 0-1 principle); where the inputs are sorted runs, every sorted 0-1 run is tried, all at
once: each choice of runs is one bit of a Python integer per wire.
Usage: median_networks.py (prints the C++ tables; exits non-zero if a check fails). The 11 x 11
proofs take minutes and over a gigabyte: 21^5 x 11 choices of runs, a bit each per wire.
"""
import itertools
import random


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
    6: [(1, 2), (0, 2), (0, 1), (4, 5), (3, 5), (3, 4), (0, 3), (1, 4), (2, 5), (2, 4), (1, 3), (2, 3)],
    7: [(0, 6), (2, 3), (4, 5), (0, 2), (1, 4), (3, 6), (0, 1), (2, 5), (3, 4), (1, 2), (4, 6), (2, 3),
        (4, 5), (1, 2), (3, 4), (5, 6)],
    8: [(0, 2), (1, 3), (4, 6), (5, 7), (0, 4), (1, 5), (2, 6), (3, 7), (0, 1), (2, 3), (4, 5), (6, 7),
        (2, 4), (3, 5), (1, 4), (3, 6), (1, 2), (3, 4), (5, 6)],
    9: [(0, 3), (1, 7), (2, 5), (4, 8), (0, 7), (2, 4), (3, 8), (5, 6), (0, 2), (1, 3), (4, 5), (7, 8),
        (1, 4), (3, 6), (5, 7), (0, 1), (2, 4), (3, 5), (6, 8), (2, 3), (4, 5), (6, 7), (1, 2), (3, 4),
        (5, 6)],
}


def merge_exchange(n):
    """Batcher's merge exchange (Knuth's Algorithm 5.2.2M): sorts any n values in place."""
    t = (n - 1).bit_length()
    p, net = 1 << (t - 1), []
    while p > 0:
        q, r, d = 1 << (t - 1), 0, p
        while True:
            net += [(i, i + d) for i in range(n - d) if i & p == r]
            if q == p:
                break
            d, q, r = q - p, q // 2, p
        p //= 2
    return net


def sorter(n):
    return SORTS[n] if n in SORTS else merge_exchange(n)


def holds_on(start, expected, outputs):
    """A test of networks: bit c of each integer is one choice of inputs (start, a wire's value;
    expected, an output's), and minimum is and, maximum or."""
    def holds(net):
        wires = list(start)
        for i, j, kind in net:
            lo, hi = wires[i] & wires[j], wires[i] | wires[j]
            if kind & 1:
                wires[i] = lo
            if kind & 2:
                wires[j] = hi
        return [wires[w] for w in outputs] == expected
    return holds


def proof(lengths, outputs, first):
    """A test of networks that take sorted runs of these lengths on wires 0 .. (a free value is
    a run of one) and leave rank first + i of all the values on outputs[i], for every choice of
    sorted 0-1 runs at once."""
    cases = 1
    for n in lengths:
        cases *= n + 1
    start, stride = [], cases
    for n in lengths:  # choice c gives this run (c // stride) % (n + 1) zeros
        stride //= n + 1
        period = (n + 1) * stride
        repeat = ((1 << cases) - 1) // ((1 << period) - 1)
        start += [((1 << (j + 1) * stride) - 1) * repeat for j in range(n)]
    # Rank r of the values is 1 where at most r of them are 0. at_most[s]: the choices of the
    # runs taken so far (the last ones) with at most s zeros.
    top = first + len(outputs) - 1
    at_most, size = [1] * (top + 1), 1
    for n in reversed(lengths):
        at_most = [sum(at_most[s - k] << k * size for k in range(min(n, s) + 1)) for s in range(top + 1)]
        size *= n + 1
    return holds_on(start, at_most[first:], outputs)


def sample_proof(lengths, outputs, first, count=2048):
    """The test of proof on count choices drawn at random (seeded): a quick first check."""
    rng = random.Random(2)
    choices = [[rng.randint(0, n) for n in lengths] for _ in range(count)]

    def bits(test):
        return int(''.join('1' if test(c) else '0' for c in reversed(choices)), 2)
    start = [bits(lambda c, i=i, j=j: c[i] <= j) for i, n in enumerate(lengths) for j in range(n)]
    expected = [bits(lambda c, r=r: sum(c) <= r) for r in range(first, first + len(outputs))]
    return holds_on(start, expected, outputs)


def without_redundant(net, holds, likely=lambda net: True):
    """net less the comparators, or the halves of comparators, whose results its inputs make
    redundant (merges padded to powers of two leave some): each is dropped, last first, where
    holds still proves the network."""
    net = list(net)
    for i in reversed(range(len(net))):
        a, b, kind = net[i]
        for lighter in [[]] + ([[(a, b, 1)], [(a, b, 2)]] if kind == 3 else []):
            trial = net[:i] + lighter + net[i + 1:]
            if likely(trial) and holds(trial):
                net[i:i + 1] = lighter
                break
    return net


def traffic(net, registers, outputs):
    """Loads and stores of net with this many registers: each wire is loaded where it is first
    used, and the register to free is the one whose wire is used again last."""
    uses = {}
    for i, (a, b, _) in enumerate(net):
        uses.setdefault(a, []).append(i)
        uses.setdefault(b, []).append(i)

    def next_use(w, i):
        later = [t for t in uses[w] if t >= i]
        return later[0] if later else (10**8 if w in outputs else 10**9)

    held, loads, stores = {}, 0, 0  # wire -> changed since loaded
    for i, (a, b, kind) in enumerate(net):
        for w in (a, b):
            if w not in held:
                loads += 1
                if len(held) >= registers:
                    out = max((x for x in held if x not in (a, b)), key=lambda x: next_use(x, i))
                    stores += held.pop(out) and next_use(out, i) < 10**9
                held[w] = False
        held[a] |= bool(kind & 1)
        held[b] |= bool(kind & 2)
        for w in (a, b):
            if next_use(w, i + 1) == 10**9:
                del held[w]
    return loads + stores


def fewer_live_wires(net, registers, outputs, tries=400):
    """net reordered to need less traffic (above): comparators are taken greedily, those whose
    wires were used last first, ties broken at random (seeded, so the output is fixed). Each
    wire keeps the order of its comparators."""
    before, after, last = [0] * len(net), [[] for _ in net], {}
    for i, (a, b, _) in enumerate(net):
        for p in {last[w] for w in (a, b) if w in last}:
            before[i] += 1
            after[p].append(i)
        last[a] = last[b] = i
    rng = random.Random(1)
    best, least = net, traffic(net, registers, outputs)
    for attempt in range(tries):
        waiting = list(before)
        ready = [i for i in range(len(net)) if not waiting[i]]
        used, order = {}, []
        while ready:
            t = len(order)

            def key(i):
                a, b, _ = net[i]
                ua, ub = used.get(a, -10**6), used.get(b, -10**6)
                return (-((t - ua < registers) + (t - ub < registers)), -(ua + ub),
                        rng.random() if attempt else i)

            i = min(ready, key=key)
            ready.remove(i)
            order.append(i)
            used[net[i][0]] = used[net[i][1]] = t
            for j in after[i]:
                waiting[j] -= 1
                if not waiting[j]:
                    ready.append(j)
        candidate = [net[i] for i in order]
        cost = traffic(candidate, registers, outputs)
        if cost < least:
            best, least = candidate, cost
    return best


def pair_networks(n):
    """The n x n pair's tables: (sort, merge, merge ranks, shared, candidates, final, output)."""
    r = n - 1  # shared rows
    k = n * n // 2  # the median's rank in a window
    sort = [(i, j, 3) for i, j in sorter(r)]
    assert sorts(sort, r)
    comps, merge_rank = merge(range(r), range(r, 2 * r))
    merged = [(i, j, 3) for i, j in comps]
    for a, b in itertools.product(runs(r), runs(r)):
        v = run(merged, a + b)
        assert [v[w] for w in merge_rank] == sorted(a + b)

    # A window's shared values: n // 2 merged pairs (2 r wires each), then one sorted column,
    # merged two blocks at a time.
    width = 2 * r * (n // 2)
    blocks = [list(range(2 * r * b, 2 * r * (b + 1))) for b in range(n // 2)] + [list(range(width, width + r))]
    comps = []
    while len(blocks) > 1:
        level = []
        for i in range(0, len(blocks) - 1, 2):
            more, block = merge(blocks[i], blocks[i + 1])
            comps += more
            level.append(block)
        blocks = level + blocks[len(blocks) // 2 * 2:]
    by_rank = blocks[0]
    first = k - n  # the n values a row adds can move the median by n ranks at most
    candidates = by_rank[first:k + 1]
    runs_in = [2 * r] * (n // 2) + [r]
    holds = proof(runs_in, candidates, first)
    shared = without_redundant(prune(comps, candidates), holds, sample_proof(runs_in, candidates, first))
    # In an order for eight vector registers (one of them a comparator's temporary): from 7 x 7
    # up on every width; 5 x 5 only in 32-bit code, as x86_64 runs its merge order faster.
    narrow = fewer_live_wires(shared, 7, set(candidates)) if n >= 5 else shared
    if n >= 7:
        shared = narrow
    assert holds(shared) and holds(narrow)

    # A row's own n values (wires n + 1 ..) sorted and merged with the candidates (0 .. n).
    own = [(i + n + 1, j + n + 1) for i, j in sorter(n)]
    comps, by_rank = merge(range(n + 1), range(n + 1, 2 * n + 1))
    output = by_rank[n]
    holds = proof([n + 1] + [1] * n, [output], n)
    final = without_redundant(prune(own + comps, [output]), holds)
    assert holds(final)
    return sort, merged, merge_rank, shared, narrow, candidates, final, output


for n in (3, 5, 7, 9, 11):
    sort, merged, merge_rank, shared, narrow, candidates, final, output = pair_networks(n)
    r = n - 1
    print(table('kSort%d' % r, sort))
    print(table('kMerge%d' % r, merged))
    print('constexpr uint8_t kMerge%dRank[%d] = {%s};' % (r, 2 * r, ', '.join(map(str, merge_rank))))
    if narrow == shared:
        print(table('kShared%d' % (n * r), shared))
    else:
        print('#if NYRA_WIDE_REGISTERS\n%s\n#else\n%s\n#endif' % (table('kShared%d' % (n * r), shared),
                                                            table('kShared%d' % (n * r), narrow)))
    print('constexpr uint8_t kShared%dRank[%d] = {%s};' % (n * r, n + 1, ', '.join(map(str, candidates))))
    print(table('kFinal%d' % (2 * n + 1), final))
    print('constexpr int32_t kFinal%dOutput = %d;' % (2 * n + 1, output))
