// Fades found from their shape: the envelope of the samples around a fade is
// fitted, by Levenberg-Marquardt, with each of a few fade shapes (Calyx's
// Blackman half-window, a raised cosine, a quarter sine, an inverted
// parabola, a straight line),
// and the best one says where the fade starts from zero and where it reaches
// full level. This puts a fade's zero between samples, where the first
// sample above the noise can be several samples late.

#include "analyze/fade_fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analyze/pass.h"
#include "analyze/sine_phase.h"
#include "base/checked_index.h"

namespace {

constexpr uint64_t POINTS_MAX = 4096;
constexpr int LM_ITERATIONS = 80;
const char* const SHAPES[] = {"Blackman", "raised cosine", "quarter sine", "parabola", "linear"};
constexpr int SHAPE_COUNT = 5;
// A unit sine's mean square is 1/2; over any cycle its samples hold at least this.
constexpr double MEAN_SQUARE_MIN = 0.25;
constexpr double SAMPLES_PER_CYCLE_ENOUGH = 256;

// The envelope around a fade, one point per run of q frames: P = sum of
// (x - offset) s and W = sum of s^2, s the fitted unit sine, so that P / W
// estimates the envelope at the run's centre n with weight W.
struct Point {
    double n, p, w;
};

// Gain and its derivative of a shape at u, 0 before 0 and 1 after 1.
void Shape(int shape, double u, double& g, double& dg)
{
    if (u <= 0.0 || u >= 1.0) {
        g = u <= 0.0 ? 0.0 : 1.0;
        dg = 0.0;
        return;
    }
    const double pi = ANALYZE_TWO_PI / 2;
    switch (shape) {
        case 0: {
            const double c = std::cos(pi * u);
            const double s = std::sin(pi * u);
            g = 0.42 - 0.5 * c + 0.08 * (2 * c * c - 1);
            dg = pi * (0.5 * s - 0.32 * c * s);
            return;
        }
        case 1:
            g = 0.5 - 0.5 * std::cos(pi * u);
            dg = 0.5 * pi * std::sin(pi * u);
            return;
        case 2:
            g = std::sin(pi / 2 * u);
            dg = pi / 2 * std::cos(pi / 2 * u);
            return;
        case 3:  // an inverted parabola
            g = u * (2 - u);
            dg = 2 - 2 * u;
            return;
        default:
            g = u;
            dg = 1.0;
            return;
    }
}

// Weighted squared error of amplitude amp and a fade from start to full.
double Cost(const std::vector<Point>& pts, int shape, double amp, double start, double full)
{
    const double len = full - start;
    double cost = 0;
    for (const Point& q : pts) {
        double g, dg;
        Shape(shape, (q.n - start) / len, g, dg);
        // w (p/w - amp g)^2 without dividing by a small w.
        cost += amp * g * (amp * g * q.w - 2 * q.p);
    }
    return cost;
}

struct Fit {
    double amp, start, full, cost;
};

double Det3(const double m[3][3])
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The normal equations of the residuals sqrt(w) (p/w - amp g(u)) of a fit
// in (amp, start, full): J^T J and its right side J^T r, and the residuals'
// sum of squares over the points used.
void NormalEquations(const std::vector<Point>& pts, int shape, const Fit& f, double jj[3][3], double jr[3],
                     double& squares, size_t& used)
{
    for (int i = 0; i < 3; ++i) {
        jr[i] = 0;
        for (int k = 0; k < 3; ++k)
            jj[i][k] = 0;
    }
    squares = 0;
    used = 0;
    const double len = f.full - f.start;
    for (const Point& q : pts) {
        if (!(q.w > 0)) continue;
        double g, dg;
        const double u = (q.n - f.start) / len;
        Shape(shape, u, g, dg);
        const double sw = std::sqrt(q.w);
        const double res = q.p / sw - f.amp * g * sw;
        squares += res * res;
        ++used;
        const double d[3] = {g * sw, f.amp * dg * sw * (u - 1) / len, -f.amp * dg * sw * u / len};
        for (int i = 0; i < 3; ++i) {
            jr[i] += d[i] * res;
            for (int k = 0; k < 3; ++k)
                jj[i][k] += d[i] * d[k];
        }
    }
}

// The variances of a fit's start and full level: the diagonal of
// (J^T J)^-1 at the fit, J the derivatives of the residuals
// sqrt(w) (p/w - amp g), times their variance as the fit leaves them (which
// holds the shape's misfit and any distortion, not the noise alone).
void Variances(const std::vector<Point>& pts, int shape, const Fit& f, double& start, double& full)
{
    double jj[3][3], jr[3], squares;
    size_t used;
    NormalEquations(pts, shape, f, jj, jr, squares, used);
    const double det = Det3(jj);
    const double inf = std::numeric_limits<double>::infinity();
    start = std::fabs(det) > 0 ? (jj[0][0] * jj[2][2] - jj[0][2] * jj[2][0]) / det : inf;
    full = std::fabs(det) > 0 ? (jj[0][0] * jj[1][1] - jj[0][1] * jj[1][0]) / det : inf;
    const double scale = used > 3 ? squares / double(used - 3) : inf;
    start *= scale;
    full *= scale;
    if (!(start >= 0)) start = inf;
    if (!(full >= 0)) full = inf;
}

Fit FitShape(const std::vector<Point>& pts, int shape, double amp, double start, double full, double minStart,
             double minLength)
{
    Fit f{amp, start, full, Cost(pts, shape, amp, start, full)};
    double lambda = 1e-3;
    for (int it = 0; it < LM_ITERATIONS; ++it) {
        double jj[3][3], jr[3], squares;
        size_t used;
        NormalEquations(pts, shape, f, jj, jr, squares, used);
        bool improved = false;
        for (int tries = 0; tries < 12 && !improved; ++tries) {
            double a[3][3];
            std::memcpy(a, jj, sizeof a);
            for (int i = 0; i < 3; ++i)
                a[i][i] += lambda * (jj[i][i] > 0 ? jj[i][i] : 1.0);
            // Cramer's rule on the 3 x 3 system.
            const double d0 = Det3(a);
            if (!(std::fabs(d0) > 0)) break;
            double step[3];
            for (int c = 0; c < 3; ++c) {
                double m[3][3];
                std::memcpy(m, a, sizeof m);
                for (int i = 0; i < 3; ++i)
                    m[i][c] = jr[i];
                step[c] = Det3(m) / d0;
            }
            Fit t{f.amp + step[0], std::max(minStart, f.start + step[1]), f.full + step[2], 0};
            if (t.full < t.start + minLength) t.full = t.start + minLength;
            t.cost = Cost(pts, shape, t.amp, t.start, t.full);
            if (t.cost < f.cost) {
                const double moved = std::fabs(t.start - f.start) + std::fabs(t.full - f.full);
                f = t;
                lambda = std::max(lambda / 4, 1e-9);
                improved = true;
                if (moved < 1e-6 && lambda < 1e-3)
                    return f;  // a small step of a damped solve is no sign of the end
            } else {
                lambda *= 8;
            }
        }
        if (!improved) break;
    }
    return f;
}

}  // namespace

double AnalyzeFadeGain(const char* shape, double u)
{
    // The names are the table's own pointers: found without comparing text.
    int index = SHAPE_COUNT - 1;
    for (int i = 0; i < SHAPE_COUNT; ++i)
        if (shape == SHAPES[i] || std::strcmp(shape, SHAPES[i]) == 0) {
            index = i;
            break;
        }
    double g, dg;
    Shape(index, u, g, dg);
    return g;
}

double AnalyzeFadeReach(const char* shape, double g)
{
    double lo = 0, hi = 1;
    for (int b = 0; b < 50; ++b) {  // every shape rises monotonically
        const double mid = (lo + hi) / 2;
        (AnalyzeFadeGain(shape, mid) < g ? lo : hi) = mid;
    }
    return lo;
}

AnalyzeFade AnalyzeFitFade(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                           const AnalyzeSine& sine, bool fadeOut, std::vector<double>& buffer,
                           const AnalyzeFade* hint)
{
    AnalyzeFade fade;
    if (count < 4) return fade;
    const uint64_t q = (count + POINTS_MAX - 1) / POINTS_MAX;
    const double amp = std::hypot(sine.a, sine.b);
    // A slow tone's envelope is seen as well from a few hundred samples a
    // cycle: the others add time, not information about the fade's shape.
    const uint64_t thin =
        std::max<uint64_t>(1, uint64_t(std::floor(1.0 / (sine.nu * SAMPLES_PER_CYCLE_ENOUGH))));
    const AnalyzeCycleRate rate = AnalyzeSplitRate(sine.nu);
    std::vector<Point> pts;
    pts.reserve(size_t(count / q + 1));
    Point acc{0, 0, 0};
    double plain = 0;
    uint64_t inRun = 0;
    const double stepCos = std::cos(ANALYZE_TWO_PI * sine.nu), stepSin = std::sin(ANALYZE_TWO_PI * sine.nu);
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
        [&](const double* x, uint32_t n, uint64_t frame) {
            // The unit sine by rotation from the run's exact start (its
            // error after a run is about 1e-12): a sine per sample was
            // most of the time of a long fade's fit.
            const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, int64_t(frame) - sine.origin);
            double c = std::cos(angle), sn = std::sin(angle);
            for (uint32_t i = 0; i < n; ++i) {
                plain += double(frame + i);
                const double unit = (sine.a * c + sine.b * sn) / amp;
                const double next = c * stepCos - sn * stepSin;
                sn = sn * stepCos + c * stepSin;
                c = next;
                if ((frame + i) % thin == 0) {
                    const double s = unit;
                    // The point sits at the run's centre weighted as P and
                    // W are: where s passes zero, the plain centre is off.
                    acc.p += (x[i] - sine.offset) * s;
                    acc.w += s * s;
                    acc.n += double(frame + i) * s * s;
                }
                if (++inRun == q) {
                    acc.n = acc.w > 0 ? acc.n / acc.w : plain / double(q);
                    plain = 0;
                    pts.push_back(acc);
                    acc = Point{0, 0, 0};
                    inRun = 0;
                }
            }
        });
    if (!ok || pts.size() < 4) return fade;
    // A fade-out is fitted as a fade-in running backwards.
    if (fadeOut)
        for (Point& p : pts)
            p.n = -p.n;
    std::sort(pts.begin(), pts.end(), [](const Point& a, const Point& b) { return a.n < b.n; });

    // Starting values from the envelope smoothed over about a cycle: where
    // it passes 10 % and 90 % of its full level.
    // (Or a sixteenth of the region, where a fade may be a single cycle.)
    const double smooth = std::min(1.0 / sine.nu, double(count) / 16);
    const size_t window = std::max<size_t>(1, IndexClamped(std::round(smooth / double(q)), pts.size() + 1));
    double sp = 0, sw = 0;
    double t10 = pts.front().n, t90 = pts.back().n;
    bool seen10 = false, seen90 = false;
    for (size_t i = 0; i < pts.size(); ++i) {
        sp += pts[i].p;
        sw += pts[i].w;
        if (i >= window) {
            sp -= pts[i - window].p;
            sw -= pts[i - window].w;
        }
        // A point where the sine passes zero has almost no weight: alone it
        // says nothing of the envelope (p / w is then noise over nothing).
        if (!(sw >= MEAN_SQUARE_MIN * double(std::min(i + 1, window) * q) / double(thin))) continue;
        const double env = sp / sw;
        const double centre = (pts[i].n + pts[i + 1 > window ? i + 1 - window : 0].n) / 2;
        if (!seen10 && env >= 0.1 * amp) {
            t10 = centre;
            seen10 = true;
        }
        if (!seen90 && env >= 0.9 * amp) {
            t90 = centre;
            seen90 = true;
        }
    }
    if (t90 < t10) t90 = t10;
    const double minStart = pts.front().n - 1.0 - (t90 - t10) * 2;
    Fit best{0, 0, 0, 0};
    int bestShape = -1;
    // A fade found before with a nearby sine: only its shape, from where it was.
    int hinted = -1;
    if (hint && hint->found)
        for (int i = 0; i < SHAPE_COUNT; ++i)
            if (hint->shape == SHAPES[i]) hinted = i;
    if (hinted >= 0) {
        const double start = fadeOut ? -hint->start : hint->start;
        const double full = fadeOut ? -hint->full : hint->full;
        best = FitShape(pts, hinted, amp, std::max(minStart, start), full, minStart, 0.5);
        bestShape = hinted;
    }
    for (int shape = 0; shape < SHAPE_COUNT && hinted < 0; ++shape) {
        // The shape's own 10 % and 90 % points turn the crossings into a start and length.
        const auto inverse = [shape](double target) {
            double lo = 0, hi = 1, g, dg;
            for (int b = 0; b < 50; ++b) {  // every shape rises monotonically
                const double mid = (lo + hi) / 2;
                Shape(shape, mid, g, dg);
                (g < target ? lo : hi) = mid;
            }
            return lo;
        };
        const double u10 = inverse(0.1), u90 = inverse(0.9);
        const double len = std::max(1.0, (t90 - t10) / (u90 - u10));
        const double start = std::max(minStart, t10 - u10 * len);
        const Fit f = FitShape(pts, shape, amp, start, start + len, minStart, 0.5);
        if (bestShape < 0 || f.cost < best.cost) {
            best = f;
            bestShape = shape;
        }
    }
    fade.found = bestShape >= 0 && std::isfinite(best.start) && std::isfinite(best.full);
    if (fade.found) Variances(pts, bestShape, best, fade.startVariance, fade.fullVariance);
    fade.shape = bestShape >= 0 ? SHAPES[bestShape] : "";
    fade.start = fadeOut ? -best.start : best.start;
    fade.full = fadeOut ? -best.full : best.full;
    return fade;
}

double AnalyzeFindEdge(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                       const AnalyzeSine& sine, bool end, std::vector<double>& buffer)
{
    // Silence before e and the fitted sine from e on (or the reverse at an
    // end): cost(e) = constant -+ D(e), D(e) = sum over n < e of
    // (x - offset - sine)^2 - (x - offset)^2. A sample on a zero crossing
    // fits either side: differences below 1e-12 of the amplitude squared
    // are ties, and ties go to the frame nearest the file's boundary.
    const AnalyzeCycleRate rate = AnalyzeSplitRate(sine.nu);
    const double tie = 1e-12 * (sine.a * sine.a + sine.b * sine.b);
    double d = 0, best = 0;
    uint64_t bestAt = first;  // D(first) = 0
    AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                      [&](const double* x, uint32_t n, uint64_t frame) {
                          for (uint32_t i = 0; i < n; ++i) {
                              const double y = x[i] - sine.offset;
                              const double r =
                                  y - AnalyzeSineAt(sine, rate, int64_t(frame + i), false) + sine.offset;
                              d += r * r - y * y;
                              // A start maximises D, an end minimises it.
                              if (end ? d <= best + tie : d > best + tie) {
                                  best = end ? std::min(best, d) : d;
                                  bestAt = frame + i + 1;
                              }
                          }
                      });
    return double(bestAt);
}
