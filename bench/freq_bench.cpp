// Frame rates of the spectral stages: one ThVocalFFT stream in each mode, the
// centre focus, the stereo frequency merge on both worker threads, and the
// per-bin rules alone (and in one pass with the transforms' split and merge).
// kernel:0 is the literal reference (atan2 per bin, complex transforms; for
// the frame pass, the separate passes), kernel:1 the default.
// items_per_second is frames per second (one frame per 1024 samples and
// channel).
//
//   build/<dir>/bench/bench_spectral [--benchmark_filter=...]
#include "Cntrfocus.h"
#include "FFT.h"
#include "FreqSignals.h"
#include "BinKernels.h"
#include "Thvofft.h"
#include "Vfunc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using spectraltest::kFrame;
using spectraltest::kHop;
constexpr int kFramesPerIteration = 32;
constexpr int kSamples = kFramesPerIteration * kHop;

using spectraltest::Music;

// The original: accompaniment plus a voice; the karaoke: the accompaniment.
struct Material {
    std::vector<int32_t> accomp = Music(kSamples, 1, 9000.0);
    std::vector<int32_t> orig = Music(kSamples, 2, 3000.0);
    std::vector<int32_t> right = Music(kSamples, 3, 6000.0);
    std::vector<int32_t> out = std::vector<int32_t>(kSamples);
    Material()
    {
        for (int i = 0; i < kSamples; ++i) {
            orig[i] += accomp[i];
            right[i] += orig[i] / 2;
        }
    }
};

void KernelArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("kernel")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

void BM_WorkerStream(benchmark::State& state, int mode)
{
    ThVocalFFT worker;
    worker.UseReferenceKernels(state.range(0) == 0);
    if (worker.Configure(kFrame, 8, mode, 1.2f) != 0) {
        state.SkipWithError("configure failed");
        return;
    }
    Material m;
    state.SetLabel(state.range(0) == 0 ? "reference" : "fast");
    // Runs on this thread: the stream alone, without the hand-over.
    for (auto _ : state) {
        worker.Run(m.orig.data(), m.accomp.data(), 0.95, m.out.data(), kSamples);
        benchmark::DoNotOptimize(m.out.data());
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}
BENCHMARK_CAPTURE(BM_WorkerStream, quality_first, 0)->Apply(KernelArgs);
BENCHMARK_CAPTURE(BM_WorkerStream, extraction_first, 1)->Apply(KernelArgs);

void BM_CenterFocus(benchmark::State& state)
{
    CenterFocus cf;
    cf.UseReferenceKernels(state.range(0) == 0);
    if (cf.Configure(kFrame, 8, 2.0f) != 0) {
        state.SkipWithError("configure failed");
        return;
    }
    Material m;
    std::vector<int32_t> outR(kSamples);
    state.SetLabel(state.range(0) == 0 ? "reference" : "fast");
    for (auto _ : state) {
        cf.Process(m.orig.data(), m.right.data(), outR.data(), m.out.data(), kSamples);
        benchmark::DoNotOptimize(outR.data());
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}
BENCHMARK(BM_CenterFocus)->Apply(KernelArgs);

// Both channels through SpectralSubtractStereo: the two workers in parallel,
// with the hand-over. Frames are counted per channel.
void BM_SpectralSubtractStereo(benchmark::State& state)
{
    TVocalFunc f;
    if (f.Setup(2, kSamples, 1.0, 1) != 0 || f.SetupSpectral(int(state.range(0)), 1.2f) != 0) {
        state.SkipWithError("setup failed");
        return;
    }
    Material m;
    for (int c = 0; c < 2; ++c) {
        std::copy(m.orig.begin(), m.orig.end(), f.orig[c].get());
        std::copy(m.accomp.begin(), m.accomp.end(), f.kar[c].get());
    }
    for (auto _ : state) f.SpectralSubtractStereo(0, kSamples, 0.95, 0);
    state.SetItemsProcessed(state.iterations() * 2 * kFramesPerIteration);
}
BENCHMARK(BM_SpectralSubtractStereo)->ArgName("mode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The per-bin rule of quality-first mode on one frame's 4096 bins.
void BM_QualityBins(benchmark::State& state)
{
    const int bins = kFrame / 2;
    std::mt19937 rng(5);
    std::normal_distribution<float> u(0.0f, 1000.0f);
    std::vector<float> o(2 * bins), k(2 * bins), work(2 * bins), threshold(bins);
    std::vector<float> bounds(bins);
    for (int i = 0; i < 2 * bins; ++i) {
        o[i] = u(rng);
        k[i] = u(rng);
    }
    for (int j = 0; j < bins; ++j) {
        threshold[j] = std::max(0.15f, static_cast<float>(std::numbers::pi * (j + 1) / bins)) * 1.2f;
        bounds[j] = spectral::PhaseBound(threshold[j]);
    }
    const bool reference = state.range(0) == 0;
    state.SetLabel(reference ? "reference" : "fast");
    for (auto _ : state) {
        work = o;
        if (reference)
            spectral::QualityBinsReference(work.data(), k.data(), bins, 0.95, 1.2f, threshold.data());
        else
            spectral::QualityBinsFast(work.data(), k.data(), bins, 0.95, 1.2f, bounds.data());
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QualityBins)->ArgName("kernel")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One frame of the quality-first merge, from the two windowed frames to the
// inverse transform: split, rule and merge as separate passes (kernel:0) or
// as one pass (kernel:1, what the stream runs), the transforms included.
void BM_QualityFrame(benchmark::State& state)
{
    const int n = kFrame, bins = n / 2;
    CPackedRealFFT fft;
    SampleArray<float> o, k, y, zo, zk;
    bool ok = fft.Init(n) == 0;
    for (SampleArray<float>* a : {&o, &k, &y}) ok = ok && buffer_util::AllocateAligned(*a, size_t(n));
    for (SampleArray<float>* a : {&zo, &zk}) ok = ok && buffer_util::AllocateAligned(*a, size_t(n) + 2);
    if (!ok) {
        state.SkipWithError("setup failed");
        return;
    }
    Material m;
    for (int j = 0; j < n; ++j) {
        o[j] = float(m.orig[j]);
        k[j] = float(m.accomp[j]);
    }
    std::vector<float> bounds(bins);
    for (int j = 0; j < bins; ++j)
        bounds[j] = spectral::PhaseBound(std::max(0.15, std::numbers::pi * (j + 1) / bins) * 1.2);
    const bool onePass = state.range(0) == 1;
    state.SetLabel(onePass ? "one pass" : "separate passes");
    for (auto _ : state) {
        if (onePass) {
            fft.ForwardPoints(o.get(), zo.get());
            fft.ForwardPoints(k.get(), zk.get());
            spectral::QualityFramePass(zo.get(), zk.get(), fft.TwiddleCos(), fft.TwiddleSin(), bins, 0.95, 1.2f,
                                       bounds.data());
            fft.InversePoints(zo.get(), y.get());
        } else {
            fft.Forward(o.get(), zo.get());
            fft.Forward(k.get(), zk.get());
            spectral::QualityBinsFast(zo.get(), zk.get(), bins, 0.95, 1.2f, bounds.data());
            zo[n] = zo[n + 1] = 0.0f;
            zo[0] *= 2.0f;
            zo[1] = 0.0f;
            fft.Inverse(zo.get(), y.get());
        }
        benchmark::DoNotOptimize(y.get());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QualityFrame)->ArgName("kernel")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
