// Timings of the processing buffer's hot loops: the per-block shift and gain
// searches, oversampling and the longest FIR filter, each with the plain
// reference loops (kernel:0) and with the fast kernels built for the baseline
// x86-64 (kernel:1), AVX2 (kernel:2) and AVX-512 (kernel:3).
//
//   build/<dir>/bench/bench_dsp [--benchmark_filter=...]
#include "FirUnit.h"
#include "FracDelay.h"
#include "SampleMath.h"
#include "Vfunc.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 44100;

// Selects the kernels for state.range(0); false when this CPU cannot run them.
bool SelectKernels(benchmark::State& state, bool& reference)
{
    const int k = int(state.range(0));
    reference = k == 0;
    const Isa isa = k <= 1 ? Isa::Baseline : k == 2 ? Isa::Avx2 : Isa::Avx512;
    if (static_cast<int>(isa) > static_cast<int>(DetectedIsa())) {
        state.SkipWithError("not supported by this CPU");
        return false;
    }
    ForceIsa(isa);
    state.SetLabel(reference ? "reference" : IsaName(isa));
    return true;
}

void KernelArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("kernel");
    for (int k = 0; k <= 3; ++k) b->Arg(k);
}

// A few partials under a slow envelope with some noise: music-like material,
// different in each channel.
std::vector<int32_t> Music(int n, unsigned seed, double level)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    const double freqs[] = {110.0, 164.8, 440.7, 659.3, 1318.5, 3520.0};
    const double amps[] = {0.35, 0.25, 0.2, 0.12, 0.06, 0.02};
    double ph[6];
    for (double& p : ph) p = phase(rng);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const double envelope = 0.55 + 0.45 * std::sin(2.0 * std::numbers::pi * 2.1 * t);
        double s = 0.0;
        for (int k = 0; k < 6; ++k) s += amps[k] * std::sin(2.0 * std::numbers::pi * freqs[k] * t + ph[k]);
        s = s * envelope + 0.01 * noise(rng);
        v[size_t(i)] = int32_t(std::clamp(s * level, -32768.0, 32767.0));
    }
    return v;
}

// A buffer holding one stereo block: karaoke = accompaniment, original =
// accompaniment `shift` frames further on plus a voice.
struct Block {
    TVocalFunc vf;
    int range = 20;
    int shift = 27;
    explicit Block(int factor = 1)
    {
        vf.Setup(2, kRate, 0.2, factor);
        for (int c = 0; c < 2; ++c) {
            const auto accomp = Music(vf.karaokeLen, 10 + unsigned(c), 20000.0);
            const auto voice = Music(vf.blockLen, 20 + unsigned(c), 5000.0);
            for (int i = 0; i < vf.karaokeLen; ++i) vf.kar[c][i] = accomp[size_t(i)];
            for (int i = 0; i < vf.blockLen; ++i) vf.orig[c][i] = accomp[size_t(i + shift)] + voice[size_t(i)];
        }
        vf.MakeMid();
        if (factor > 1) {
            vf.OversampleKaraoke();
            vf.OversampleKaraokeMono();
        }
    }
};

void BM_FindShiftStereo(benchmark::State& state)
{
    Block b;
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    b.vf.UseReferenceKernels(reference);
    for (auto _ : state) {
        const int found = b.vf.FindShiftStereo(b.range, b.range, 1);
        if (found != b.shift) state.SkipWithError("wrong shift");
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * (2 * b.range + 1));  // candidates
}
BENCHMARK(BM_FindShiftStereo)->Apply(KernelArgs)->Unit(benchmark::kMicrosecond);

void BM_FindShiftOvspStereo(benchmark::State& state)
{
    const int f = int(state.range(1));
    Block b(f);
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    b.vf.UseReferenceKernels(reference);
    for (auto _ : state) {
        // Coarse then fine, as per block in the oversampled waveform merge.
        const int coarse = b.vf.FindShiftOvspStereo(b.range * f, b.range * f, f);
        const int fine = b.vf.FindShiftOvspStereo(coarse, f - 1, 1);
        // The voice may pull the best match a fraction of a frame aside.
        if (std::abs(fine - b.shift * f) >= f) state.SkipWithError("wrong shift");
        benchmark::DoNotOptimize(fine);
    }
}
BENCHMARK(BM_FindShiftOvspStereo)
    ->ArgsProduct({{0, 1, 2, 3}, {8, 32}})
    ->ArgNames({"kernel", "factor"})
    ->Unit(benchmark::kMicrosecond);

void BM_FindGainStereo(benchmark::State& state)
{
    Block b;
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    b.vf.UseReferenceKernels(reference);
    for (auto _ : state) {
        const double g1 = b.vf.FindGainStereo(b.shift, 0.02, 0.2, 1.0);
        const double g2 = b.vf.FindGainStereo(b.shift, 0.002, 0.03, g1);
        benchmark::DoNotOptimize(g2);
    }
}
BENCHMARK(BM_FindGainStereo)->Apply(KernelArgs)->Unit(benchmark::kMicrosecond);

void BM_OversampleKaraoke32(benchmark::State& state)
{
    Block b(32);
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    for (auto _ : state) {
        b.vf.OversampleKaraoke();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2 * int64_t(b.vf.karaokeLen) * 32);
}
BENCHMARK(BM_OversampleKaraoke32)->ArgName("kernel")->DenseRange(1, 3)->Unit(benchmark::kMicrosecond);

// A 1001-tap high-pass (60 dB at 230 Hz) over one second of stereo.
void BM_HighPass1001(benchmark::State& state)
{
    CFIRUnit filters[2];
    std::vector<int32_t> in[2], out(kRate);
    for (int c = 0; c < 2; ++c) {
        filters[c].Design(kRate, CFIRUnit::FilterType::HighPass, 60.0f, 230.0f, 230.0f * 0.75f);
        in[c] = Music(kRate, 30 + unsigned(c), 20000.0);
    }
    if (filters[0].TapCount() != 1001) state.SkipWithError("expected 1001 taps");
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    for (auto _ : state) {
        for (int c = 0; c < 2; ++c) {
            if (reference)
                filters[c].FilterReference(in[c].data(), kRate, out.data());
            else
                filters[c].Filter(in[c].data(), kRate, out.data());
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * kRate);
}
// Reading 8,192 samples along a fitted position (a tiny drift, so the phase
// holds for hundreds of samples), as the aligned read of each block does.
void BM_ReadAlong(benchmark::State& state)
{
    bool reference = false;
    if (!SelectKernels(state, reference)) return;
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> a(kRate);
    for (float& v : a) v = noise(rng);
    std::vector<float> out(8192);
    const double step = 1.0 + 2e-6;
    for (auto _ : state) {
        if (reference)
            fracdelay::ReadAlongReference(a.data(), int64_t(a.size()), 1000.25, step, int(out.size()), out.data());
        else
            fracdelay::ReadAlong(a.data(), int64_t(a.size()), 1000.25, step, int(out.size()), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(out.size()));
}
BENCHMARK(BM_ReadAlong)->Apply(KernelArgs)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_HighPass1001)->Apply(KernelArgs)->Unit(benchmark::kMillisecond);

} // namespace
