// The preview player: a small modal window that plays one WAVE file, with
// Play, Pause, Stop and back-to-start buttons and a position slider.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class MediaPlayer;
class QFrame;
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
    QTimer* Timer1 = nullptr;
    MediaPlayer* MediaPlayer1 = nullptr;

    void FormShow();
    void FormClose();
    void OkBtn1Click();
    void Timer1Timer();
    void TrackBar1Change(int position);
    void MediaPlayer1Notify();
    void MediaPlayer1PostClick(PlayerButton button);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void ButtonClick(PlayerButton button);
};

// Plays `path` in a fresh modal player window owned by `parent`. Does nothing
// (and returns false) when the path is empty, does not end in ".wav" (any
// letter case) or names no file; returns true after the window has closed.
bool PlayEditFile(QWidget* parent, const QString& path);
