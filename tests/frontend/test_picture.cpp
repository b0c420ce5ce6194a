// The picture of a run: the spectrograms read from files, each lane drawn
// from what the report holds, and the picture written beside its name.
#include "RunPicture.h"
#include "Spectrogram.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

using namespace testutil;

namespace {

constexpr int kRate = 44100;
using Lane = RunPictureLayout::Lane;

// A stereo sine of `seconds` at `hz` and `amplitude` (of full scale), then
// `silence` seconds of nothing.
std::vector<int16_t> Tone(double hz, double amplitude, double seconds, double silence = 0) {
    const size_t sound = size_t(seconds * kRate), frames = sound + size_t(silence * kRate);
    std::vector<int16_t> s(frames * 2, 0);
    for (size_t i = 0; i < sound; ++i)
        s[2 * i] = s[2 * i + 1] = int16_t(std::lround(32767 * amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate)));
    return s;
}

int Luminance(QRgb c) { return qGray(c); }
bool Near(QRgb c, const QColor& want) {
    return std::abs(qRed(c) - want.red()) + std::abs(qGreen(c) - want.green()) + std::abs(qBlue(c) - want.blue()) < 24;
}

class Picture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { painting = std::make_unique<PaintingApplication>(); }
    static void TearDownTestSuite() { painting.reset(); }
    static inline std::unique_ptr<PaintingApplication> painting;

    TempDir dir;
    int files = 0;

    // The spectrogram of `samples`, written as a file and read back.
    Spectrogram Read(const std::vector<int16_t>& samples, int columns, int64_t frames = -1) {
        const std::string path = dir / ("song" + std::to_string(files++) + ".wav");
        WriteFile(path, Wave16(2, kRate, samples));
        TWaveData wave;
        EXPECT_EQ(wave.OpenRead(path), 0);
        Spectrogram s;
        EXPECT_TRUE(ReadSpectrogram(wave, frames < 0 ? int64_t(samples.size() / 2) : frames, columns, kPictureMaxHz, s));
        return s;
    }

    // A finished run over a 3 s song, with nothing measured yet.
    static RunPicture Run() {
        RunPicture p;
        p.report.extracted = p.report.analysed = true;
        p.report.sampleRate = kRate;
        p.report.channels = 2;
        p.report.originalFrames = p.report.framesWritten = 3 * kRate;
        p.karaokeName = "karaoke.wav";
        return p;
    }
};

TEST_F(Picture, ASpectrogramShowsAToneAtItsBinAndLevelAndSilenceAtTheFloor) {
    // 2 s of 1 kHz at -6 dB, 1 s of silence, into 30 columns.
    const Spectrogram s = Read(Tone(1000, 0.5, 2, 1), 30);
    ASSERT_EQ(s.columns, 30);
    EXPECT_EQ(s.db.size(), size_t(s.columns) * size_t(s.bins)); // the columns' memory, however long the song
    EXPECT_NEAR(s.columns * s.secondsPerColumn, 3.0, 0.03);
    EXPECT_NEAR((s.bins - 1) * s.binHz, kPictureMaxHz, s.binHz);
    const int toneBin = int(std::lround(1000 / s.binHz));
    for (int c = 0; c < s.columns; ++c) {
        SCOPED_TRACE(c);
        int peak = 0;
        for (int b = 1; b < s.bins; ++b)
            if (s.At(c, b) > s.At(c, peak)) peak = b;
        if ((c + 1) * s.secondsPerColumn < 1.98) {
            EXPECT_EQ(peak, toneBin);
            EXPECT_NEAR(s.At(c, peak), 20 * std::log10(0.5), 1.0);
        } else if (c * s.secondsPerColumn > 2.03) {
            EXPECT_LE(s.At(c, peak), -100);
        }
    }
    // Only the frames asked for are read, past the file's end as silence;
    // a short recording gets one column per transform.
    const Spectrogram part = Read(Tone(1000, 0.5, 3), 30, kRate);
    EXPECT_NEAR(part.columns * part.secondsPerColumn, 1.0, 0.03);
    const Spectrogram beyond = Read(Tone(1000, 0.5, 1), 8, 2 * kRate);
    EXPECT_GT(beyond.At(0, toneBin), -10);
    EXPECT_LE(beyond.At(7, toneBin), -100);
    const Spectrogram brief = Read(Tone(1000, 0.5, 0.05), 100);
    EXPECT_EQ(brief.columns, 3); // 2205 frames, 1024 a transform

    TWaveData closed;
    Spectrogram none;
    EXPECT_FALSE(ReadSpectrogram(closed, kRate, 10, kPictureMaxHz, none));
    EXPECT_TRUE(none.Empty());
}

TEST_F(Picture, IsAtLeastItsSmallestSizeAndNotBlank) {
    RunPicture p = Run();
    p.original = Read(Tone(440, 0.3, 3), 200);
    p.voice = Read(Tone(880, 0.3, 3), 200);
    p.report.removalDbPerSecond = {-20, -10, -30};
    for (const auto& [asked, drawn] : {std::pair{QSize(1400, 800), QSize(1400, 800)},
                                       std::pair{QSize(640, 300), QSize(1000, 500)},
                                       std::pair{QSize(1200, 400), QSize(1200, 500)}}) {
        const QImage image = DrawRunPicture(p, asked, Language::English);
        EXPECT_EQ(image.size(), drawn);
        EXPECT_EQ(LayoutRunPicture(p, asked).size, drawn);
    }
    const QImage image = DrawRunPicture(p, kPlotSize, Language::Chinese);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 200);
}

TEST_F(Picture, AToneShowsAtItsRowAndTheVoiceOnTheOriginalsColourScale) {
    RunPicture p = Run();
    p.original = Read(Tone(1000, 0.5, 3), 300);
    p.voice = Read(Tone(1000, 0.005, 3), 300); // 40 dB below
    const QImage image = DrawRunPicture(p, kPlotSize, Language::English);
    const RunPictureLayout layout = LayoutRunPicture(p, kPlotSize);
    const int x = layout.XAt(1.5);
    const QRect original = layout.lanes[RunPictureLayout::kOriginal];
    int brightest = original.top();
    for (int y = original.top(); y <= original.bottom(); ++y)
        if (Luminance(image.pixel(x, y)) > Luminance(image.pixel(x, brightest))) brightest = y;
    EXPECT_NEAR(brightest, layout.YAtHz(RunPictureLayout::kOriginal, 1000), 2);
    EXPECT_NEAR(layout.YAtHz(RunPictureLayout::kOriginal, 1000), original.bottom() - (original.height() - 1) / 11.0, 1);
    // The same row in the voice's lane: the quieter tone is darker.
    const int row = brightest - original.top() + layout.lanes[RunPictureLayout::kVoice].top();
    EXPECT_LT(Luminance(image.pixel(x, row)) + 60, Luminance(image.pixel(x, brightest)));
    EXPECT_GT(Luminance(image.pixel(x, row)), Luminance(image.pixel(x, row - 20)));
}

TEST_F(Picture, AnEditShadesItsStretchAndBreaksThePositionLineAtItsSeam) {
    RunPicture p = Run();
    // Blocks every 0.2 s on the line until 1.5 s, 2 ms off it after.
    for (int k = 1; k < 15; ++k) {
        const double t = 0.2 * k;
        p.report.analysis.blocks.push_back({int64_t(t * kRate), t < 1.5 ? 0.0 : 0.002 * kRate, 0.1});
    }
    p.report.unmatchedSeconds = {{1.0, 1.4}};
    const RunPictureLayout layout = LayoutRunPicture(p, kPlotSize);
    const QRect lane = layout.lanes[RunPictureLayout::kPosition];
    auto blueIn = [&](const QImage& image, double t) {
        int count = 0;
        for (int y = lane.top() + 1; y < lane.bottom(); ++y) {
            const QRgb c = image.pixel(layout.XAt(t), y);
            if (qBlue(c) > qRed(c) + 40 && qBlue(c) > qGreen(c)) ++count;
        }
        return count;
    };
    const QImage smeared = DrawRunPicture(p, kPlotSize, Language::English);
    EXPECT_GT(blueIn(smeared, 1.45), 0) << "without a seam the line runs on";
    p.report.seamSeconds = {1.5};
    p.report.edits = 1;
    const QImage image = DrawRunPicture(p, kPlotSize, Language::English);
    EXPECT_EQ(blueIn(image, 1.45), 0) << "the position jumps at the seam";
    EXPECT_GT(blueIn(image, 1.3), 0);
    EXPECT_GT(blueIn(image, 1.7), 0);
    // The stretch without a counterpart is shaded, in the removal lane too,
    // and nothing else is.
    for (const Lane l : {RunPictureLayout::kPosition, RunPictureLayout::kRemoval}) {
        const int y = layout.lanes[l].top() + layout.lanes[l].height() * 2 / 5;
        EXPECT_TRUE(Near(image.pixel(layout.XAt(1.05), y), kUnmatchedColour)) << l;
        EXPECT_TRUE(Near(image.pixel(layout.XAt(1.35), y), kUnmatchedColour)) << l;
        EXPECT_FALSE(Near(image.pixel(layout.XAt(0.95), y), kUnmatchedColour)) << l;
        EXPECT_FALSE(Near(image.pixel(layout.XAt(1.45), y), kUnmatchedColour)) << l;
    }
    // The seam is marked across the lane.
    int red = 0;
    for (int y = lane.top(); y <= lane.bottom(); ++y) {
        const QRgb c = image.pixel(layout.XAt(1.5), y);
        if (qRed(c) > 150 && qGreen(c) < 100) ++red;
    }
    EXPECT_GT(red, lane.height() / 4);
}

TEST_F(Picture, EachSecondOfRemovalIsColouredByWhatItTookOut) {
    RunPicture p = Run();
    p.report.removalDbPerSecond = {-40, 1, std::nan("")}; // the last second silent
    p.report.removalDb = -3;
    const QImage image = DrawRunPicture(p, kPlotSize, Language::English);
    const RunPictureLayout layout = LayoutRunPicture(p, kPlotSize);
    const QRect lane = layout.lanes[RunPictureLayout::kRemoval];
    auto count = [&](double t, const QColor& colour) {
        int n = 0;
        for (int y = lane.top(); y <= lane.bottom(); ++y) n += Near(image.pixel(layout.XAt(t), y), colour);
        return n;
    };
    EXPECT_GT(count(0.5, kRemovedColour), lane.height() / 3);
    EXPECT_EQ(count(0.5, kWarningColour), 0);
    EXPECT_GT(count(1.5, kWarningColour), 0);
    EXPECT_EQ(count(1.5, kRemovedColour), 0);
    EXPECT_EQ(count(2.5, kWarningColour) + count(2.5, kRemovedColour), 0);
}

TEST_F(Picture, MomentsMapToTheLanesWidth) {
    const RunPicture p = Run();
    const RunPictureLayout layout = LayoutRunPicture(p, kPlotSize);
    const QRect lane = layout.lanes[0];
    for (const Lane l : {RunPictureLayout::kVoice, RunPictureLayout::kPosition, RunPictureLayout::kRemoval}) {
        EXPECT_EQ(layout.lanes[l].left(), lane.left());
        EXPECT_EQ(layout.lanes[l].width(), lane.width());
        EXPECT_GT(layout.lanes[l].top(), layout.lanes[l - 1].bottom());
    }
    EXPECT_EQ(layout.XAt(0), lane.left());
    EXPECT_EQ(layout.XAt(3), lane.left() + lane.width());
    EXPECT_NEAR(*layout.SecondsAt(layout.XAt(1.25)), 1.25, 3.0 / lane.width());
    EXPECT_FALSE(layout.SecondsAt(lane.left() - 1));
    EXPECT_FALSE(layout.SecondsAt(lane.right() + 1));
}

TEST_F(Picture, IsWrittenBesideItsNameAndReplacesAFileOnlyWhenAllowed) {
    const QImage image = DrawRunPicture(Run(), kMinimumPictureSize, Language::English);
    const std::string path = dir / "run.png";
    EXPECT_EQ(SaveRunPicture(image, path, false), "");
    EXPECT_EQ(QImage(QString::fromStdString(path)).size(), kMinimumPictureSize);
    // An existing file stays unless replacing is allowed.
    WriteText(path, "earlier");
    EXPECT_EQ(SaveRunPicture(image, path, false), "appeared during the run and was not replaced (--yes replaces it)");
    EXPECT_EQ(ReadText(path), "earlier");
    EXPECT_EQ(SaveRunPicture(image, path, true), "");
    EXPECT_EQ(QImage(QString::fromStdString(path)).size(), kMinimumPictureSize);
    EXPECT_EQ(SaveRunPicture(image, dir / "missing/run.png", true),
              "cannot create a temporary file beside it (No such file or directory)");
    // Nothing but the picture is left.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.path().filename() != "run.png";
    EXPECT_EQ(entries, 0);
}

} // namespace
