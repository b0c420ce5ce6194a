#include "JobRunner.h"

#include "DebugLog.h"
#include "EngineFixture.h"
#include "JobSetup.h"
#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace testutil;

namespace {

constexpr int kRate = 44100;

// Forwards the engine's log to the debug log, as both front ends do.
struct LoggingHost : RecordingHost {
    class DebugLog* file = nullptr;
    void DebugLog(const std::string& t) override { file->Write(t); }
    void LogTimestamp() override { file->WriteLogTimestamp(); }
};

class JobRunner : public ::testing::Test {
protected:
    TempDir dir;
    CommittedOptions options;
    DebugLog log;
    LoggingHost host;
    TVocalMain engine;
    TWaveData original, karaoke, output;
    JobRequest request;

    void SetUp() override {
        CommitOptions(ProcessingOptions{}, options);
        const size_t frames = 3 * kRate;
        const auto accomp = Accompaniment(frames, 2, 21);
        WriteFile(dir / "song.wav", Wave16(2, kRate, Mix(accomp, Voice(frames, 2, kRate))));
        WriteFile(dir / "song_karaoke.wav", Wave16(2, kRate, Delay(accomp, 2205, 2)));
        request.original = dir / "song.wav";
        request.karaoke = dir / "song_karaoke.wav";
        request.output = dir / "voice.wav";
        ScriptedDialogs dialogs;
        ASSERT_TRUE(PrepareJob(request, original, karaoke, output, dialogs));
        host.file = &log;
        log.DebugMode = true;
    }

    std::string LogText() {
        std::ifstream in(dir / "song.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void ExpectEverythingClosed() {
        EXPECT_FALSE(original.IsOpen());
        EXPECT_FALSE(karaoke.IsOpen());
        EXPECT_FALSE(output.IsOpen());
        EXPECT_FALSE(log.IsOpen());
    }
};

} // namespace

TEST_F(JobRunner, RunsWithTheLogBesideTheOriginalAndClosesEverything) {
    EXPECT_EQ(RunPreparedJob(engine, host, log, &options, request, original, karaoke, output), 0);
    ExpectEverythingClosed();
    // What the engine logged during the run reached the file.
    EXPECT_NE(LogText().find("BaseOfs"), std::string::npos) << LogText();
    EXPECT_FALSE(engine.LastReport().stopped);
    EXPECT_EQ(ReadSamples(dir / "voice.wav").size(), size_t(3 * kRate * 2));
}

TEST_F(JobRunner, AStoppedRunStillClosesEverything) {
    host.onPump = [&](int n) {
        if (n == 3) engine.Cancel = 1;
    };
    EXPECT_EQ(RunPreparedJob(engine, host, log, &options, request, original, karaoke, output), 0);
    ExpectEverythingClosed();
    EXPECT_TRUE(engine.LastReport().stopped);
}
