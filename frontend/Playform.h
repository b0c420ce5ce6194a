// The preview player: a small modal window that plays one WAVE file, with
// Play, Pause, Stop and back-to-start buttons and a position slider.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class MediaPlayer;
class QFrame;
class QLabel;
class QSlider;
class QPushButton;
class QTimer;
class QToolButton;
class QWidget;

class TPlayForm1 : public QDialog {
    Q_OBJECT
public:
    enum class PlayerButton { Play, Pause, Stop, Prev };
    // Mode numbers PlayState takes, those of MediaPlayer.
    static constexpr uint8_t kStopped = 1, kPlaying = 2, kPaused = 5;

    explicit TPlayForm1(QWidget* parent = nullptr);
    ~TPlayForm1() override;

    // The file to play; set before the window is shown.
    QString PlayFileName;
    // The original recording and the voice made from it, for the A/B switch
    // (the voice lines up with the original, so a position means the same
    // moment in both). The switch is offered when PlayFileName is one of them
    // and the other exists.
    QString OriginalFile, VoiceFile;
    // Where playback starts, milliseconds (clamped to the file's length).
    qint64 StartMs = 0;
    // 1 while a slider move made by the timer has not been seen by the
    // slider's change handler.
    int32_t TimerUpdate = 0;
    // The mode the window expects the player to be in.
    uint8_t PlayState = 0;

    QFrame* Bevel2 = nullptr;
    QWidget* MediaPlayerBar = nullptr;
    QToolButton* PlayButton = nullptr;
    QToolButton* PauseButton = nullptr;
    QToolButton* StopButton = nullptr;
    QToolButton* PrevButton = nullptr;
    QSlider* TrackBar1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* OkBtn1 = nullptr;
    QLabel* FileLabel = nullptr;   // the name of the file playing
    QLabel* TimeLabel = nullptr;   // "0:42 / 3:57"
    QToolButton* SideA = nullptr;  // the original
    QToolButton* SideB = nullptr;  // the voice
    QTimer* Timer1 = nullptr;
    MediaPlayer* MediaPlayer1 = nullptr;

    void FormShow();
    void FormClose();
    void OkBtn1Click();
    void Timer1Timer();
    void TrackBar1Change(int position);
    void MediaPlayer1Notify();
    void MediaPlayer1PostClick(PlayerButton button);
    // Plays the other side of the A/B pair from the same position, in the
    // same state (playing, paused or stopped). False when there is none or
    // it cannot be opened (the current file then goes on).
    bool SwitchTo(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void ButtonClick(PlayerButton button);
    void ShowFile();
    void ShowTime();
    // Opens PlayFileName and sets the slider to its length; false with the
    // error shown when it cannot be opened.
    bool OpenFile();
};

// Plays `path` in a fresh modal player window owned by `parent`, from
// `startMs` on. Does nothing (and returns false) when the path is empty, does
// not end in ".wav" (any letter case) or names no file; returns true after
// the window has closed. With `original` and `voice` the window offers the
// A/B switch between them.
bool PlayEditFile(QWidget* parent, const QString& path, const QString& original = {},
                  const QString& voice = {}, qint64 startMs = 0);

// "m:ss" for a position in milliseconds ("h:mm:ss" from an hour on).
QString PlayTimeText(qint64 ms);
