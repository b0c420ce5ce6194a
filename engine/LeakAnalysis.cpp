#include "LeakAnalysis.h"

#include "FracDelay.h"
#include "RunReport.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <memory>

int MeasureLeak(const AnalysisInputs& in, bool inverted, const std::vector<AlignPoint>& points, KaraokeMap& map)
{
    map.leak = {};
    // Only a run that reads the karaoke along the position can use it.
    if (!map.Valid() || !in.options.AlignFlg) return RunResult::kDone;
    const std::vector<size_t> quiet = QuietestBlocks(points, map.track.Kept());
    if (quiet.empty()) return RunResult::kDone;
    const CommittedOptions& o = in.options;
    const bool mid = o.ProcMode == 2 && in.pair.Channels() == 2;
    const int rate = in.pair.SampleRate();

    // The middle half of each block, which the pass measured (in short
    // blocks enough of the middle for two frames), read with room at either
    // end for the interpolator's and the matching filter's taps.
    const int length = int(std::clamp(double(rate) * o.BlkSec, double(cleanup::kFrame + cleanup::kHop), 1e8));
    constexpr int kEdge = fracdelay::kTaps + kMatchHalfTaps;
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(in.pair.Channels(), rate, (length + 2 * kEdge + 0.5) / rate, 1) != 0 || f->SetupPrecise() != 0)
        return RunResult::kNoMemory;
    f->SetKaraokeInvert(inverted);
    cleanup::LeakEstimator estimator;
    if (estimator.Setup(rate) != 0) return RunResult::kNoMemory;
    const bool match = !map.matchTaps.empty();
    const double gain = match ? 1.0 : map.leastSquaresGain;
    if (!(gain > 0)) return RunResult::kDone;
    const int channels = mid ? 1 : f->channels;
    std::vector<float> voice(size_t(channels) * size_t(length)), reference(voice.size());

    for (size_t q : quiet) {
        const int64_t u = points[q].t - length / 2 - kEdge;
        const std::optional<double> from = map.PositionAt(u), to = map.PositionAt(u + f->blockLen);
        if (!from || !to) continue;
        const double step = (*to - *from) / f->blockLen;
        const int64_t k = int64_t(std::floor(*from)) - kEdge;
        in.pair.ReadOriginal(u, f->origPcm.get(), f->blockLen);
        in.pair.ReadKaraoke(k, f->karPcm.get(), f->karaokeLen);
        f->UnpackInput();
        f->ReadKaraokeAligned(*from - double(k), step, 0, f->blockLen);
        if (match) f->FilterAligned(map.matchTaps.data(), kMatchHalfTaps, kEdge, length);
        for (int c = 0; c < channels; ++c) {
            float* y = voice.data() + size_t(c) * size_t(length);
            float* r = reference.data() + size_t(c) * size_t(length);
            for (int i = 0; i < length; ++i) {
                const int x = kEdge + i;
                double orig = f->orig[c][x], kar = f->KaraokeAligned(c)[x];
                if (mid) {
                    orig = 0.5 * (double(f->orig[0][x]) + f->orig[1][x]);
                    kar = 0.5 * (double(f->KaraokeAligned(0)[x]) + f->KaraokeAligned(1)[x]);
                }
                r[i] = float(gain * kar);
                y[i] = float(orig - gain * kar);
            }
            estimator.AddStretch(y, r, length);
        }
    }
    map.leak = estimator.Estimate();
    const double leakDb = map.leak.VoiceBandLeakDb(rate);
    in.run.DebugPrint("Leak blocks:%d frames:%d voice band:%f dB cutoff:%d\n", int(quiet.size()), estimator.Frames(),
                      leakDb, map.leak.cutoffBin);
    // Where the removal leaves nearly as much as it takes out, the karaoke
    // does not account for the accompaniment (another song, a wrong place):
    // a suppressor guided by it would take the voice for residue.
    if (map.leak.Valid() && leakDb > kMaxLeakDb) map.leak = {};
    return RunResult::kDone;
}
