#include "SpectralKernels.h"

#include "SampleMath.h"

#include <cmath>
#include <numbers>

namespace spectral {

namespace {

constexpr double kPi = std::numbers::pi;

// atan2 of the bin, 0 when both parts are exactly zero.
double Phase(double re, double im)
{
    return re == 0.0 && im == 0.0 ? 0.0 : std::atan2(im, re);
}

// |a - b| folded into [0, pi].
double PhaseDistance(double a, double b)
{
    double d = std::fabs(a - b);
    if (d > kPi) d = 2.0 * kPi - d;
    return d;
}

} // namespace

double PhaseTestCosine(double threshold)
{
    if (!(threshold >= 0.0)) return 2.0;
    if (threshold > kPi) return -2.0;
    return std::cos(threshold);
}

void QualityBinsReference(float* o, const float* k, int bins, double g, float cappedStrength, const float* threshold)
{
    for (int j = 0; j < bins; ++j) {
        const double ore = o[2 * j], oim = o[2 * j + 1];
        const double kre = k[2 * j], kim = k[2 * j + 1];
        const double magO = std::sqrt(ore * ore + oim * oim);
        const double magK = std::sqrt(kre * kre + kim * kim);
        const double pd = PhaseDistance(Phase(ore, oim), Phase(kre, kim));
        o[2 * j] = static_cast<float>(ore - g * kre);
        o[2 * j + 1] = static_cast<float>(oim - g * kim);
        if (magK * cappedStrength > magO && pd < threshold[j]) o[2 * j] = o[2 * j + 1] = 0.0f;
    }
}

namespace {

SONVELT_ALWAYS_INLINE void QualityBinsFastImplBody(float* o, const float* k, int bins, double g, float cappedStrength,
                                               const double* cosThreshold)
{
    const double cs = cappedStrength;
    for (int j = 0; j < bins; ++j) {
        const double ore = o[2 * j], oim = o[2 * j + 1];
        const double kre = k[2 * j], kim = k[2 * j + 1];
        const double magO = std::sqrt(ore * ore + oim * oim);
        const double magK = std::sqrt(kre * kre + kim * kim);
        // A bin of exact zeros has phase 0: the unit vector along the real axis.
        const bool oZero = ore == 0.0 && oim == 0.0;
        const bool kZero = kre == 0.0 && kim == 0.0;
        const double ure = oZero ? 1.0 : ore, uim = oZero ? 0.0 : oim, uMag = oZero ? 1.0 : magO;
        const double vre = kZero ? 1.0 : kre, vim = kZero ? 0.0 : kim, vMag = kZero ? 1.0 : magK;
        const double dot = ure * vre + uim * vim;
        const bool inPhase = dot > cosThreshold[j] * (uMag * vMag);
        const bool silence = magK * cs > magO && inPhase;
        const float re = static_cast<float>(ore - g * kre);
        const float im = static_cast<float>(oim - g * kim);
        o[2 * j] = silence ? 0.0f : re;
        o[2 * j + 1] = silence ? 0.0f : im;
    }
}

SONVELT_MULTI_ISA(void, QualityBinsFastImpl,
                  (float* o, const float* k, int bins, double g, float cappedStrength, const double* cosThreshold),
                  (o, k, bins, g, cappedStrength, cosThreshold))

SONVELT_ALWAYS_INLINE void ExtractionBinsImplBody(float* o, const float* k, int bins, double g, float strength)
{
    const double s = strength;
    for (int j = 0; j < bins; ++j) {
        const double ore = o[2 * j], oim = o[2 * j + 1];
        const double kre = k[2 * j], kim = k[2 * j + 1];
        const double magO = std::sqrt(ore * ore + oim * oim);
        const double magK = std::sqrt(kre * kre + kim * kim);
        const bool silence = magK * s > magO;
        const float re = static_cast<float>(ore - g * kre);
        const float im = static_cast<float>(oim - g * kim);
        o[2 * j] = silence ? 0.0f : re;
        o[2 * j + 1] = silence ? 0.0f : im;
    }
}

SONVELT_MULTI_ISA(void, ExtractionBinsImpl, (float* o, const float* k, int bins, double g, float strength),
                  (o, k, bins, g, strength))

} // namespace

void QualityBinsFast(float* o, const float* k, int bins, double g, float cappedStrength, const double* cosThreshold)
{
    QualityBinsFastImpl(o, k, bins, g, cappedStrength, cosThreshold);
}

void ExtractionBins(float* o, const float* k, int bins, double g, float strength)
{
    ExtractionBinsImpl(o, k, bins, g, strength);
}

void ExtractionBinsReference(float* o, const float* k, int bins, double g, float strength)
{
    for (int j = 0; j < bins; ++j) {
        const double ore = o[2 * j], oim = o[2 * j + 1];
        const double kre = k[2 * j], kim = k[2 * j + 1];
        const double magO = std::sqrt(ore * ore + oim * oim);
        const double magK = std::sqrt(kre * kre + kim * kim);
        o[2 * j] = static_cast<float>(ore - g * kre);
        o[2 * j + 1] = static_cast<float>(oim - g * kim);
        if (magK * strength > magO) o[2 * j] = o[2 * j + 1] = 0.0f;
    }
}

namespace {

// Level step: the louder bin is brought to the quieter one plus levelMix of
// their difference; equal magnitudes leave both as they are.
SONVELT_ALWAYS_INLINE void PullLevel(float* l, float* r, double magL, double magR, double levelMix)
{
    const double diff = std::fabs(magL - magR);
    if (magR > magL) {
        const double f = (magL + diff * levelMix) / magR;
        r[0] = static_cast<float>(r[0] * f);
        r[1] = static_cast<float>(r[1] * f);
    } else {
        const double f = (magR + diff * levelMix) / magL;
        l[0] = static_cast<float>(l[0] * f);
        l[1] = static_cast<float>(l[1] * f);
    }
}

SONVELT_ALWAYS_INLINE void Fade(float* l, float* r, double f)
{
    l[0] = static_cast<float>(l[0] * f);
    l[1] = static_cast<float>(l[1] * f);
    r[0] = static_cast<float>(r[0] * f);
    r[1] = static_cast<float>(r[1] * f);
}

SONVELT_ALWAYS_INLINE double FadeFactor(double pd, double threshold, double c)
{
    const double e = (pd - threshold) * 2.0 * c;
    return e < kPi ? 0.5 + 0.5 * std::cos(e) : 0.0;
}

} // namespace

void CentreBinsReference(float* l, float* r, int bins, float c, float levelMix, const float* threshold)
{
    for (int j = 0; j < bins; ++j) {
        float* lb = l + 2 * j;
        float* rb = r + 2 * j;
        const double lre = lb[0], lim = lb[1], rre = rb[0], rim = rb[1];
        const double magL = std::sqrt(lre * lre + lim * lim);
        const double magR = std::sqrt(rre * rre + rim * rim);
        const double phaseL = Phase(lre, lim);
        const double phaseR = Phase(rre, rim);
        if (magL > 0.0 || magR > 0.0) {
            PullLevel(lb, rb, magL, magR, levelMix);
            const double pd = PhaseDistance(phaseL, phaseR);
            if (pd > threshold[j]) Fade(lb, rb, FadeFactor(pd, threshold[j], c));
        } else {
            lb[0] = lb[1] = rb[0] = rb[1] = 0.0f;
        }
    }
}

void CentreBinsFast(float* l, float* r, int bins, float c, float levelMix, const float* threshold,
                    const double* cosThreshold, const double* cosFadeEnd)
{
    for (int j = 0; j < bins; ++j) {
        float* lb = l + 2 * j;
        float* rb = r + 2 * j;
        const double lre = lb[0], lim = lb[1], rre = rb[0], rim = rb[1];
        const double magL = std::sqrt(lre * lre + lim * lim);
        const double magR = std::sqrt(rre * rre + rim * rim);
        if (!(magL > 0.0 || magR > 0.0)) {
            lb[0] = lb[1] = rb[0] = rb[1] = 0.0f;
            continue;
        }
        PullLevel(lb, rb, magL, magR, levelMix);
        // Phases as before the level step, which does not change them.
        const bool lZero = lre == 0.0 && lim == 0.0;
        const bool rZero = rre == 0.0 && rim == 0.0;
        const double ure = lZero ? 1.0 : lre, uim = lZero ? 0.0 : lim, uMag = lZero ? 1.0 : magL;
        const double vre = rZero ? 1.0 : rre, vim = rZero ? 0.0 : rim, vMag = rZero ? 1.0 : magR;
        const double dot = ure * vre + uim * vim;
        const double p = uMag * vMag;
        if (!(dot < cosThreshold[j] * p)) continue;  // within the threshold: passes
        if (dot <= cosFadeEnd[j] * p) {              // beyond the end of the fade
            Fade(lb, rb, 0.0);
            continue;
        }
        const double pd = std::atan2(std::fabs(ure * vim - uim * vre), dot);
        Fade(lb, rb, FadeFactor(pd, threshold[j], c));
    }
}

} // namespace spectral
