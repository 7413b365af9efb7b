// A Stockham transform (each stage reads one buffer and writes the other in
// order, no bit reversal) on split real and imaginary parts, in four steps
// for long lengths. Every element goes through the same IEEE operations in
// the same order whichever vector width a build or a clone uses: the loops
// only run across independent columns.

#include "analyze/complex_fft.h"

#include <bit>
#include <algorithm>
#include <cstring>

#include "analyze/sine_phase.h"
#include "base/vector_clones.h"
#include "synth/tone_math.h"

using Complex = std::complex<double>;

namespace {

// Columns per block: 16 doubles make each butterfly loop two AVX-512
// vectors, and a block of 1024 rows (four buffers of 128 KB) stays in L2.
constexpr size_t BLOCK = 16;
// Below this a transform is one column: its data fit in the cache anyway.
constexpr size_t FOUR_STEPS_FROM = 4096;

// e^(-2 pi i e / n), its angle brought to at most an eighth of a turn by
// exact steps on integers: there the rounding of the angle errs least.
Complex Turn(size_t e, size_t n)
{
    const size_t quarters = 4 * e / n, r = 4 * e - quarters * n;  // the angle is (quarters + r / n) pi/2
    const bool over = 2 * r > n;                                  // pi/2 - (n - r) / n pi/2
    const double t = ANALYZE_TWO_PI / 4 * double(over ? n - r : r) / double(n);
    double c = over ? ToneSin(t) : ToneCos(t), s = over ? ToneCos(t) : ToneSin(t);
    for (size_t q = 0; q < quarters; ++q) {
        const double turned = -s;
        s = c;
        c = turned;
    }
    return {c, -s};
}

// One radix-4 stage (decimation in time): m groups of four rows of sw
// doubles, read at rows 4p ... 4p + 3, all but the first turned by
// w^(p j step) from the table (wr, wi), and written at rows p, p + m,
// p + 2m, p + 3m. Turning the inputs rather than the outputs (decimation in
// frequency) erred a little less against an exact DFT: RMS 2.4e-16 rather
// than 2.6e-16 of the outputs' RMS at 4096 points.
VECTOR_CLONES_512 void Radix4(const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                              double* __restrict yi, size_t m, size_t sw, const double* wr, const double* wi,
                              size_t step)
{
    for (size_t p = 0; p < m; ++p) {
        const double w1r = wr[p * step], w1i = wi[p * step];
        const double w2r = wr[2 * p * step], w2i = wi[2 * p * step];
        const double w3r = wr[3 * p * step], w3i = wi[3 * p * step];
        const double *ar = xr + 4 * p * sw, *ai = xi + 4 * p * sw;
        const double *br = ar + sw, *bi = ai + sw, *cr = br + sw, *ci = bi + sw, *dr = cr + sw, *di = ci + sw;
        double *y0r = yr + p * sw, *y0i = yi + p * sw;
        double *y1r = y0r + m * sw, *y1i = y0i + m * sw, *y2r = y1r + m * sw, *y2i = y1i + m * sw;
        double *y3r = y2r + m * sw, *y3i = y2i + m * sw;
        VECTOR_INDEPENDENT
        for (size_t e = 0; e < sw; ++e) {
            const double tbr = br[e] * w1r - bi[e] * w1i, tbi = br[e] * w1i + bi[e] * w1r;
            const double tcr = cr[e] * w2r - ci[e] * w2i, tci = cr[e] * w2i + ci[e] * w2r;
            const double tdr = dr[e] * w3r - di[e] * w3i, tdi = dr[e] * w3i + di[e] * w3r;
            const double apcr = ar[e] + tcr, apci = ai[e] + tci;
            const double amcr = ar[e] - tcr, amci = ai[e] - tci;
            const double bpdr = tbr + tdr, bpdi = tbi + tdi;
            const double bmdr = tbr - tdr, bmdi = tbi - tdi;
            // (a + c) +- (b + d), (a - c) -+ i (b - d)
            y0r[e] = apcr + bpdr;
            y0i[e] = apci + bpdi;
            y1r[e] = amcr + bmdi;
            y1i[e] = amci - bmdr;
            y2r[e] = apcr - bpdr;
            y2i[e] = apci - bpdi;
            y3r[e] = amcr - bmdi;
            y3i[e] = amci + bmdr;
        }
    }
}

VECTOR_CLONES_512 void Radix2(const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                              double* __restrict yi, size_t m, size_t sw, const double* wr, const double* wi,
                              size_t step)
{
    for (size_t p = 0; p < m; ++p) {
        const double w1r = wr[p * step], w1i = wi[p * step];
        const double *ar = xr + 2 * p * sw, *ai = xi + 2 * p * sw, *br = ar + sw, *bi = ai + sw;
        double *y0r = yr + p * sw, *y0i = yi + p * sw, *y1r = y0r + m * sw, *y1i = y0i + m * sw;
        VECTOR_INDEPENDENT
        for (size_t e = 0; e < sw; ++e) {
            const double tbr = br[e] * w1r - bi[e] * w1i, tbi = br[e] * w1i + bi[e] * w1r;
            y0r[e] = ar[e] + tbr;
            y0i[e] = ai[e] + tbi;
            y1r[e] = ar[e] - tbr;
            y1i[e] = ai[e] - tbi;
        }
    }
}

// Input rows j of a group turned by w^(p j step), into (tr, ti): the odd
// radices' first step, kept apart so that their butterflies stay short.
#define TURNED(j)                                                                         \
    [[maybe_unused]] const double w##j##r = wr[j * p * step], w##j##i = wi[j * p * step]; \
    const double *x##j##r = xr + (r * p + j) * sw, *x##j##i = xi + (r * p + j) * sw;      \
    double *y##j##r = yr + (p + j * m) * sw, *y##j##i = yi + (p + j * m) * sw

// A radix-3 stage: the same rows as Radix4's with three for four; c and s
// are the cosine and sine of a third of a turn.
VECTOR_CLONES_512 void Radix3(const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                              double* __restrict yi, size_t m, size_t sw, const double* wr, const double* wi,
                              size_t step, double c, double s)
{
    constexpr size_t r = 3;
    for (size_t p = 0; p < m; ++p) {
        TURNED(0);
        TURNED(1);
        TURNED(2);
        VECTOR_INDEPENDENT
        for (size_t e = 0; e < sw; ++e) {
            const double ar = x1r[e] * w1r - x1i[e] * w1i, ai = x1r[e] * w1i + x1i[e] * w1r;
            const double br = x2r[e] * w2r - x2i[e] * w2i, bi = x2r[e] * w2i + x2i[e] * w2r;
            const double tr = ar + br, ti = ai + bi, dr = s * (ar - br), di = s * (ai - bi);
            const double hr = x0r[e] + c * tr, hi = x0i[e] + c * ti;
            y0r[e] = x0r[e] + tr;
            y0i[e] = x0i[e] + ti;
            y1r[e] = hr + di;  // h -+ i s (a - b)
            y1i[e] = hi - dr;
            y2r[e] = hr - di;
            y2i[e] = hi + dr;
        }
    }
}

// A radix-5 stage; c1, s1 and c2, s2 the cosines and sines of one and two
// fifths of a turn.
VECTOR_CLONES_512 void Radix5(const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                              double* __restrict yi, size_t m, size_t sw, const double* wr, const double* wi,
                              size_t step, double c1, double s1, double c2, double s2)
{
    constexpr size_t r = 5;
    for (size_t p = 0; p < m; ++p) {
        TURNED(0);
        TURNED(1);
        TURNED(2);
        TURNED(3);
        TURNED(4);
        VECTOR_INDEPENDENT
        for (size_t e = 0; e < sw; ++e) {
            const double ar = x1r[e] * w1r - x1i[e] * w1i, ai = x1r[e] * w1i + x1i[e] * w1r;
            const double br = x2r[e] * w2r - x2i[e] * w2i, bi = x2r[e] * w2i + x2i[e] * w2r;
            const double cr = x3r[e] * w3r - x3i[e] * w3i, ci = x3r[e] * w3i + x3i[e] * w3r;
            const double dr = x4r[e] * w4r - x4i[e] * w4i, di = x4r[e] * w4i + x4i[e] * w4r;
            const double t1r = ar + dr, t1i = ai + di, t2r = br + cr, t2i = bi + ci;
            const double t3r = ar - dr, t3i = ai - di, t4r = br - cr, t4i = bi - ci;
            const double h1r = x0r[e] + c1 * t1r + c2 * t2r, h1i = x0i[e] + c1 * t1i + c2 * t2i;
            const double h2r = x0r[e] + c2 * t1r + c1 * t2r, h2i = x0i[e] + c2 * t1i + c1 * t2i;
            const double g1r = s1 * t3r + s2 * t4r, g1i = s1 * t3i + s2 * t4i;
            const double g2r = s2 * t3r - s1 * t4r, g2i = s2 * t3i - s1 * t4i;
            y0r[e] = x0r[e] + t1r + t2r;
            y0i[e] = x0i[e] + t1i + t2i;
            y1r[e] = h1r + g1i;  // h -+ i g
            y1i[e] = h1i - g1r;
            y4r[e] = h1r - g1i;
            y4i[e] = h1i + g1r;
            y2r[e] = h2r + g2i;
            y2i[e] = h2i - g2r;
            y3r[e] = h2r - g2i;
            y3i[e] = h2i + g2r;
        }
    }
}
#undef TURNED

// y += x w, the terms of an odd radix.
VECTOR_CLONES_512 void AddTurned(double* __restrict yr, double* __restrict yi, const double* __restrict xr,
                                 const double* __restrict xi, double wr, double wi, size_t sw)
{
    for (size_t e = 0; e < sw; ++e) {
        yr[e] += xr[e] * wr - xi[e] * wi;
        yi[e] += xr[e] * wi + xi[e] * wr;
    }
}

// A stage of any other odd radix r (none of the response's lengths has one): output row
// p + k m the sum over j of input row r p + j turned by w^(p j step) and by
// the r-th root of unity w^(j k length / r), both in one table entry.
void RadixOdd(const double* xr, const double* xi, double* yr, double* yi, size_t r, size_t m, size_t sw,
              const AnalyzeFftPlan::Columns& c, size_t step)
{
    const size_t root = c.length / r;
    for (size_t p = 0; p < m; ++p)
        for (size_t k = 0; k < r; ++k) {
            double *outr = yr + (p + k * m) * sw, *outi = yi + (p + k * m) * sw;
            std::memcpy(outr, xr + r * p * sw, sw * sizeof(double));
            std::memcpy(outi, xi + r * p * sw, sw * sizeof(double));
            for (size_t j = 1; j < r; ++j) {
                const size_t e = ((j * k % r) * root + p * j * step) % c.length;
                AddTurned(outr, outi, xr + (r * p + j) * sw, xi + (r * p + j) * sw, c.re[e], c.im[e], sw);
            }
        }
}

// Transforms the width columns in (ar, ai) by c's stages, using (br, bi)
// too; returns whether the result ends in (br, bi). The stages run from the
// last radix (rows the furthest apart) to the first.
bool Transform(const AnalyzeFftPlan::Columns& c, size_t width, double* ar, double* ai, double* br, double* bi)
{
    size_t s = c.length;
    bool inB = false;
    for (auto radix = c.radices.rbegin(); radix != c.radices.rend(); ++radix) {
        const size_t r = *radix;
        s /= r;
        const double *xr = inB ? br : ar, *xi = inB ? bi : ai;
        double *yr = inB ? ar : br, *yi = inB ? ai : bi;
        const size_t m = c.length / (s * r), sw = s * width;
        if (r == 4)
            Radix4(xr, xi, yr, yi, m, sw, c.re.data(), c.im.data(), s);
        else if (r == 2)
            Radix2(xr, xi, yr, yi, m, sw, c.re.data(), c.im.data(), s);
        else if (r == 3)
            Radix3(xr, xi, yr, yi, m, sw, c.re.data(), c.im.data(), s, c.re[c.length / 3],
                   -c.im[c.length / 3]);
        else if (r == 5)
            Radix5(xr, xi, yr, yi, m, sw, c.re.data(), c.im.data(), s, c.re[c.length / 5],
                   -c.im[c.length / 5], c.re[2 * c.length / 5], -c.im[2 * c.length / 5]);
        else
            RadixOdd(xr, xi, yr, yi, r, m, sw, c, s);
        inB = !inB;
    }
    return inB;
}

VECTOR_CLONES_512 void Split(const double* __restrict x, double* __restrict re, double* __restrict im,
                             size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        re[i] = x[2 * i];
        im[i] = x[2 * i + 1];
    }
}

// Interleaved again, the real parts times re, the imaginary ones times im
// (1 and 1, or a scale and its negative to conjugate): exact for 1 and -1.
VECTOR_CLONES_512 void Join(const double* __restrict re, const double* __restrict im, double* __restrict y,
                            size_t count, double reScale, double imScale)
{
    for (size_t i = 0; i < count; ++i) {
        y[2 * i] = re[i] * reScale;
        y[2 * i + 1] = im[i] * imScale;
    }
}

// Row k1 of a block whose first column is c0 turned by e^(-2 pi i k1 (c0 +
// c) / n): the block's factor for the row times the row's for column c.
VECTOR_CLONES_512 void TurnBlock(double* __restrict xr, double* __restrict xi, const double* __restrict inRe,
                                 const double* __restrict inIm, const double* blockRe, const double* blockIm,
                                 size_t rows)
{
    for (size_t k = 0; k < rows; ++k) {
        const double br = blockRe[k], bi = blockIm[k];
        for (size_t c = 0; c < BLOCK; ++c) {
            const size_t e = k * BLOCK + c;
            const double tr = br * inRe[e] - bi * inIm[e], ti = br * inIm[e] + bi * inRe[e];
            const double r = xr[e] * tr - xi[e] * ti;
            xi[e] = xr[e] * ti + xi[e] * tr;
            xr[e] = r;
        }
    }
}

// The radices of a length r 2^a: the odd r first, then fours, a two last.
AnalyzeFftPlan::Columns MakeColumns(size_t length)
{
    AnalyzeFftPlan::Columns c;
    c.length = length;
    const size_t odd = length >> std::countr_zero(length);
    if (odd > 1) c.radices.push_back(odd);
    size_t rest = length / odd;
    for (; rest % 4 == 0; rest /= 4)
        c.radices.push_back(4);
    if (rest == 2) c.radices.push_back(2);
    c.re.resize(length);
    c.im.resize(length);
    for (size_t e = 0; e < length; ++e) {
        const Complex w = Turn(e, length);
        c.re[e] = w.real();
        c.im[e] = w.imag();
    }
    return c;
}

}  // namespace

AnalyzeTwiddles::AnalyzeTwiddles(size_t n) : shift(size_t(std::bit_width(n > 1 ? n - 1 : 1) + 1) / 2)
{
    fine.resize(std::min(n, size_t(1) << shift));
    for (size_t e = 0; e < fine.size(); ++e)
        fine[e] = Turn(e, n);
    coarse.resize(((n - 1) >> shift) + 1);
    for (size_t e = 0; e < coarse.size(); ++e)
        coarse[e] = Turn(e << shift, n);
}

AnalyzeFftPlan::AnalyzeFftPlan(size_t n) : n(n), rows(n), columns(1)
{
    if (n == 0) return;
    const size_t a = size_t(std::countr_zero(n)), odd = n >> a;
    if (n >= FOUR_STEPS_FROM && a / 2 >= size_t(std::countr_zero(BLOCK))) {
        rows = odd << (a / 2);
        columns = n / rows;
        second = MakeColumns(columns);
        inBlockRe.resize(rows * BLOCK);
        inBlockIm.resize(rows * BLOCK);
        for (size_t k = 0; k < rows; ++k)
            for (size_t c = 0; c < BLOCK; ++c) {
                const Complex w = Turn(k * c, n);
                inBlockRe[k * BLOCK + c] = w.real();
                inBlockIm[k * BLOCK + c] = w.imag();
            }
        blockRe.resize(n / BLOCK);
        blockIm.resize(n / BLOCK);
        for (size_t b = 0; b < columns / BLOCK; ++b)
            for (size_t k = 0; k < rows; ++k) {
                const Complex w = Turn(k * b * BLOCK, n);
                blockRe[b * rows + k] = w.real();
                blockIm[b * rows + k] = w.imag();
            }
    }
    first = MakeColumns(rows);
}

void AnalyzeFftPlan::Forward(const Complex* in, Complex* out, std::vector<double>& scratch, double scale,
                             bool conjugate) const
{
    const double reScale = scale, imScale = conjugate ? -scale : scale;
    const auto* x = reinterpret_cast<const double*>(in);
    auto* y = reinterpret_cast<double*>(out);
    if (columns == 1) {
        if (scratch.size() < 4 * n) scratch.resize(4 * n);
        double *ar = scratch.data(), *ai = ar + n, *br = ai + n, *bi = br + n;
        Split(x, ar, ai, n);
        const bool inB = Transform(first, 1, ar, ai, br, bi);
        Join(inB ? br : ar, inB ? bi : ai, y, n, reScale, imScale);
        return;
    }
    const size_t span = std::max(rows, columns) * BLOCK;
    if (scratch.size() < 2 * n + 4 * span) scratch.resize(2 * n + 4 * span);
    double *tr = scratch.data(), *ti = tr + n;
    double *ar = ti + n, *ai = ar + span, *br = ai + span, *bi = br + span;
    // The columns' transforms, turned, stored transposed in tiles: BLOCK
    // rows k1 of every column j2 together, t[k1 / BLOCK][j2][k1 % BLOCK],
    // so that the rows' transforms find each block of rows in one piece.
    for (size_t c0 = 0; c0 < columns; c0 += BLOCK) {
        for (size_t j = 0; j < rows; ++j)
            Split(x + 2 * (j * columns + c0), ar + j * BLOCK, ai + j * BLOCK, BLOCK);
        const bool inB = Transform(first, BLOCK, ar, ai, br, bi);
        double *rr = inB ? br : ar, *ri = inB ? bi : ai;
        TurnBlock(rr, ri, inBlockRe.data(), inBlockIm.data(), blockRe.data() + c0 / BLOCK * rows,
                  blockIm.data() + c0 / BLOCK * rows, rows);
        for (size_t k0 = 0; k0 < rows; k0 += BLOCK) {
            double *toR = tr + k0 * columns + c0 * BLOCK, *toI = ti + k0 * columns + c0 * BLOCK;
            for (size_t c = 0; c < BLOCK; ++c)
                for (size_t k = 0; k < BLOCK; ++k) {
                    toR[c * BLOCK + k] = rr[(k0 + k) * BLOCK + c];
                    toI[c * BLOCK + k] = ri[(k0 + k) * BLOCK + c];
                }
        }
    }
    // The rows' transforms, BLOCK rows at a time as columns of t.
    for (size_t k0 = 0; k0 < rows; k0 += BLOCK) {
        double *pr = tr + k0 * columns, *pi = ti + k0 * columns;
        const bool inB = Transform(second, BLOCK, pr, pi, br, bi);
        const double *rr = inB ? br : pr, *ri = inB ? bi : pi;
        for (size_t k = 0; k < columns; ++k)
            Join(rr + k * BLOCK, ri + k * BLOCK, y + 2 * (k0 + rows * k), BLOCK, reScale, imScale);
    }
}
