#include "Playform.h"

#include "MediaPlayer.h"
#include "UiDialogs.h"

#include <QFileInfo>
#include <QFrame>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace {

QFrame* HorizontalLine(QWidget* parent, int left, int top, int width) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(left, top, width, 2);
    return line;
}

} // namespace

TPlayForm1::TPlayForm1(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("WAVE播放"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(WindowFont());
    setFixedSize(250, 133);

    Bevel2 = HorizontalLine(this, 0, 8, 249);

    MediaPlayer1 = new MediaPlayer(this);
    MediaPlayerBar = new QWidget(this);
    MediaPlayerBar->setGeometry(68, 16, 4 * 28, 30);
    auto addButton = [this](QStyle::StandardPixmap icon, int index, PlayerButton role) {
        auto* b = new QToolButton(MediaPlayerBar);
        b->setIcon(style()->standardIcon(icon));
        b->setGeometry(index * 28, 0, 28, 30);
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QToolButton::clicked, this, [this, role] { ButtonClick(role); });
        return b;
    };
    PlayButton = addButton(QStyle::SP_MediaPlay, 0, PlayerButton::Play);
    PauseButton = addButton(QStyle::SP_MediaPause, 1, PlayerButton::Pause);
    StopButton = addButton(QStyle::SP_MediaStop, 2, PlayerButton::Stop);
    PrevButton = addButton(QStyle::SP_MediaSkipBackward, 3, PlayerButton::Prev);

    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setGeometry(8, 56, 233, 33);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setRange(0, 0);
    connect(TrackBar1, &QSlider::valueChanged, this, &TPlayForm1::TrackBar1Change);

    Bevel1 = HorizontalLine(this, 0, 88, 249);

    OkBtn1 = new QPushButton(QStringLiteral("OK"), this);
    OkBtn1->setGeometry(88, 104, 75, 25);
    OkBtn1->setDefault(true);
    connect(OkBtn1, &QPushButton::clicked, this, &TPlayForm1::OkBtn1Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(400);
    connect(Timer1, &QTimer::timeout, this, &TPlayForm1::Timer1Timer);
    connect(MediaPlayer1, &MediaPlayer::Notified, this, &TPlayForm1::MediaPlayer1Notify);
}

TPlayForm1::~TPlayForm1() = default;

void TPlayForm1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    FormShow();
}

void TPlayForm1::FormShow() {
    TimerUpdate = 0;
    MediaPlayer1->Close();
    MediaPlayer1->FileName = PlayFileName;
    if (!MediaPlayer1->Open()) {
        // The window stays open without playback; OK closes it.
        UiDialogs::Current().Error(this, MediaPlayer1->ErrorText());
        return;
    }
    MediaPlayer1->Rewind();

    const int length = int(qMin<qint64>(MediaPlayer1->Length(), INT_MAX));
    TrackBar1->setTickInterval(length / 10);
    TrackBar1->setMaximum(length);
    TrackBar1->setPageStep(length / 40);
    TrackBar1->setSingleStep(length / 100);
    TimerUpdate = 1;
    TrackBar1->setValue(0);
    TimerUpdate = 0;

    MediaPlayer1->Notify = true;
    PlayState = kPlaying;
    MediaPlayer1->Play();

    Timer1->setInterval(400);
    Timer1->start();
}

void TPlayForm1::Timer1Timer() {
    // While the user holds the slider, it shows where the user is going.
    if (TrackBar1->isSliderDown()) return;
    TimerUpdate = 1;
    TrackBar1->setValue(int(qMin<qint64>(MediaPlayer1->Position(), INT_MAX)));
    // The slider reports a change only when its position moved; the flag must
    // not outlive this call, or the user's next move would be taken for ours.
    TimerUpdate = 0;
}

void TPlayForm1::TrackBar1Change(int position) {
    if (TimerUpdate != 0) {
        TimerUpdate = 0;
        return;
    }
    MediaPlayer1->Seek(position);
    if (PlayState == kPlaying) {
        // A seek stops the device; playback goes on from the new position,
        // and its end must be reported like any other.
        for (int tries = 0; tries < 3 && MediaPlayer1->IsOpen() &&
                            MediaPlayer1->GetMode() != MediaPlayer::Playing;
             ++tries) {
            MediaPlayer1->Notify = true;
            MediaPlayer1->Play();
        }
    }
}

void TPlayForm1::MediaPlayer1Notify() {
    if (MediaPlayer1->GetMode() == MediaPlayer::Stopped &&
        MediaPlayer1->Position() == MediaPlayer1->Length())
        PlayState = kStopped;
    MediaPlayer1->Notify = true;
}

void TPlayForm1::ButtonClick(PlayerButton button) {
    // Every command reports its completion, whether or not the report of the
    // one before has been handled yet.
    MediaPlayer1->Notify = true;
    switch (button) {
    case PlayerButton::Play: MediaPlayer1->Play(); break;
    case PlayerButton::Pause: MediaPlayer1->Pause(); break;
    case PlayerButton::Stop: MediaPlayer1->Stop(); break;
    case PlayerButton::Prev: MediaPlayer1->Rewind(); break;
    }
    MediaPlayer1PostClick(button);
}

void TPlayForm1::MediaPlayer1PostClick(PlayerButton button) {
    switch (button) {
    case PlayerButton::Play: PlayState = kPlaying; break;
    case PlayerButton::Pause:
        if (PlayState == kPlaying) PlayState = kPaused;
        else if (PlayState == kPaused) PlayState = kPlaying;
        break;
    case PlayerButton::Stop:
    case PlayerButton::Prev: PlayState = kStopped; break;
    }
}

void TPlayForm1::OkBtn1Click() {
    MediaPlayer1->Stop();
    MediaPlayer1->Close();
    accept();
}

void TPlayForm1::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TPlayForm1::FormClose() {
    Timer1->stop();
    // However the window closes, the sound stops with it.
    if (MediaPlayer1->IsOpen()) {
        MediaPlayer1->Stop();
        MediaPlayer1->Close();
    }
}

bool PlayEditFile(QWidget* parent, const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (info.suffix().toUpper() != QStringLiteral("WAV")) return false;
    if (!info.isFile()) return false;
    TPlayForm1 form(parent);
    form.PlayFileName = path;
    form.exec();
    return true;
}
