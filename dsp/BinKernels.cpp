#include "BinKernels.h"

#include "SampleMath.h"
#include "SpectrumLanes.h"

#include <cmath>
#include <cstring>
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

float PhaseBound(double threshold)
{
    const float c = static_cast<float>(PhaseTestCosine(threshold));
    return c * std::fabs(c);
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

using packed::kLanes;
using packed::Lanes;

// The quality rule on one bin, in single precision: o = o - g k, or 0 when
// |k| cs > |o| and the phase distance is below the threshold whose cosine is
// c. Both tests are taken on squares, so no root is needed: |k| cs > |o| is
// kk cs^2 > oo (never for cs <= 0, given as 0), and dot > c |u||v| is
// dot |dot| > c |c| uu vv (bound = c |c|, PhaseBound). The fourth powers are
// taken of values scaled by 2^-32 (exactly), so that they neither overflow
// nor vanish for any spectrum of 32-bit samples that matters. A silent
// karaoke bin fails the first test, so only the original's zero bins need
// the unit vector. Free of branches, so loops over it vectorise.
SONVELT_ALWAYS_INLINE void QualityBin(float& o0, float& o1, float kre, float kim, float g, float cs2, float bound)
{
    constexpr float kScale = 0x1p-32f;
    const float ore = o0, oim = o1;
    const float oo = ore * ore + oim * oim;
    const float kk = kre * kre + kim * kim;
    // A bin of exact zeros has phase 0: the unit vector along the real axis.
    const bool oZero = (ore == 0.0f) & (oim == 0.0f);
    const float ure = oZero ? 1.0f : ore, uim = oZero ? 0.0f : oim, uu = oZero ? 1.0f : oo;
    const float dot = (ure * kre + uim * kim) * kScale;
    const bool inPhase = dot * std::fabs(dot) > bound * ((uu * kScale) * (kk * kScale));
    const bool silence = (kk * cs2 > oo) & inPhase;
    const float re = ore - g * kre, im = oim - g * kim;
    o0 = silence ? 0.0f : re;
    o1 = silence ? 0.0f : im;
}

// The square of the strength the rule takes.
float StrengthSquared(float cappedStrength)
{
    return cappedStrength > 0.0f ? cappedStrength * cappedStrength : 0.0f;
}

SONVELT_ALWAYS_INLINE void QualityBinsFastImplBody(float* o, const float* k, int bins, float g, float cs2,
                                               const float* phaseBound)
{
    for (int j = 0; j < bins; ++j)
        QualityBin(o[2 * j], o[2 * j + 1], k[2 * j], k[2 * j + 1], g, cs2, phaseBound[j]);
}

SONVELT_MULTI_ISA(void, QualityBinsFastImpl,
                  (float* o, const float* k, int bins, float g, float cs2, const float* phaseBound),
                  (o, k, bins, g, cs2, phaseBound))

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

// The quality rule on lanes of split bins: o the original's, k the
// karaoke's, bound[l] the phase bound of lane l; o becomes the result. The
// lanes pass through memory here, so that the loop over them vectorises.
SONVELT_ALWAYS_INLINE void QualityLanes(Lanes& ore, Lanes& oim, Lanes kre, Lanes kim, float g, float cs2,
                                        const float* bound)
{
    alignas(64) float o[2][kLanes], k[2][kLanes];
    std::memcpy(o[0], &ore, sizeof ore);
    std::memcpy(o[1], &oim, sizeof oim);
    std::memcpy(k[0], &kre, sizeof kre);
    std::memcpy(k[1], &kim, sizeof kim);
    for (int l = 0; l < kLanes; ++l) QualityBin(o[0][l], o[1][l], k[0][l], k[1][l], g, cs2, bound[l]);
    std::memcpy(&ore, o[0], sizeof ore);
    std::memcpy(&oim, o[1], sizeof oim);
}

// Split, rule and merge in one pass over the pairs of points k and N - k:
// the bins come out of the split and go into the merge in registers.
SONVELT_ALWAYS_INLINE void QualityFramePassImplBody(float* zo, const float* zk, const float* wr, const float* wi,
                                                    int points, float g, float cs2, const float* phaseBound)
{
    using namespace packed;
    // Point 0 carries bins 0 and N: bin N is dropped, bin 0 is real and
    // counts twice in the one-sided synthesis.
    {
        float o0, o1, kr, ki, yr, yi;
        SplitPair(zo[0], zo[1], zo[2 * points], zo[2 * points + 1], wr[0], wi[0], o0, o1, yr, yi);
        SplitPair(zk[0], zk[1], zk[2 * points], zk[2 * points + 1], wr[0], wi[0], kr, ki, yr, yi);
        QualityBin(o0, o1, kr, ki, g, cs2, phaseBound[0]);
        const float dc = o0 * 2.0f;
        zo[0] = dc + 0.0f;
        zo[1] = dc - 0.0f;
    }
    const int half = points / 2;
    int k = 1;
    for (; k + kLanes <= half; k += kLanes) {
        Lanes ar, ai, br, bi, oxr, oxi, oyr, oyi, kxr, kxi, kyr, kyi;
        const Lanes cr = LoadLanes(wr + k), ci = LoadLanes(wi + k);
        LoadPoints(zo, k, ar, ai);
        LoadPointsReversed(zo, points - k, br, bi);
        SplitPair(ar, ai, br, bi, cr, ci, oxr, oxi, oyr, oyi);
        LoadPoints(zk, k, ar, ai);
        LoadPointsReversed(zk, points - k, br, bi);
        SplitPair(ar, ai, br, bi, cr, ci, kxr, kxi, kyr, kyi);
        QualityLanes(oxr, oxi, kxr, kxi, g, cs2, phaseBound + k);
        alignas(64) float reversed[kLanes];
        for (int l = 0; l < kLanes; ++l) reversed[l] = phaseBound[points - k - l];
        QualityLanes(oyr, oyi, kyr, kyi, g, cs2, reversed);
        MergePair(oxr, oxi, oyr, oyi, cr, ci, ar, ai, br, bi);
        StorePoints(zo, k, ar, ai);
        StorePointsReversed(zo, points - k, br, bi);
    }
    for (; k <= half; ++k) {
        const int m = points - k;
        float oxr, oxi, oyr, oyi, kxr, kxi, kyr, kyi;
        SplitPair(zo[2 * k], zo[2 * k + 1], zo[2 * m], zo[2 * m + 1], wr[k], wi[k], oxr, oxi, oyr, oyi);
        SplitPair(zk[2 * k], zk[2 * k + 1], zk[2 * m], zk[2 * m + 1], wr[k], wi[k], kxr, kxi, kyr, kyi);
        QualityBin(oxr, oxi, kxr, kxi, g, cs2, phaseBound[k]);
        QualityBin(oyr, oyi, kyr, kyi, g, cs2, phaseBound[m]);
        float xr, xi, yr, yi;
        MergePair(oxr, oxi, oyr, oyi, wr[k], wi[k], xr, xi, yr, yi);
        zo[2 * k] = xr;
        zo[2 * k + 1] = xi;
        zo[2 * m] = yr;
        zo[2 * m + 1] = yi;
    }
}

SONVELT_MULTI_ISA(void, QualityFramePassImpl,
                  (float* zo, const float* zk, const float* wr, const float* wi, int points, float g, float cs2,
                   const float* phaseBound),
                  (zo, zk, wr, wi, points, g, cs2, phaseBound))

} // namespace

void QualityBinsFast(float* o, const float* k, int bins, double g, float cappedStrength, const float* phaseBound)
{
    QualityBinsFastImpl(o, k, bins, static_cast<float>(g), StrengthSquared(cappedStrength), phaseBound);
}

void QualityFramePass(float* zo, const float* zk, const float* wr, const float* wi, int points, double g,
                      float cappedStrength, const float* phaseBound)
{
    QualityFramePassImpl(zo, zk, wr, wi, points, static_cast<float>(g), StrengthSquared(cappedStrength),
                         phaseBound);
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
