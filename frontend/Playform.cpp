#include "Playform.h"

#include "MediaPlayer.h"
#include "UiDialogs.h"

#include <QFileInfo>
#include <QFrame>
#include <QLabel>
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
    setWindowTitle(Tr(QStringLiteral("WAVE播放")));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(WindowFont());
    setFixedSize(250, 155);

    FileLabel = new QLabel(this);
    FileLabel->setGeometry(8, 6, 234, 16);
    Bevel2 = HorizontalLine(this, 0, 26, 249);

    MediaPlayer1 = new MediaPlayer(this);
    MediaPlayerBar = new QWidget(this);
    MediaPlayerBar->setGeometry(8, 34, 4 * 28, 30);
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
    TimeLabel = new QLabel(this);
    TimeLabel->setGeometry(124, 41, 118, 16);
    TimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    TrackBar1->setGeometry(8, 72, 233, 33);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setRange(0, 0);
    connect(TrackBar1, &QSlider::valueChanged, this, &TPlayForm1::TrackBar1Change);

    Bevel1 = HorizontalLine(this, 0, 106, 249);

    OkBtn1 = new QPushButton(Tr(QStringLiteral("OK")), this);
    OkBtn1->setGeometry(88, 122, 75, 25);

    // A/B: the original or the voice, from the same moment.
    auto side = [this](const QString& caption, int left) {
        auto* b = new QToolButton(this);
        b->setText(caption);
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setGeometry(left, 122, 38, 25);
        b->setFocusPolicy(Qt::TabFocus);
        b->hide();
        return b;
    };
    SideA = side(Tr(QStringLiteral("原唱")), 166);
    SideB = side(Tr(QStringLiteral("人声")), 204);
    SideA->setToolTip(Tr(QStringLiteral("从同一位置播放原唱")));
    SideB->setToolTip(Tr(QStringLiteral("从同一位置播放人声")));
    connect(SideA, &QToolButton::clicked, this, [this] {
        if (!SwitchTo(OriginalFile)) SideB->setChecked(true);
    });
    connect(SideB, &QToolButton::clicked, this, [this] {
        if (!SwitchTo(VoiceFile)) SideA->setChecked(true);
    });
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

QString PlayTimeText(qint64 ms) {
    const qint64 s = qMax<qint64>(ms, 0) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10,
                                                                                                   QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void TPlayForm1::ShowFile() {
    const QString name = QFileInfo(PlayFileName).fileName();
    FileLabel->setToolTip(name);
    FileLabel->setText(FileLabel->fontMetrics().elidedText(name, Qt::ElideMiddle, FileLabel->width()));
    const bool pair = !OriginalFile.isEmpty() && !VoiceFile.isEmpty() && QFileInfo(OriginalFile).isFile() &&
                      QFileInfo(VoiceFile).isFile() &&
                      (PlayFileName == OriginalFile || PlayFileName == VoiceFile);
    SideA->setVisible(pair);
    SideB->setVisible(pair);
    if (pair) (PlayFileName == OriginalFile ? SideA : SideB)->setChecked(true);
}

void TPlayForm1::ShowTime() {
    TimeLabel->setText(PlayTimeText(MediaPlayer1->Position()) + QStringLiteral(" / ") +
                       PlayTimeText(MediaPlayer1->Length()));
}

bool TPlayForm1::OpenFile() {
    MediaPlayer1->Close();
    MediaPlayer1->FileName = PlayFileName;
    ShowFile();
    if (!MediaPlayer1->Open()) {
        TimeLabel->clear();
        UiDialogs::Current().Error(this, MediaPlayer1->ErrorText());
        return false;
    }
    const int length = int(qMin<qint64>(MediaPlayer1->Length(), INT_MAX));
    TrackBar1->setTickInterval(length / 10);
    TimerUpdate = 1;
    TrackBar1->setMaximum(length);
    TimerUpdate = 0;
    TrackBar1->setPageStep(length / 40);
    TrackBar1->setSingleStep(length / 100);
    return true;
}

bool TPlayForm1::SwitchTo(const QString& path) {
    if (path.isEmpty() || path == PlayFileName || !QFileInfo(path).isFile()) return false;
    const qint64 at = MediaPlayer1->Position();
    const QString before = PlayFileName;
    PlayFileName = path;
    if (!OpenFile()) {
        // Back to the file that played.
        PlayFileName = before;
        if (OpenFile()) MediaPlayer1->Seek(at);
        ShowTime();
        return false;
    }
    MediaPlayer1->Seek(at);
    TimerUpdate = 1;
    TrackBar1->setValue(int(qMin<qint64>(MediaPlayer1->Position(), INT_MAX)));
    TimerUpdate = 0;
    if (PlayState == kPlaying) {
        MediaPlayer1->Notify = true;
        MediaPlayer1->Play();
    } else if (PlayState == kPaused) {
        // The device pauses only while playing; the position is held either way.
        MediaPlayer1->Play();
        MediaPlayer1->Pause();
    }
    ShowTime();
    return true;
}

void TPlayForm1::FormShow() {
    TimerUpdate = 0;
    if (!OpenFile()) {
        // The window stays open without playback; OK closes it.
        return;
    }
    MediaPlayer1->Rewind();
    if (StartMs > 0) MediaPlayer1->Seek(StartMs);
    TimerUpdate = 1;
    TrackBar1->setValue(int(qMin<qint64>(MediaPlayer1->Position(), INT_MAX)));
    TimerUpdate = 0;
    ShowTime();

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
    ShowTime();
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
    ShowTime();
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
    ShowTime();
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

bool PlayEditFile(QWidget* parent, const QString& path, const QString& original, const QString& voice,
                  qint64 startMs) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (info.suffix().toUpper() != QStringLiteral("WAV")) return false;
    if (!info.isFile()) return false;
    TPlayForm1 form(parent);
    form.PlayFileName = path;
    form.OriginalFile = original;
    form.VoiceFile = voice;
    form.StartMs = startMs;
    form.exec();
    return true;
}
