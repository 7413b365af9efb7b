// The residual of a fit over its sustained part: its mean square and the
// harmonics in it.

#include "analyze/residual.h"

#include <algorithm>
#include <cmath>

#include "analyze/fit_kernels.h"
#include "analyze/sine_phase.h"

namespace {

constexpr uint64_t HARMONIC_FRAMES = uint64_t(1) << 21;
constexpr double HARMONIC_CLEARANCE_CYCLES = 2;

}  // namespace

int AnalyzeHarmonicCount(double nu, uint64_t count)
{
    const double highest = 0.5 - HARMONIC_CLEARANCE_CYCLES / double(std::max<uint64_t>(count, 1));
    int harmonics = 0;
    while (harmonics + 2 <= ANALYZE_HARMONICS_LAST && (harmonics + 2) * nu <= highest)
        ++harmonics;
    return harmonics;
}

void AnalyzeHarmonicCoefficients(const AnalyzeCompensatedSum* sums, size_t harmonics,
                                 AnalyzeResidual& residual)
{
    residual.harmonicCos.assign(harmonics, 0.0);
    residual.harmonicSin.assign(harmonics, 0.0);
    for (size_t k = 0; k < harmonics; ++k) {
        const AnalyzeCompensatedSum* acc = sums + k * 5;
        double g[5][5] = {{acc[2].Value(), acc[3].Value()}, {acc[3].Value(), acc[4].Value()}};
        double rhs[5] = {acc[0].Value(), acc[1].Value()};
        double p[5] = {};
        if (!AnalyzeSolve(2, g, rhs, p)) {
            // At half the rate only the cosine is seen.
            p[0] = g[0][0] > 0 ? rhs[0] / g[0][0] : 0.0;
            p[1] = 0.0;
        }
        residual.harmonicCos[k] = p[0];
        residual.harmonicSin[k] = p[1];
    }
}

std::vector<double> AnalyzeHarmonicAmplitudes(const AnalyzeCompensatedSum* sums, size_t harmonics)
{
    AnalyzeResidual fitted;
    AnalyzeHarmonicCoefficients(sums, harmonics, fitted);
    std::vector<double> amplitudes(harmonics, 0.0);
    for (size_t k = 0; k < harmonics; ++k)
        amplitudes[k] = std::hypot(fitted.harmonicCos[k], fitted.harmonicSin[k]);
    return amplitudes;
}

struct AnalyzeResidualPass {
    uint64_t first = 0, count = 0;
    uint32_t block = 0;
    AnalyzeSine sine;
    AnalyzeCycleRate rate;
    AnalyzeBlockTable fundamental;
    std::vector<AnalyzeBlockTable> tables;  // harmonics 2, 3, ...
    std::vector<AnalyzeCycleRate> rates;
    uint64_t harmonicStride = 1;
    struct Sums {
        AnalyzeCompensatedSum square;
        std::vector<AnalyzeCompensatedSum> harmonic;  // per harmonic: rc, rs, cc, cs, ss
        std::vector<double> r;
    };
    std::vector<Sums> parts;

    void Block(unsigned part, const double* x, uint64_t frame, uint64_t index)
    {
        Sums& sums = parts[part];
        const uint32_t B = block;
        const int64_t t = int64_t(frame) - sine.origin;
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
        const double C = std::cos(angle);
        const double S = std::sin(angle);
        double q;
        AnalyzeResidualBlock(x, fundamental.c.data(), fundamental.s.data(), sine.a * C + sine.b * S,
                             sine.b * C - sine.a * S, sine.offset, B, sums.r.data(), &q);
        sums.square.Add(q);
        // Harmonics from evenly spread blocks when there are many: 2^21
        // frames put their noise far below any level shown.
        if (index % harmonicStride != 0) return;
        for (size_t k = 0; k < tables.size(); ++k) {
            const AnalyzeBlockTable& tb = tables[k];
            double d[2];
            AnalyzeDot2(sums.r.data(), tb.c.data(), tb.s.data(), B, d);
            const double hAngle = ANALYZE_TWO_PI * AnalyzeCycles(rates[k], t);
            const double Ch = std::cos(hAngle);
            const double Sh = std::sin(hAngle);
            const auto& m = tb.m[0];
            AnalyzeCompensatedSum* acc = &sums.harmonic[k * 5];
            acc[0].Add(Ch * d[0] - Sh * d[1]);
            acc[1].Add(Sh * d[0] + Ch * d[1]);
            acc[2].Add(Ch * Ch * m[0] - 2 * Ch * Sh * m[1] + Sh * Sh * m[2]);
            acc[3].Add(Ch * Sh * (m[0] - m[2]) + (Ch * Ch - Sh * Sh) * m[1]);
            acc[4].Add(Sh * Sh * m[0] + 2 * Ch * Sh * m[1] + Ch * Ch * m[2]);
        }
    }
};

std::shared_ptr<AnalyzeResidualPass> AnalyzeResidualPassMake(uint64_t first, uint64_t count,
                                                             const AnalyzeSine& sine, unsigned parts)
{
    auto pass = std::make_shared<AnalyzeResidualPass>();
    const AnalyzeTiling tiling = AnalyzeTile(count);
    pass->first = first;
    pass->block = tiling.block;
    pass->count = tiling.blocks * tiling.block;
    pass->sine = sine;
    pass->rate = AnalyzeSplitRate(sine.nu);
    if (tiling.blocks == 0) return pass;
    AnalyzeBuildTable(pass->fundamental, sine.nu, tiling.block);
    const int harmonics = AnalyzeHarmonicCount(sine.nu, pass->count);
    for (int k = 2; k < 2 + harmonics; ++k) {
        pass->tables.emplace_back();
        AnalyzeBuildTable(pass->tables.back(), sine.nu * k, tiling.block);
        pass->rates.push_back(AnalyzeSplitRate(sine.nu * k));
    }
    pass->harmonicStride = std::max<uint64_t>(1, pass->count / HARMONIC_FRAMES);
    pass->parts.resize(std::max(1u, parts));
    for (AnalyzeResidualPass::Sums& s : pass->parts) {
        s.harmonic.resize(pass->tables.size() * 5);
        s.r.resize(tiling.block);
    }
    return pass;
}

AnalyzePassJob AnalyzeResidualPassJob(const std::shared_ptr<AnalyzeResidualPass>& pass, uint32_t channel)
{
    AnalyzePassJob job;
    job.channel = channel;
    job.first = pass->first;
    job.count = pass->count;
    job.block = pass->block;
    AnalyzeResidualPass* p = pass.get();
    job.onBlock = [p](unsigned part, const double* x, uint32_t, uint64_t frame, uint64_t index) {
        p->Block(part, x, frame, index);
    };
    return job;
}

AnalyzeResidual AnalyzeResidualPassFinish(const AnalyzeResidualPass& pass)
{
    AnalyzeResidual residual;
    AnalyzeCompensatedSum square;
    const size_t harmonics = pass.tables.size();
    std::vector<AnalyzeCompensatedSum> hc(harmonics * 5);
    for (const AnalyzeResidualPass::Sums& s : pass.parts) {
        square.Add(s.square.Value());
        for (size_t i = 0; i < hc.size(); ++i)
            hc[i].Add(s.harmonic[i].Value());
    }
    residual.meanSquare = pass.count > 0 ? square.Value() / double(pass.count) : 0.0;
    residual.frames = pass.count;
    const uint64_t blocks = pass.block > 0 ? pass.count / pass.block : 0;
    residual.harmonicFrames = (blocks + pass.harmonicStride - 1) / pass.harmonicStride * pass.block;
    residual.harmonicAmplitudes = AnalyzeHarmonicAmplitudes(hc.data(), harmonics);
    AnalyzeHarmonicCoefficients(hc.data(), harmonics, residual);
    return residual;
}
