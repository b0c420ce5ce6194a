// Song pairs in a temporary folder for the command-line tests.
#pragma once

#include "CliRun.h"
#include "EngineFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace testutil {

class CliPairs : public ::testing::Test {
protected:
    TempDir dir;
    // A song and its karaoke, the karaoke 0.2 s late at 0.9 of the level.
    void MakePair(const std::string& stem, size_t seconds, uint32_t seed,
                  const std::string& karaokeName = "", double karaokeSeconds = -1) {
        const size_t frames = seconds * 44100;
        const auto accomp = Accompaniment(frames, 2, seed);
        auto kar = Delay(accomp, 8820, 2);
        for (auto& v : kar) v = int16_t(v * 0.9);
        if (karaokeSeconds >= 0) kar.resize(size_t(karaokeSeconds * 44100) * 2);
        WriteFile(dir / (stem + ".wav"), Wave16(2, 44100, Mix(accomp, Voice(frames, 2, 44100))));
        WriteFile(dir / (karaokeName.empty() ? stem + " (karaoke).wav" : karaokeName), Wave16(2, 44100, kar));
    }
    std::string Q(const std::string& name) { return ShellQuote(dir / name); }
    bool Exists(const std::string& name) { return std::filesystem::exists(dir / name); }
    // Names in the folder that are temporaries of a run.
    std::vector<std::string> Temporaries() {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".sonvelt-tmp-") != std::string::npos)
                out.push_back(e.path().filename().string());
        return out;
    }
};

// Each line of standard output as a JSON object.
inline std::vector<QJsonObject> JsonLines(const std::string& out) {
    std::vector<QJsonObject> objects;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(doc.isObject()) << line;
        objects.push_back(doc.object());
    }
    return objects;
}

inline std::string Str(const QJsonObject& o, const char* key) { return o.value(key).toString().toStdString(); }

} // namespace testutil
