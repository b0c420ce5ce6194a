// The shift and gain searches of the processing buffer, bound to its arrays.
#include "Vfunc.h"

#include <algorithm>
#include <cstdlib>

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
    m.scratch = gainScratch.get();
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
    m.scratch = gainScratch.get();
    return m;
}

int TVocalFunc::FindShiftPlain(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, blockLen), search::Cost::Abs, center, range, step, view_.impl);
}

int TVocalFunc::FindShiftStereo(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(StereoSet(false), search::Cost::AbsSlope, center, range, step, view_.impl);
}

int TVocalFunc::FindShiftMono(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, blockLen), search::Cost::AbsSlope, center, range, step, view_.impl);
}

int TVocalFunc::FindShiftMonoN(int center, int range, int count, int step, const std::function<void()>& pump) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(false, count), search::Cost::AbsSlope, center, range, step, view_.impl, pump);
}

int TVocalFunc::FindShiftOvspStereo(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(StereoSet(true), search::Cost::AbsSlope, center, range, step, view_.impl);
}

int TVocalFunc::FindShiftOvspMono(int center, int range, int step) const
{
    if (blockLen <= 0) return center;
    return search::FindShift(MonoSet(true, blockLen), search::Cost::AbsSlope, center, range, step, view_.impl);
}

double TVocalFunc::FindGainStereo(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainCenterOut(StereoSet(false), shift, step, range, center, view_.impl);
}

double TVocalFunc::FindGainMono(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainCenterOut(MonoSet(false, blockLen), shift, step, range, center, view_.impl);
}

double TVocalFunc::FindGainOvspStereo(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainAscending(StereoSet(true), shift, step, range, center, view_.impl);
}

double TVocalFunc::FindGainOvspMono(int shift, double step, double range, double center) const
{
    if (blockLen <= 0) return center;
    return search::FindGainAscending(MonoSet(true, blockLen), shift, step, range, center, view_.impl);
}

TVocalFunc::ResidualSum TVocalFunc::SumResidual(int shift, int start, int count, bool mid) const
{
    ResidualSum r;
    if (blockLen <= 0) return r;
    const int from = std::clamp(start, 0, blockLen);
    const int to = static_cast<int>(std::clamp(static_cast<int64_t>(start) + std::max(count, 0), int64_t{0}, int64_t{blockLen}));
    const int32_t* o0 = orig[0].get();
    const int32_t* o1 = orig[1].get();
    // The karaoke is 0 outside its array: the part of the range that reads
    // inside it runs without checks.
    const int64_t len = karaokeLen;
    const int inFrom = static_cast<int>(std::clamp<int64_t>(-static_cast<int64_t>(shift), from, to));
    const int inTo = static_cast<int>(std::clamp<int64_t>(len - shift, inFrom, to));
    auto karAt = [&](int c, int i) {
        const int64_t idx = static_cast<int64_t>(shift) + i;
        return idx >= 0 && idx < len ? kar[c][idx] : 0;
    };
    // With gain 1 the subtractions are exact: orig - kar, and for the mid
    // signal the difference of the sums halved towards zero, on both channels.
    auto add = [&](int i, int32_t k0, int32_t k1) {
        if (mid) {
            const int32_t d = (o0[i] + o1[i]) - (k0 + k1);
            r.voice += 2 * static_cast<uint64_t>(std::abs(d / 2));
        } else {
            r.voice += static_cast<uint64_t>(std::abs(o0[i] - k0)) + static_cast<uint64_t>(std::abs(o1[i] - k1));
        }
    };
    for (int i = from; i < inFrom; ++i) add(i, karAt(0, i), karAt(1, i));
    {
        const int32_t* k0 = kar[0].get();
        const int32_t* k1 = kar[1].get();
        uint64_t voice = 0;
        if (mid) {
            for (int i = inFrom; i < inTo; ++i)
                voice += 2 * static_cast<uint64_t>(std::abs(((o0[i] + o1[i]) - (k0[shift + i] + k1[shift + i])) / 2));
        } else {
            for (int i = inFrom; i < inTo; ++i)
                voice += static_cast<uint64_t>(std::abs(o0[i] - k0[shift + i])) +
                         static_cast<uint64_t>(std::abs(o1[i] - k1[shift + i]));
        }
        r.voice += voice;
    }
    for (int i = inTo; i < to; ++i) add(i, karAt(0, i), karAt(1, i));
    for (int i = from; i < to; ++i)
        r.original += static_cast<uint64_t>(std::abs(o0[i])) + static_cast<uint64_t>(std::abs(o1[i]));
    return r;
}
