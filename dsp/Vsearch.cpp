// The shift and gain searches of the processing buffer, bound to its arrays.
#include "Vfunc.h"

#include <algorithm>

search::MatchSet TVocalFunc::StereoSet(bool oversampled) const
{
    search::MatchSet m;
    for (int c = 0; c < 2; ++c) {
        m.orig[c] = orig[c].get();
        m.kar[c] = oversampled ? karOvsp[c].get() : kar[c].get();
    }
    m.pairs = channels > 1 ? 2 : 1;
    m.count = blockLen;
    m.stride = oversampled ? ovspFactor : 1;
    m.karLen = oversampled ? static_cast<int64_t>(karaokeLen) * ovspFactor : karaokeLen;
    return m;
}

search::MatchSet TVocalFunc::MonoSet(bool oversampled, int count) const
{
    search::MatchSet m;
    m.orig[0] = origMono.get();
    m.kar[0] = oversampled ? karMonoOvsp.get() : karMono.get();
    m.pairs = 1;
    m.count = std::clamp(count, 0, blockLen);
    m.stride = oversampled ? ovspFactor : 1;
    m.karLen = oversampled ? static_cast<int64_t>(karaokeLen) * ovspFactor : karaokeLen;
    return m;
}

int TVocalFunc::FindShiftPlain(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, blockLen), search::Cost::Abs, center, range, step, impl_);
}

int TVocalFunc::FindShiftStereo(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(StereoSet(false), search::Cost::AbsSlope, center, range, step, impl_);
}

int TVocalFunc::FindShiftMono(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, blockLen), search::Cost::AbsSlope, center, range, step, impl_);
}

int TVocalFunc::FindShiftMonoN(int center, int range, int count, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, count), search::Cost::AbsSlope, center, range, step, impl_);
}

int TVocalFunc::FindShiftOvspStereo(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(StereoSet(true), search::Cost::AbsSlope, center, range, step, impl_);
}

int TVocalFunc::FindShiftOvspMono(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(true, blockLen), search::Cost::AbsSlope, center, range, step, impl_);
}

double TVocalFunc::FindGainStereo(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainCenterOut(StereoSet(false), shift, step, range, center, impl_);
}

double TVocalFunc::FindGainMono(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainCenterOut(MonoSet(false, blockLen), shift, step, range, center, impl_);
}

double TVocalFunc::FindGainOvspStereo(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainAscending(StereoSet(true), shift, step, range, center, impl_);
}

double TVocalFunc::FindGainOvspMono(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainAscending(MonoSet(true, blockLen), shift, step, range, center, impl_);
}
