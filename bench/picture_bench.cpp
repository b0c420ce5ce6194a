// Timings of the picture of a run for a 4-minute song: reading the two
// spectrograms (the original and the voice, as many columns as the command
// line's picture has pixels), drawing the picture, and both.
//
//   build/<dir>/bench/bench_picture [--benchmark_filter=...]
//
// SONVELT_BENCH_SONG names a 16-bit WAVE file to read as both recordings;
// without it a 4-minute stereo song is generated in the temporary folder.
#include "RunPicture.h"
#include "Twave.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRate = 44100;

// A file of this process's own in the temporary folder.
std::string Temporary(const std::string& suffix) {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder ? folder : "/tmp") + "/sonvelt-bench-picture-" + std::to_string(::getpid()) + suffix;
}

// Partials under a slow envelope with some noise, 4 minutes, stereo.
std::string GeneratedSong() {
    static const std::string path = [] {
        const std::string p = Temporary(".wav");
        TWaveData out;
        out.Format = {1, 2, kRate, kRate * 4, 4, 16, 0};
        if (out.CreateWrite(p) != 0) return std::string();
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0.0, 1.0);
        const double freqs[] = {110.0, 220.7, 440.0, 659.3, 1318.5, 3520.0};
        std::vector<int16_t> block(2 * 4096);
        for (int64_t at = 0; at < int64_t(240) * kRate; at += 4096) {
            for (int i = 0; i < 4096; ++i) {
                const double t = double(at + i) / kRate;
                double s = 0;
                for (int k = 0; k < 6; ++k) s += std::sin(2 * std::numbers::pi * freqs[k] * t * (1 + 0.01 * k)) / (k + 2);
                s = s * (0.55 + 0.45 * std::sin(2 * std::numbers::pi * 0.3 * t)) + 0.01 * noise(rng);
                block[size_t(2 * i)] = block[size_t(2 * i + 1)] = int16_t(std::lround(12000 * s));
            }
            out.Write(block.data(), int32_t(block.size() * sizeof(int16_t)));
        }
        out.Close();
        std::atexit([] { std::remove(GeneratedSong().c_str()); });
        return p;
    }();
    return path;
}

std::string Song() {
    const char* given = std::getenv("SONVELT_BENCH_SONG");
    return given && *given ? given : GeneratedSong();
}

RunPicture Report(const TWaveData& wave) {
    RunPicture p;
    RunReport& r = p.report;
    r.extracted = r.analysed = true;
    r.sampleRate = int(wave.Format.nSamplesPerSec);
    r.channels = wave.Format.nChannels;
    r.originalFrames = r.framesWritten = wave.DataBytes / wave.Format.nBlockAlign;
    const double seconds = double(r.originalFrames) / r.sampleRate;
    for (double t = 0.5; t < seconds; t += 0.4)
        r.analysis.blocks.push_back({int64_t(t * r.sampleRate), 0.001 * std::sin(t), 0.1});
    for (int s = 0; s < int(seconds); ++s) r.removalDbPerSecond.push_back(-5 - 20 * std::fabs(std::sin(s)));
    p.karaokeName = "karaoke.wav";
    return p;
}

bool Open(benchmark::State& state, TWaveData& original, TWaveData& voice) {
    const std::string song = Song();
    if (song.empty() || original.OpenRead(song) != 0 || voice.OpenRead(song) != 0) {
        state.SkipWithError("no song to read");
        return false;
    }
    return true;
}

void ReadSpectrograms(benchmark::State& state) {
    TWaveData original, voice;
    if (!Open(state, original, voice)) return;
    RunPicture p = Report(original);
    const int columns = LayoutRunPicture(p, kPlotSize).lanes[0].width();
    for (auto _ : state) {
        ReadRunPictureSpectrograms(p, original, &voice, columns);
        benchmark::DoNotOptimize(p.voice.db.data());
    }
}
BENCHMARK(ReadSpectrograms)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void Draw(benchmark::State& state) {
    TWaveData original, voice;
    if (!Open(state, original, voice)) return;
    RunPicture p = Report(original);
    ReadRunPictureSpectrograms(p, original, &voice, LayoutRunPicture(p, kPlotSize).lanes[0].width());
    for (auto _ : state) benchmark::DoNotOptimize(DrawRunPicture(p, kPlotSize, Language::English));
}
BENCHMARK(Draw)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// What --plot adds to a run: both spectrograms, the picture, the PNG.
void Whole(benchmark::State& state) {
    TWaveData original, voice;
    if (!Open(state, original, voice)) return;
    RunPicture p = Report(original);
    const std::string png = Temporary(".png");
    for (auto _ : state) {
        ReadRunPictureSpectrograms(p, original, &voice, LayoutRunPicture(p, kPlotSize).lanes[0].width());
        if (!SaveRunPicture(DrawRunPicture(p, kPlotSize, Language::English), png, true).empty())
            state.SkipWithError("the picture could not be written");
    }
    std::remove(png.c_str());
}
BENCHMARK(Whole)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv) {
    PaintingApplication painting;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
