// A multitone's tones sit on whole bins of its period, so a recording read a
// period at a time needs no window: each tone's phasor over a period is its
// response, and the bins between the tones hold only noise and distortion.
// A recorder whose clock runs off stretches the period; the tones are then
// read at the stretched frequencies and subtracted before the periods'
// power spectra are taken, so that they leak nothing between them.

#include "analyze/response_multitone.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <unsupported/Eigen/FFT>

#include "analyze/response_align.h"
#include "analyze/sine_phase.h"

namespace {

using Complex = std::complex<double>;

constexpr uint32_t PERIOD_MIN = 16;
// Consecutive periods differ by at most this share of the signal's RMS (-60
// dB: a 16-bit file's dither stays below it for a multitone's peak above
// about -20 dBFS; below that it is read as any other stimulus) ...
constexpr double PERIODIC_SHARE = 1e-3;
// ... and a sample of the repeating stretch by at most this many times the
// RMS of the differences.
constexpr double SAMPLE_SPREAD = 6.0;
// Differences correlated with the slope beyond this are a slip, not noise.
constexpr double SLIP_SHARE = 0.3;
constexpr double TONE_FLOOR = 1e-8;  // bins within 80 dB of the strongest are tones
constexpr size_t TONES_MAX = 256;    // more: read as any other stimulus (the cost grows with the tones)
// The clock offsets searched for, and the noise floor's resolution.
constexpr double CLOCK_MAX = 1e-3;
constexpr double FLOOR_POINTS_PER_OCTAVE = 12.0;
// Rounds of the clock from the tones' phases, until a round moves it less than REFINED.
constexpr int REFINE_ROUNDS = 3;
constexpr double REFINED = 1e-7;

// Whether x repeats every `period` samples over a stretch of at least two
// periods around its middle; fills the stretch's whole periods.
// A wrong period fails within a few samples: the energy of x is summed
// ahead (`energy[i]` of x[0 .. i)) so that the differences can stop early.
bool Repeats(const std::vector<double>& x, const std::vector<double>& energy, uint32_t period,
             AnalyzeMultitoneShape& shape)
{
    const size_t n = x.size(), p = period;
    if (n < 2 * p) return false;
    const size_t c0 = (n - 2 * p) / 2;
    const double signal = energy[c0 + p] - energy[c0];
    const double allowed = PERIODIC_SHARE * PERIODIC_SHARE * signal;
    if (!(signal > 0.0)) return false;
    double diff = 0.0;
    for (size_t i = c0; i < c0 + p && diff <= allowed; ++i) {
        const double d = x[i] - x[i + p];
        diff += d * d;
    }
    if (diff > allowed) return false;
    const double tolerance =
        SAMPLE_SPREAD * std::sqrt(diff / double(p)) + 1e-12 * std::sqrt(signal / double(p));
    size_t first = c0, last = c0 + p;  // x[i] = x[i + p] for first <= i < last
    while (first > 0 && std::fabs(x[first - 1] - x[first - 1 + p]) <= tolerance)
        --first;
    while (last + p < n && std::fabs(x[last] - x[last + p]) <= tolerance)
        ++last;
    const size_t span = last + p - first;
    if (span < 2 * p) return false;
    // A lag that is only nearly a period (a sine's whole cycles but for a
    // slip) leaves differences that follow the signal's slope; a true
    // period's differences are noise, unrelated to it.
    double slope = 0.0, both = 0.0, differences = 0.0;
    for (size_t i = std::max<size_t>(c0, 1); i < c0 + p; ++i) {
        const double d = x[i] - x[i + p], s = x[i + 1] - x[i - 1];
        slope += s * s;
        both += d * s;
        differences += d * d;
    }
    if (both * both > SLIP_SHARE * SLIP_SHARE * slope * differences) return false;
    shape.period = period;
    shape.periods = uint32_t(span / p);
    shape.first = first + (span - shape.periods * p) / 2;
    return true;
}

// The tone bins of the middle period.
bool FindTones(const std::vector<double>& x, AnalyzeMultitoneShape& shape)
{
    const size_t p = shape.period;
    const size_t start = shape.first + shape.periods / 2 * p;
    Eigen::FFT<double> fft;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    std::vector<Complex> bins;
    fft.fwd(bins, std::vector<double>(x.begin() + ptrdiff_t(start), x.begin() + ptrdiff_t(start + p)));
    double top = 0.0;
    for (size_t m = 1; 2 * m < p; ++m)
        top = std::max(top, std::norm(bins[m]));
    for (size_t m = 1; 2 * m < p; ++m)
        if (top > 0.0 && std::norm(bins[m]) >= TONE_FLOOR * top) {
            shape.bins.push_back(uint32_t(m));
            shape.tones.push_back(bins[m]);
        }
    return !shape.bins.empty() && shape.bins.size() <= TONES_MAX;
}

// The phasors sum y[n] e^(-i omega_k (n - origin)) over [from, to) of every
// tone k, turned a sample at a time (the tones are independent lanes).
void Phasors(const std::vector<double>& y, int64_t from, int64_t to, double origin,
             const std::vector<double>& omega, Complex* out)
{
    const size_t t = omega.size();
    std::vector<double> c(t), s(t), stepC(t), stepS(t), re(t, 0.0), im(t, 0.0);
    for (size_t k = 0; k < t; ++k) {
        c[k] = std::cos(omega[k] * (double(from) - origin));
        s[k] = std::sin(omega[k] * (double(from) - origin));
        stepC[k] = std::cos(omega[k]);
        stepS[k] = std::sin(omega[k]);
    }
    for (int64_t n = from; n < to; ++n) {
        const double v = y[size_t(n)];
        for (size_t k = 0; k < t; ++k) {
            re[k] += v * c[k];
            im[k] -= v * s[k];
            const double cn = c[k] * stepC[k] - s[k] * stepS[k];
            s[k] = s[k] * stepC[k] + c[k] * stepS[k];
            c[k] = cn;
        }
    }
    for (size_t k = 0; k < t; ++k)
        out[k] = Complex(re[k], im[k]);
}

// y[from + i] less the tones Re(a_k e^(i omega_k (n - origin))), i < out.size().
void Residual(const std::vector<double>& y, int64_t from, double origin, const std::vector<double>& omega,
              const std::vector<Complex>& amplitude, std::vector<double>& out)
{
    const size_t t = omega.size();
    std::vector<double> c(t), s(t), stepC(t), stepS(t);
    for (size_t k = 0; k < t; ++k) {
        c[k] = std::cos(omega[k] * (double(from) - origin));
        s[k] = std::sin(omega[k] * (double(from) - origin));
        stepC[k] = std::cos(omega[k]);
        stepS[k] = std::sin(omega[k]);
    }
    for (size_t i = 0; i < out.size(); ++i) {
        double v = y[size_t(from) + i];
        for (size_t k = 0; k < t; ++k) {
            v -= amplitude[k].real() * c[k] - amplitude[k].imag() * s[k];
            const double cn = c[k] * stepC[k] - s[k] * stepS[k];
            s[k] = s[k] * stepC[k] + c[k] * stepS[k];
            c[k] = cn;
        }
        out[i] = v;
    }
}

// Where each period of the stimulus lies in the recording: at
// latency + u (1 + offset) for the stimulus's sample u.
struct Clock {
    double latency = 0.0;
    double offset = 0.0;
};

// A first clock from each period's delay, read off the tones' cross-spectrum
// with the stimulus on a grid of whole samples and then between them.
Clock CoarseClock(const std::vector<double>& y, const AnalyzeMultitoneShape& shape, int64_t lag,
                  const std::vector<double>& omega, size_t stimulusSize)
{
    const double p = shape.period;
    const auto window = int64_t(std::min(std::ceil(CLOCK_MAX * double(stimulusSize)) + 4, p / 4));
    const size_t t = omega.size();
    std::vector<Complex> z(t);
    std::vector<double> u, at;
    for (uint32_t j = 0; j < shape.periods; ++j) {
        const double start = double(shape.first) + j * p;
        const int64_t from = lag + int64_t(start);
        if (from < 0 || from + int64_t(p) > int64_t(y.size())) continue;
        Phasors(y, from, from + int64_t(p), double(from), omega, z.data());
        for (size_t k = 0; k < t; ++k)
            z[k] *= std::conj(shape.tones[k]);
        const auto match = [&](double tau) {
            Complex sum = 0.0;
            for (size_t k = 0; k < t; ++k)
                sum += z[k] * std::polar(1.0, omega[k] * tau);
            return std::abs(sum);
        };
        // On the grid each tone's turn advances by a fixed step.
        std::vector<Complex> turn(t), step(t);
        for (size_t k = 0; k < t; ++k) {
            turn[k] = z[k] * std::polar(1.0, -omega[k] * double(window));
            step[k] = std::polar(1.0, omega[k]);
        }
        double best = 0.0, bestValue = -1.0;
        for (int64_t tau = -window; tau <= window; ++tau) {
            Complex sum = 0.0;
            for (size_t k = 0; k < t; ++k) {
                sum += turn[k];
                turn[k] *= step[k];
            }
            if (std::norm(sum) > bestValue) {
                bestValue = std::norm(sum);
                best = double(tau);
            }
        }
        double a = best - 1.0, b = best + 1.0;
        const double g = (std::sqrt(5.0) - 1.0) / 2;
        for (int i = 0; i < 40; ++i) {
            const double c = b - g * (b - a), d = a + g * (b - a);
            if (match(c) > match(d))
                b = d;
            else
                a = c;
        }
        // The delay found is the period's middle's: the clock turns within it.
        u.push_back(start + p / 2);
        at.push_back(double(from) + p / 2 + (a + b) / 2);
    }
    Clock clock;
    if (u.empty()) return {double(lag), 0.0};
    if (u.size() == 1) return {at[0] - u[0], 0.0};
    double su = 0, sa = 0, suu = 0, sua = 0;
    const auto m = double(u.size());
    for (size_t i = 0; i < u.size(); ++i) {
        su += u[i];
        sa += at[i];
        suu += u[i] * u[i];
        sua += u[i] * at[i];
    }
    const double slope = (m * sua - su * sa) / (m * suu - su * su);
    clock.offset = slope - 1.0;
    clock.latency = (sa - slope * su) / m;
    return clock;
}

// The tones' phasors over every whole period the recording holds, each period
// timed by `clock`; counts the samples read.
struct Periods {
    std::vector<double> origin;  // where each period starts, in recorded samples
    std::vector<std::vector<Complex>> z;
    std::vector<double> omega;  // radians per recorded sample
    double samples = 0.0;
};

Periods ReadPeriods(const std::vector<double>& y, const AnalyzeMultitoneShape& shape, const Clock& clock,
                    const std::vector<double>& omega)
{
    Periods r;
    for (double w : omega)
        r.omega.push_back(w / (1.0 + clock.offset));
    const double p = shape.period;
    for (uint32_t j = 0; j < shape.periods; ++j) {
        const double origin = clock.latency + (double(shape.first) + j * p) * (1.0 + clock.offset);
        const double end = origin + p * (1.0 + clock.offset);
        const auto from = int64_t(std::llround(origin)), to = int64_t(std::llround(end));
        if (from < 0 || to > int64_t(y.size()) || from + int64_t(p) > int64_t(y.size())) continue;
        r.origin.push_back(origin);
        r.z.emplace_back(omega.size());
        Phasors(y, from, to, origin, r.omega, r.z.back().data());
        r.samples += double(to - from);
    }
    return r;
}

// The offset left in `clock`: a period later, tone k has turned 2 pi b_k
// (offset - true offset) further. Tones in rising order, each unwrapped
// against what those below it give.
double ClockLeft(const Periods& periods, const AnalyzeMultitoneShape& shape)
{
    double num = 0.0, den = 0.0, left = 0.0;
    for (size_t k = 0; k < shape.bins.size(); ++k) {
        Complex w = 0.0;
        for (size_t j = 1; j < periods.z.size(); ++j)
            w += periods.z[j][k] * std::conj(periods.z[j - 1][k]);
        if (!(std::norm(w) > 0.0)) continue;
        const double b = shape.bins[k];
        const double predicted = ANALYZE_TWO_PI * b * left;
        const double turn = predicted + std::arg(w * std::polar(1.0, -predicted));
        num += std::abs(w) * b * turn;
        den += std::abs(w) * b * b;
        left = num / den / ANALYZE_TWO_PI;
    }
    return left;
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

}  // namespace

AnalyzeMultitoneShape AnalyzeMultitoneRecognise(const std::vector<double>& x)
{
    // Every lag is tried: a wrong one fails within a sample or two, so this
    // costs less than the autocorrelation that would otherwise pick lags.
    AnalyzeMultitoneShape shape;
    std::vector<double> energy(x.size() + 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i)
        energy[i + 1] = energy[i] + x[i] * x[i];
    for (size_t lag = PERIOD_MIN; 2 * lag <= x.size(); ++lag)
        if (Repeats(x, energy, uint32_t(lag), shape)) {
            shape.found = FindTones(x, shape);
            return shape;
        }
    return shape;
}

AnalyzeResponse AnalyzeMultitoneResponse(const std::vector<double>& stimulus,
                                         const AnalyzeMultitoneShape& shape, const std::vector<double>& y,
                                         uint32_t rate, const AnalyzeMeasureOptions& options)
{
    AnalyzeResponse r;
    r.rate = rate;
    r.tdNDb = std::numeric_limits<double>::quiet_NaN();
    const double p = shape.period;
    const size_t t = shape.bins.size();
    std::vector<double> omega(t);
    for (size_t k = 0; k < t; ++k)
        omega[k] = ANALYZE_TWO_PI * shape.bins[k] / p;

    Eigen::FFT<double> fft;
    Clock clock = CoarseClock(y, shape, AnalyzeResponseLag(fft, stimulus, y), omega, stimulus.size());
    Periods periods = ReadPeriods(y, shape, clock, omega);
    // Each correction turns the clock about the periods' middle; a coarse
    // clock far off leaves the top tones between bins, hence another round.
    const double middle = double(shape.first) + shape.periods * p / 2;
    for (int round = 0; round < REFINE_ROUNDS && periods.z.size() >= 2; ++round) {
        const double left = ClockLeft(periods, shape);
        clock.offset -= left;
        clock.latency += left * middle;
        periods = ReadPeriods(y, shape, clock, omega);
        if (std::fabs(left) < REFINED) break;
    }
    if (periods.z.empty()) {
        r.reason = "the recording holds no whole period of the multitone";
        return r;
    }
    r.clockOffsetPpm = clock.offset * 1e6;

    // Each tone's amplitude over all periods, against the stimulus's; the
    // periods' agreement is the coherence.
    std::vector<Complex> amplitude(t), h(t);
    std::vector<double> weight(t), coherence(t);
    for (size_t k = 0; k < t; ++k) {
        Complex sum = 0.0;
        double power = 0.0;
        for (const std::vector<Complex>& z : periods.z) {
            sum += z[k];
            power += std::norm(z[k]);
        }
        amplitude[k] = 2.0 * sum / periods.samples;
        h[k] = amplitude[k] / (2.0 * shape.tones[k] / p);
        weight[k] = std::norm(amplitude[k]);
        coherence[k] = power > 0.0 ? std::norm(sum) / (double(periods.z.size()) * power) : 0.0;
    }
    if (std::all_of(weight.begin(), weight.end(), [](double w) { return w == 0.0; })) {
        r.reason = "the recording holds none of the tones";
        return r;
    }
    r.kind = "multitone";
    const double tau = AnalyzeResponsePhaseDelay(periods.omega, h, weight);
    r.latencySamples = clock.latency + tau;
    for (size_t k = 0; k < t; ++k) {
        const Complex v = h[k] * std::polar(1.0, periods.omega[k] * tau);
        r.points.push_back(
            {shape.bins[k] * double(rate) / p, Db(std::abs(v)), AnalyzeResponsePhaseDeg(v), coherence[k]});
    }

    // The periods' power spectra with the tones taken out, averaged.
    const auto period = size_t(shape.period);
    std::vector<double> power(period / 2 + 1, 0.0), rest(period);
    std::vector<Complex> bins;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    size_t spectra = 0;
    for (double origin : periods.origin) {
        const auto from = int64_t(std::llround(origin));
        Residual(y, from, origin, periods.omega, amplitude, rest);
        fft.fwd(bins, rest);
        for (size_t m = 0; m < power.size(); ++m)
            power[m] += std::norm(bins[m]);
        ++spectra;
    }
    // One-sided power per bin, as a tone's a^2 / 2 is.
    for (double& v : power)
        v *= 2.0 / (p * p * double(spectra));
    double tonePower = 0.0;
    for (const Complex& a : amplitude)
        tonePower += std::norm(a) / 2;
    const double nyquist = rate / 2.0;
    const double low = options.bandFull ? 0.0 : options.bandLowHz;
    const double high = options.bandFull ? nyquist : std::min(options.bandHighHz, nyquist);
    std::vector<bool> tone(power.size(), false);
    for (uint32_t b : shape.bins)
        tone[b] = true;
    const auto hz = [&](size_t m) { return double(m) * rate / p; };
    double noise = 0.0;
    size_t between = 0;
    for (size_t m = 1; m < power.size(); ++m)
        if (!tone[m] && hz(m) >= low && hz(m) <= high) {
            noise += power[m];
            ++between;
        }
    if (between > 0 && tonePower > 0.0) r.tdNDb = 10.0 * std::log10(noise / tonePower);

    // The floor for the picture: the mean bin between the tones in each
    // 1/12 octave of the band.
    const double floorLow = std::max(low, hz(1));
    for (double f = floorLow; f < high; f *= std::exp2(1.0 / FLOOR_POINTS_PER_OCTAVE)) {
        const double top = std::min(high, f * std::exp2(1.0 / FLOOR_POINTS_PER_OCTAVE));
        double sum = 0.0;
        size_t count = 0;
        for (auto m = size_t(std::ceil(f * p / rate)); m < power.size() && hz(m) < top; ++m)
            if (!tone[m]) {
                sum += power[m];
                ++count;
            }
        if (count > 0 && sum > 0.0 && tonePower > 0.0)
            r.noiseFloor.push_back({std::sqrt(f * top), 10.0 * std::log10(sum / double(count) / tonePower)});
    }
    return r;
}
