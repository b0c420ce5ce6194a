// A host that records what the engine shows, and synthetic song pairs.
#pragma once

#include "Host.h"
#include "RunContext.h"
#include "TestUtil.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace testutil {

struct RecordingHost : EngineHost {
    int64_t maximum = -1, position = -1, maxPositionSeen = 0;
    std::vector<std::string> warnings, statuses, titles;
    std::string log;
    int timestamps = 0, pumps = 0, timerStarts = 0;
    bool timerRunning = false;
    std::function<void(int)> onPump; // called with the pump count

    void SetProgressRange(int64_t m) override { maximum = m; }
    void SetProgressPosition(int64_t p) override {
        position = p;
        maxPositionSeen = std::max(maxPositionSeen, p);
    }
    void SetStatusText(const std::string& t) override { statuses.push_back(t); }
    void SetTitle(const std::string& t) override { titles.push_back(t); }
    void ProcessMessages() override {
        ++pumps;
        if (onPump) onPump(pumps);
    }
    void ShowWarning(const std::string& t) override { warnings.push_back(t); }
    void DebugLog(const std::string& t) override { log += t; }
    void LogTimestamp() override { ++timestamps; }
    void StartStatusTimer(int, std::function<void()>) override {
        ++timerStarts;
        timerRunning = true;
    }
    void StopStatusTimer() override { timerRunning = false; }
};

// What a pass needs of a run, for calling passes directly: the stop request,
// the progress and the status a run would own.
struct TestRun {
    StopFlag stop;
    int64_t progress = 0;
    std::string statusText;
    int32_t statusStep = 0;
    RunContext Context(EngineHost& host, int64_t progressMaxBytes = 1) {
        return RunContext(host, stop, progress, progressMaxBytes, statusText, statusStep);
    }
};

// Band-limited noise with a slow envelope: enough structure to align on.
inline std::vector<int16_t> Accompaniment(size_t frames, int channels, uint32_t seed, int amplitude = 4000) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, 1);
    std::vector<int16_t> out(frames * size_t(channels));
    double s[2] = {0, 0};
    for (size_t i = 0; i < frames; ++i) {
        const double env = 0.6 + 0.4 * std::sin(double(i) * 0.0007);
        for (int c = 0; c < channels; ++c) {
            s[c] = 0.7 * s[c] + 0.3 * n(rng);
            out[i * size_t(channels) + size_t(c)] = int16_t(std::lround(amplitude * env * s[c] * 2.0));
        }
    }
    return out;
}

// A voice-like tone in the centre, switched on and off.
inline std::vector<int16_t> Voice(size_t frames, int channels, int rate, int amplitude = 2500) {
    std::vector<int16_t> out(frames * size_t(channels));
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const bool on = std::fmod(t, 1.0) < 0.7;
        const double v = on ? amplitude * std::sin(2 * M_PI * 220 * t) * (0.7 + 0.3 * std::sin(2 * M_PI * 3 * t)) : 0;
        for (int c = 0; c < channels; ++c) out[i * size_t(channels) + size_t(c)] = int16_t(std::lround(v));
    }
    return out;
}

inline std::vector<int16_t> Mix(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    std::vector<int16_t> out(a.size());
    for (size_t i = 0; i < a.size(); ++i) out[i] = int16_t(std::clamp(int(a[i]) + int(b[i]), -32768, 32767));
    return out;
}

// `frames` frames of silence in front of the samples.
inline std::vector<int16_t> Delay(const std::vector<int16_t>& a, size_t frames, int channels) {
    std::vector<int16_t> out(frames * size_t(channels), 0);
    out.insert(out.end(), a.begin(), a.end());
    return out;
}

inline std::vector<int16_t> ReadSamples(const std::string& path) {
    TWaveData w;
    if (w.OpenRead(path) != 0) return {};
    std::vector<int16_t> s(w.DataBytes / 2);
    w.Read(s.data(), int32_t(s.size() * 2));
    return s;
}

// One run of `engine` on `dir`/song.wav and `dir`/kar.wav into `dir`/out.wav;
// the run's report into *report when given. The voice's samples.
inline std::vector<int16_t> RunOnFiles(TVocalMain& engine, EngineHost& host, const CommittedOptions& options,
                                       const std::string& dir, RunReport* report = nullptr) {
    TWaveData original, karaoke, output;
    EXPECT_EQ(original.OpenRead(dir + "/song.wav"), 0);
    EXPECT_EQ(karaoke.OpenRead(dir + "/kar.wav"), 0);
    output.Format = original.Format;
    EXPECT_EQ(output.CreateWrite(dir + "/out.wav"), 0);
    engine.Attach(&host, &options, &original, &karaoke, &output);
    engine.Run(0);
    if (report) *report = engine.LastReport();
    original.Close();
    karaoke.Close();
    output.Close();
    return ReadSamples(dir + "/out.wav");
}

} // namespace testutil
