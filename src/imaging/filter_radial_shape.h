// The integer skeleton of a radial convolution (filter_convolve_radial.cpp): which neighbours
// of an n x n window share a squared distance (a class), which classes are added as scaled
// integers before one product (a group), and the vertical pair sums (terms) each class reads.
// It depends on n alone, so it is built at compile time for the common masks and at run time
// for the others, by the same code. Internal to imaging/.
#pragma once
#include <cstdint>

// A class: the neighbours at offsets (+-a, +-b) and (+-b, +-a), a >= b >= 0, of one squared
// distance. Merged groups: classes whose distances are integer multiples m of one root sqrt(q)
// have weights c / (m sqrt q) under the Sharpen kernel, so each class sum is scaled by
// lcm / m and the group costs one product by c / (lcm sqrt q). A term is one vertical pair
// sum (rows y - row and y + row, or row y alone for row 0) at a column offset.
template <int32_t H>
struct RadialShape {
    static constexpr int32_t kPairs = (H + 1) * (H + 2) / 2;
    static constexpr int32_t kTerms = 4 * kPairs;

    int32_t classCount, groupCount, termCount;
    // Classes are listed group by group (the order the sums are taken in).
    int32_t groupClassEnd[kPairs];
    int32_t classGroup[kPairs];
    int32_t classTermEnd[kPairs];
    int32_t classMultiple[kPairs];           // lcm / m
    int32_t classA[kPairs], classB[kPairs];  // one neighbour offset of the class
    int32_t classRoot[kPairs];               // m
    int64_t groupLcm[kPairs];
    int32_t termClass[kTerms];
    int32_t termRow[kTerms], termColumn[kTerms];

    // Scratch of the builder.
    int32_t pairA[kPairs], pairB[kPairs], pairDist[kPairs], order[kPairs];
    int32_t classFirstPair[kPairs + 1];
    int32_t groupOf[kPairs], rootOf[kPairs], groupFill[kPairs], emitted[kPairs];
    int64_t groupLoad[kPairs];  // pixels x multiple over the group's classes
    int32_t lastGroupOfRadicand[2 * H * H + 1];
};

namespace radial_shape {

// d2 = m * m * q with q free of squares.
constexpr void SplitSquare(int32_t d2, int32_t* q, int32_t* m)
{
    int32_t root = 1;
    for (int32_t k = 2; k * k <= d2; k++) {
        while (d2 % (k * k) == 0) {
            d2 /= k * k;
            root *= k;
        }
    }
    *q = d2;
    *m = root;
}

constexpr int64_t Gcd(int64_t a, int64_t b)
{
    while (b) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

constexpr int32_t PixelsOfPair(int32_t a, int32_t b)
{
    return a == 0 ? 1 : (b == 0 || a == b) ? 4 : 8;
}

}  // namespace radial_shape

// The shape for mask n (odd, n / 2 <= H): classes by distance, grouped by root (merge) or one
// group per class. A group's integer sum stays below 2^31 for any 16-bit pixels.
template <int32_t H>
constexpr void BuildRadialShape(int32_t n, bool merge, RadialShape<H>* s)
{
    using namespace radial_shape;
    const int32_t h = n / 2;
    int32_t pairs = 0;
    for (int32_t a = 0; a <= h; a++) {
        for (int32_t b = 0; b <= a; b++) {
            s->pairA[pairs] = a;
            s->pairB[pairs] = b;
            s->pairDist[pairs] = a * a + b * b;
            s->order[pairs] = pairs;
            pairs++;
        }
    }
    // By distance, ties in the order above (an insertion sort: stable, and usable here).
    for (int32_t i = 1; i < pairs; i++) {
        const int32_t p = s->order[i];
        int32_t j = i;
        for (; j > 0 && s->pairDist[s->order[j - 1]] > s->pairDist[p]; j--)
            s->order[j] = s->order[j - 1];
        s->order[j] = p;
    }
    int32_t classes = 0;
    for (int32_t i = 0; i < pairs; i++) {
        if (i == 0 || s->pairDist[s->order[i]] != s->pairDist[s->order[i - 1]])
            s->classFirstPair[classes++] = i;
    }
    s->classFirstPair[classes] = pairs;

    int32_t groups = 0;
    for (int32_t q = 0; q <= 2 * h * h; q++)
        s->lastGroupOfRadicand[q] = -1;
    for (int32_t c = 0; c < classes; c++) {
        const int32_t d2 = s->pairDist[s->order[s->classFirstPair[c]]];
        int64_t pixels = 0;
        for (int32_t i = s->classFirstPair[c]; i < s->classFirstPair[c + 1]; i++)
            pixels += PixelsOfPair(s->pairA[s->order[i]], s->pairB[s->order[i]]);
        int32_t q = 0, m = 1;
        SplitSquare(d2, &q, &m);
        if (!merge)
            m = 1;
        s->rootOf[c] = m;
        int32_t g = merge && d2 > 0 ? s->lastGroupOfRadicand[q] : -1;
        if (g >= 0) {
            const int64_t lcm = s->groupLcm[g] / Gcd(s->groupLcm[g], m) * m;
            const int64_t load = s->groupLoad[g] * (lcm / s->groupLcm[g]) + pixels * (lcm / m);
            if (lcm <= 65536 && load <= INT32_MAX / 65535) {
                s->groupLcm[g] = lcm;
                s->groupLoad[g] = load;
            } else {
                g = -1;
            }
        }
        if (g < 0) {
            g = groups++;
            if (merge && d2 > 0)
                s->lastGroupOfRadicand[q] = g;
            s->groupLcm[g] = m;
            s->groupLoad[g] = pixels;
        }
        s->groupOf[c] = g;
    }

    // The classes group by group, in order of each group's first class.
    for (int32_t g = 0; g < groups; g++)
        s->groupFill[g] = 0;
    for (int32_t c = 0; c < classes; c++)
        s->groupFill[s->groupOf[c]]++;
    for (int32_t g = 0, start = 0; g < groups; g++) {
        const int32_t count = s->groupFill[g];
        s->groupFill[g] = start;  // next free slot of the group
        start += count;
        s->groupClassEnd[g] = start;
    }
    for (int32_t c = 0; c < classes; c++)
        s->emitted[s->groupFill[s->groupOf[c]]++] = c;
    int32_t terms = 0;
    for (int32_t e = 0; e < classes; e++) {
        const int32_t c = s->emitted[e];
        const int32_t first = s->order[s->classFirstPair[c]];
        s->classA[e] = s->pairA[first];
        s->classB[e] = s->pairB[first];
        s->classRoot[e] = s->rootOf[c];
        s->classGroup[e] = s->groupOf[c];
        s->classMultiple[e] = (int32_t)(s->groupLcm[s->groupOf[c]] / s->rootOf[c]);
        for (int32_t i = s->classFirstPair[c]; i < s->classFirstPair[c + 1]; i++) {
            const int32_t a = s->pairA[s->order[i]], b = s->pairB[s->order[i]];
            // (row, column) of each vertical pair sum the pair's neighbours lie in
            const int32_t at[4][2] = {{a, -b}, {a, b}, {b, -a}, {b, a}};
            const int32_t count = a == 0 ? 1 : b == 0 ? 3 : a == b ? 2 : 4;
            const int32_t axis[3][2] = {{a, 0}, {0, -a}, {0, a}};
            for (int32_t k = 0; k < count; k++) {
                const int32_t* rc = a == 0 ? axis[0] : b == 0 ? axis[k] : at[k];
                s->termClass[terms] = e;
                s->termRow[terms] = rc[0];
                s->termColumn[terms] = rc[1];
                terms++;
            }
        }
        s->classTermEnd[e] = terms;
    }
    s->classCount = classes;
    s->groupCount = groups;
    s->termCount = terms;
}

template <int32_t H>
constexpr RadialShape<H> MakeRadialShape(int32_t n)
{
    RadialShape<H> s{};
    BuildRadialShape(n, true, &s);
    return s;
}
