// The preview player against real WAVE files on a real sound server: its
// state machine, the slider, the end of the file and PlayEditFile.
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "Playform.h"
#include "TestUtil.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A stereo 44.1 kHz tone of `ms` milliseconds.
void WriteTone(const std::string& path, int ms) {
    const int frames = 44100 * ms / 1000;
    std::vector<int16_t> samples;
    samples.reserve(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const auto v = int16_t(2000 * std::sin(i * 2 * 3.14159265 * 440 / 44100));
        samples.push_back(v);
        samples.push_back(v);
    }
    testutil::WriteFile(path, testutil::Wave16(2, 44100, samples));
}

class PlayFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { guitest::EnsureSoundServer(); }

    testutil::TempDir dir;
    guitest::RecordingDialogs dialogs;
};

TEST_F(PlayFormTest, PlayEditFileIgnoresWhatIsNotAWaveFile) {
    testutil::WriteText(dir / "song.mp3", "not played");
    std::filesystem::create_directories(dir.path() / "folder.wav");
    const std::string paths[] = {"", dir / "song.mp3", dir / "missing.wav", dir / "folder.wav", dir / "wav"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        // Should a window open anyway, it is closed again so the test goes on.
        bool opened = false;
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                opened = true;
                w->close();
            }
        });
        guard.start(50);
        EXPECT_FALSE(PlayEditFile(nullptr, QString::fromStdString(path)));
        EXPECT_FALSE(opened);
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(PlayFormTest, PlayEditFileShowsAPlayingWindowUntilOk) {
    const std::string path = dir / "Song.WAV";
    WriteTone(path, 2000);
    QString shownFile;
    int stateWhenShown = -1;
    MediaPlayer::Mode modeWhenShown = MediaPlayer::NotReady;
    MediaPlayer* device = nullptr;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* form = qobject_cast<TPlayForm1*>(QApplication::activeModalWidget());
        if (!form) return;
        watcher.stop();
        shownFile = form->PlayFileName;
        stateWhenShown = form->PlayState;
        modeWhenShown = form->MediaPlayer1->GetMode();
        device = form->MediaPlayer1;
        QObject::connect(device, &QObject::destroyed, [&] { device = nullptr; });
        form->OkBtn1->click();
    });
    watcher.start(20);
    EXPECT_TRUE(PlayEditFile(nullptr, QString::fromStdString(path)));
    EXPECT_EQ(shownFile.toStdString(), path);
    EXPECT_EQ(stateWhenShown, TPlayForm1::kPlaying);
    EXPECT_EQ(modeWhenShown, MediaPlayer::Playing);
    EXPECT_EQ(device, nullptr) << "the window is destroyed after it closes";
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(PlayFormTest, ButtonsSliderAndEndOfFile) {
    const std::string path = dir / "tone.wav";
    WriteTone(path, 1200);
    TPlayForm1 form;
    form.PlayFileName = QString::fromStdString(path);
    form.show();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    MediaPlayer& device = *form.MediaPlayer1;
    const int length = int(device.Length());
    ASSERT_NEAR(length, 1200, 5);
    EXPECT_EQ(form.PlayState, TPlayForm1::kPlaying);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Playing);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 400);
    EXPECT_EQ(form.TrackBar1->maximum(), length);
    EXPECT_EQ(form.TrackBar1->tickInterval(), length / 10);
    EXPECT_EQ(form.TrackBar1->pageStep(), length / 40);
    EXPECT_EQ(form.TrackBar1->singleStep(), length / 100);
    EXPECT_EQ(form.TrackBar1->value(), 0);

    // The timer moves the slider with the playing position.
    ASSERT_TRUE(guitest::WaitFor([&] { return form.TrackBar1->value() > 0; }, 10000));

    // Pause, then a timer tick that leaves the slider where it is, then a
    // drag: the drag moves the position and playback stays paused.
    form.PauseButton->click();
    EXPECT_EQ(form.PlayState, TPlayForm1::kPaused);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Paused);
    form.Timer1Timer();
    form.Timer1Timer();
    EXPECT_EQ(form.TrackBar1->value(), int(device.Position()));
    EXPECT_EQ(form.TimerUpdate, 0);
    const int target = device.Position() > 600 ? 200 : 900;
    form.TrackBar1->setValue(target);
    EXPECT_EQ(device.Position(), target);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Paused);
    EXPECT_EQ(form.PlayState, TPlayForm1::kPaused);

    // A second Pause resumes.
    form.PauseButton->click();
    EXPECT_EQ(form.PlayState, TPlayForm1::kPlaying);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Playing);

    // Stop keeps the position; Prev goes back to the start; both stop.
    form.StopButton->click();
    EXPECT_EQ(form.PlayState, TPlayForm1::kStopped);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Stopped);
    EXPECT_GE(device.Position(), target);
    form.PrevButton->click();
    EXPECT_EQ(form.PlayState, TPlayForm1::kStopped);
    EXPECT_EQ(device.Position(), 0);

    // Dragging while stopped only moves.
    form.TrackBar1->setValue(300);
    EXPECT_EQ(device.Position(), 300);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Stopped);

    // Play, then a drag while playing: playback goes on from there.
    form.PlayButton->click();
    EXPECT_EQ(form.PlayState, TPlayForm1::kPlaying);
    form.TrackBar1->setValue(length - 250);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Playing);
    EXPECT_EQ(form.PlayState, TPlayForm1::kPlaying);
    EXPECT_GE(device.Position(), length - 250);

    // The end of the file: stopped at the length, PlayState back to 1.
    ASSERT_TRUE(guitest::WaitFor([&] { return form.PlayState == TPlayForm1::kStopped; }, 10000));
    EXPECT_EQ(device.GetMode(), MediaPlayer::Stopped);
    EXPECT_EQ(device.Position(), length);
    form.Timer1Timer();
    EXPECT_EQ(form.TrackBar1->value(), length);

    // Dragging after the end only moves the position.
    form.TrackBar1->setValue(400);
    EXPECT_EQ(device.Position(), 400);
    EXPECT_EQ(device.GetMode(), MediaPlayer::Stopped);
    EXPECT_EQ(form.PlayState, TPlayForm1::kStopped);

    // Play with the position at the end starts again from the beginning.
    form.TrackBar1->setValue(length);
    ASSERT_EQ(device.Position(), length);
    form.PlayButton->click();
    EXPECT_EQ(device.GetMode(), MediaPlayer::Playing);
    EXPECT_LT(device.Position(), length / 2);

    form.OkBtn1->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(PlayFormTest, AFileUnderTenMillisecondsHasNoTickSpacing) {
    const std::string path = dir / "click.wav";
    WriteTone(path, 8);
    TPlayForm1 form;
    form.PlayFileName = QString::fromStdString(path);
    form.show();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_LT(form.MediaPlayer1->Length(), 10);
    EXPECT_EQ(form.TrackBar1->maximum(), int(form.MediaPlayer1->Length()));
    EXPECT_EQ(form.TrackBar1->tickInterval(), 0);
    EXPECT_TRUE(guitest::WaitFor([&] { return form.PlayState == TPlayForm1::kStopped; }, 10000));
    // Any way out stops and closes the device.
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.MediaPlayer1->IsOpen());
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(PlayFormTest, AFileTheDeviceRefusesShowsOneErrorAndDoesNotPlay) {
    const std::string path = dir / "broken.wav";
    testutil::WriteText(path, std::string(4096, 'x'));
    TPlayForm1 form;
    form.PlayFileName = QString::fromStdString(path);
    form.show();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith("\"broken.wav\"\n")) << dialogs.errors[0].toStdString();
    EXPECT_FALSE(form.MediaPlayer1->IsOpen());
    EXPECT_FALSE(form.Timer1->isActive());
    // The buttons and the slider do nothing without an open device.
    form.PlayButton->click();
    form.TrackBar1->setValue(5);
    EXPECT_EQ(form.MediaPlayer1->GetMode(), MediaPlayer::NotReady);
    form.OkBtn1->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(dialogs.errors.size(), 1);
}

TEST(PlayTime, MinutesAndSecondsHoursFromAnHourOn) {
    struct Case {
        qint64 ms;
        const char* text;
    } cases[] = {{0, "0:00"}, {999, "0:00"}, {42'000, "0:42"}, {237'900, "3:57"}, {600'000, "10:00"},
                 {3'599'999, "59:59"}, {3'600'000, "1:00:00"}, {3'725'000, "1:02:05"}, {-5, "0:00"}};
    for (const Case& c : cases) EXPECT_EQ(PlayTimeText(c.ms), c.text) << c.ms;
}

// The player names its file and shows where it is; A/B plays the other of
// original and voice from the same moment, in the same state.
TEST_F(PlayFormTest, NameTimeAndTheABSwitch) {
    const std::string original = dir / "Song.wav", voice = dir / "Song_vo.wav";
    WriteTone(original, 3000);
    WriteTone(voice, 2500);
    TPlayForm1 form;
    form.PlayFileName = QString::fromStdString(voice);
    form.OriginalFile = QString::fromStdString(original);
    form.VoiceFile = QString::fromStdString(voice);
    form.show();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(form.FileLabel->text(), "Song_vo.wav");
    EXPECT_EQ(form.TimeLabel->text(), "0:00 / 0:02");
    ASSERT_FALSE(form.SideA->isHidden());
    EXPECT_TRUE(form.SideB->isChecked());

    // Paused at 1.2 s, then A: the original, paused at 1.2 s.
    form.PauseButton->click();
    form.TrackBar1->setValue(1200);
    ASSERT_EQ(form.PlayState, TPlayForm1::kPaused);
    form.SideA->click();
    EXPECT_EQ(form.PlayFileName.toStdString(), original);
    EXPECT_EQ(form.FileLabel->text(), "Song.wav");
    EXPECT_EQ(form.MediaPlayer1->Length(), form.TrackBar1->maximum());
    EXPECT_NEAR(form.MediaPlayer1->Length(), 3000, 5);
    EXPECT_EQ(form.MediaPlayer1->Position(), 1200);
    EXPECT_EQ(form.TrackBar1->value(), 1200);
    EXPECT_EQ(form.MediaPlayer1->GetMode(), MediaPlayer::Paused);
    EXPECT_EQ(form.PlayState, TPlayForm1::kPaused);
    EXPECT_EQ(form.TimeLabel->text(), "0:01 / 0:03");

    // Playing, back to B: the voice plays on from about the same moment.
    form.PauseButton->click();
    ASSERT_EQ(form.PlayState, TPlayForm1::kPlaying);
    form.SideB->click();
    EXPECT_EQ(form.PlayFileName.toStdString(), voice);
    EXPECT_EQ(form.MediaPlayer1->GetMode(), MediaPlayer::Playing);
    EXPECT_GE(form.MediaPlayer1->Position(), 1200);
    EXPECT_LT(form.MediaPlayer1->Position(), 2500);

    // An original that has gone: the switch fails and the current file goes on.
    std::filesystem::remove(original);
    EXPECT_FALSE(form.SwitchTo(form.OriginalFile));
    EXPECT_EQ(form.PlayFileName.toStdString(), voice);
    EXPECT_TRUE(form.MediaPlayer1->IsOpen());
    form.OkBtn1->click();

    // Without both files there is no switch.
    TPlayForm1 single;
    single.PlayFileName = QString::fromStdString(voice);
    single.OriginalFile = QString::fromStdString(original);
    single.VoiceFile = QString::fromStdString(voice);
    single.show();
    EXPECT_TRUE(single.SideA->isHidden());
    EXPECT_TRUE(single.SideB->isHidden());
    single.OkBtn1->click();
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

} // namespace
