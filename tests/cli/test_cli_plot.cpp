// --plot: the picture of a run from the command line, with no display, and
// the paths it refuses before anything runs.
#include "AudioFixtures.h"
#include "CliPairs.h"
#include "RunPicture.h"

#include <QImage>
#include <QSet>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;

namespace {

using CliPlot = CliPairs;

// No display of any kind.
constexpr const char* kHeadless = "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM;";

// Distinct colours in every other pixel of every other row.
int Colours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    return int(colours.size());
}

// The share of a spectrogram lane (as the command line draws it) that says
// there is nothing to show.
double Nothing(const QImage& image, RunPictureLayout::Lane lane) {
    const QRect area = LayoutRunPicture(RunPicture{}, kPlotSize).lanes[lane];
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += image.pixel(x, y) == kNothingColour.rgb();
    return double(n) / (area.width() * area.height());
}

} // namespace

TEST_F(CliPlot, ExtractAndAnalyseDrawThePictureOfTheRun) {
    MakePair("Song", 6, 61);
    const std::string pair = Q("Song.wav") + " " + Q("Song (karaoke).wav");
    const CliResult r = RunCli("extract " + pair + " -o " + Q("voice.wav") + " --defaults --plot " + Q("run.png"),
                               kHeadless);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Exists("voice.wav"));
    const QImage image(QString::fromStdString(dir / "run.png"));
    EXPECT_GE(image.width(), 1000);
    EXPECT_GE(image.height(), 500);
    EXPECT_GT(Colours(image), 200);
    // Both spectrograms were read: the voice from its temporary.
    EXPECT_EQ(Nothing(image, RunPictureLayout::kOriginal), 0);
    EXPECT_EQ(Nothing(image, RunPictureLayout::kVoice), 0);
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(r.err.find("QStandardPaths"), std::string::npos) << "the toolkit's remarks are not the user's";

    // An existing picture is replaced only with --yes, like the voice.
    const CliResult again = RunCli("extract " + pair + " -o " + Q("voice2.wav") + " --defaults --plot " +
                                   Q("run.png"), kHeadless);
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(again.err, "sonvelt-cli: " + dir / "run.png" + ": exists: the picture does not replace it (--yes does)\n");
    EXPECT_FALSE(Exists("voice2.wav"));
    EXPECT_EQ(RunCli("extract " + pair + " -o " + Q("voice2.wav") + " --defaults -y --plot " + Q("run.png"),
                     kHeadless).status, 0);

    const CliResult analysed = RunCli("analyse " + pair + " --defaults --plot " + Q("analysis.png"), kHeadless);
    ASSERT_EQ(analysed.status, 0) << analysed.err;
    const QImage analysis(QString::fromStdString(dir / "analysis.png"));
    EXPECT_EQ(analysis.size(), image.size());
    EXPECT_EQ(Nothing(analysis, RunPictureLayout::kOriginal), 0);
    EXPECT_GT(Nothing(analysis, RunPictureLayout::kVoice), 0.9) << "an analysis has no voice";
}

// A decoded original can be read only while the run has it open, and a
// FLAC voice is encoded from its temporary at the end: both are drawn.
TEST_F(CliPlot, ADecodedOriginalAndAFlacVoiceAreDrawnToo) {
    MakePair("Song", 3, 64);
    ASSERT_EQ(EncodeFixture(dir / "Song.flac", "flac", "flac", 44100, 2, ReadSamples(dir / "Song.wav")), "");
    const CliResult r = RunCli("extract " + Q("Song.flac") + " " + Q("Song (karaoke).wav") + " -o " +
                               Q("voice.flac") + " --defaults --plot " + Q("run.png"), kHeadless);
    ASSERT_EQ(r.status, 0) << r.err;
    const QImage image(QString::fromStdString(dir / "run.png"));
    ASSERT_EQ(image.size(), kPlotSize);
    EXPECT_EQ(Nothing(image, RunPictureLayout::kOriginal), 0);
    EXPECT_EQ(Nothing(image, RunPictureLayout::kVoice), 0);
}

TEST_F(CliPlot, APictureThatCannotBeWrittenIsRefusedBeforeTheRun) {
    MakePair("Song", 2, 62);
    std::filesystem::create_directory(dir / "folder.png");
    std::filesystem::create_directory(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0555);
    const bool root = ::geteuid() == 0; // writes wherever it likes
    const std::string cannot = ": cannot write the picture of the run here ";
    const std::string ours = ": is one of the run's files: the picture does not replace it";
    struct Case {
        std::string plot, message;
        bool analyseToo; // the voice is no file of an analysis
    } cases[] = {
        {dir / "missing/run.png", cannot + "(No such file or directory)", true},
        {dir / "folder.png", cannot + "(Is a directory)", true},
        {dir / "locked/run.png", root ? "" : cannot + "(Permission denied)", true},
        {dir / "Song.wav", ours, true},
        {dir / "./voice.wav", ours, false},
    };
    const auto before = std::filesystem::file_size(dir / "Song.wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plot);
        if (c.message.empty()) continue;
        const CliResult r = RunCli("extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " +
                                   Q("voice.wav") + " --defaults -y --plot " + ShellQuote(c.plot));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "sonvelt-cli: " + c.plot + c.message + "\n");
        EXPECT_FALSE(Exists("voice.wav")) << "refused before any voice was written";
        if (!c.analyseToo) continue;
        const CliResult a = RunCli("analyse " + Q("Song.wav") + " " + Q("Song (karaoke).wav") +
                                   " --defaults -y --plot " + ShellQuote(c.plot));
        EXPECT_EQ(a.status, 2);
        EXPECT_EQ(a.out, "") << "refused before the analysis";
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "Song.wav"), before);
    EXPECT_TRUE(Temporaries().empty());
    // One picture names one run.
    MakePair("Other", 2, 63);
    const CliResult several = RunCli("extract -j 2 " + Q("Song.wav") + " " + Q("Other.wav") + " --plot " +
                                     Q("run.png"));
    EXPECT_EQ(several.status, 1);
    EXPECT_EQ(several.err, "sonvelt-cli: --plot names one picture: give one ORIGINAL [KARAOKE] with it\n");
}
