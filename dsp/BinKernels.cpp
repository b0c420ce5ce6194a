#include "BinKernels.h"

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
        const bool oZero = (ore == 0.0) & (oim == 0.0);
        const bool kZero = (kre == 0.0) & (kim == 0.0);
        const double ure = oZero ? 1.0 : ore, uim = oZero ? 0.0 : oim, uMag = oZero ? 1.0 : magO;
        const double vre = kZero ? 1.0 : kre, vim = kZero ? 0.0 : kim, vMag = kZero ? 1.0 : magK;
        const double dot = ure * vre + uim * vim;
        const bool inPhase = dot > cosThreshold[j] * (uMag * vMag);
        const bool silence = (magK * cs > magO) & inPhase;
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

void CenterBinsReference(float* l, float* r, int bins, float c, float levelMix, const float* threshold)
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

namespace {

// First pass of the fast centre rule, free of branches: the level step, and
// per bin the fade factor when the phase test settles it (1 within the
// threshold, 0 beyond the end of the fade) or -1 when the angle itself is
// needed, with the dot product and |cross product| for it.
SONVELT_ALWAYS_INLINE void CenterLevelPassBody(float* __restrict l, float* __restrict r, int bins, double levelMix,
                                               const double* __restrict cosThreshold,
                                               const double* __restrict cosFadeEnd, double* __restrict fade,
                                               double* __restrict dots, double* __restrict crosses)
{
    for (int j = 0; j < bins; ++j) {
        const double lre = l[2 * j], lim = l[2 * j + 1], rre = r[2 * j], rim = r[2 * j + 1];
        const double magL = std::sqrt(lre * lre + lim * lim);
        const double magR = std::sqrt(rre * rre + rim * rim);
        // Bitwise logic and selects keep the loop free of branches.
        const bool any = (magL > 0.0) | (magR > 0.0);
        const double diff = std::fabs(magL - magR);
        const bool rightLouder = magR > magL;
        const double toQuieterR = (magL + diff * levelMix) / (magR > 0.0 ? magR : 1.0);
        const double toQuieterL = (magR + diff * levelMix) / (magL > 0.0 ? magL : 1.0);
        const double fR = rightLouder ? toQuieterR : 1.0;
        const double fL = rightLouder ? 1.0 : toQuieterL;
        const float l0 = static_cast<float>(lre * fL), l1 = static_cast<float>(lim * fL);
        const float r0 = static_cast<float>(rre * fR), r1 = static_cast<float>(rim * fR);
        l[2 * j] = any ? l0 : 0.0f;
        l[2 * j + 1] = any ? l1 : 0.0f;
        r[2 * j] = any ? r0 : 0.0f;
        r[2 * j + 1] = any ? r1 : 0.0f;

        const bool lZero = (lre == 0.0) & (lim == 0.0);
        const bool rZero = (rre == 0.0) & (rim == 0.0);
        const double ure = lZero ? 1.0 : lre, uim = lZero ? 0.0 : lim, uMag = lZero ? 1.0 : magL;
        const double vre = rZero ? 1.0 : rre, vim = rZero ? 0.0 : rim, vMag = rZero ? 1.0 : magR;
        const double dot = ure * vre + uim * vim;
        const double p = uMag * vMag;
        const bool within = !(dot < cosThreshold[j] * p);
        const bool beyond = dot <= cosFadeEnd[j] * p;
        const double outside = beyond ? 0.0 : -1.0;
        fade[j] = within | !any ? 1.0 : outside;
        dots[j] = dot;
        crosses[j] = std::fabs(ure * vim - uim * vre);
    }
}

SONVELT_MULTI_ISA(void, CenterLevelPass,
                  (float* l, float* r, int bins, double levelMix, const double* cosThreshold,
                   const double* cosFadeEnd, double* fade, double* dots, double* crosses),
                  (l, r, bins, levelMix, cosThreshold, cosFadeEnd, fade, dots, crosses))

SONVELT_ALWAYS_INLINE void CenterFadePassBody(float* l, float* r, int bins, const double* fade)
{
    for (int j = 0; j < bins; ++j) {
        const double f = fade[j];
        l[2 * j] = static_cast<float>(l[2 * j] * f);
        l[2 * j + 1] = static_cast<float>(l[2 * j + 1] * f);
        r[2 * j] = static_cast<float>(r[2 * j] * f);
        r[2 * j + 1] = static_cast<float>(r[2 * j + 1] * f);
    }
}

SONVELT_MULTI_ISA(void, CenterFadePass, (float* l, float* r, int bins, const double* fade), (l, r, bins, fade))

} // namespace

void CenterBinsFast(float* l, float* r, int bins, float c, float levelMix, const float* threshold,
                    const double* cosThreshold, const double* cosFadeEnd, double* scratch)
{
    double* fade = scratch;
    double* dots = scratch + bins;
    double* crosses = scratch + 2 * static_cast<size_t>(bins);
    CenterLevelPass(l, r, bins, levelMix, cosThreshold, cosFadeEnd, fade, dots, crosses);
    // Only the bins inside the fade band need the angle itself.
    for (int j = 0; j < bins; ++j)
        if (fade[j] < 0.0) fade[j] = FadeFactor(std::atan2(crosses[j], dots[j]), threshold[j], c);
    CenterFadePass(l, r, bins, fade);
}

} // namespace spectral
