#include "MediaPlayer.h"

#include "Twave.h"

#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>

MediaPlayer::MediaPlayer(QObject* parent) : QObject(parent) {
    player_ = new QMediaPlayer(this);
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus s) { OnMediaStatus(int(s)); });
    connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
        // Playback that ends without reaching the end of the media (a device
        // or decoding error) leaves the device stopped where it was.
        if (s == QMediaPlayer::StoppedState && mode_ == Playing &&
            player_->mediaStatus() != QMediaPlayer::EndOfMedia) {
            held_ = qBound<qint64>(0, player_->position(), length_);
            mode_ = Stopped;
            if (playNotify_) {
                playNotify_ = false;
                FinishCommand(true);
            }
        }
    });
    connect(player_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString& text) { OnError(text); });
}

MediaPlayer::~MediaPlayer() {
    player_->stop();
}

bool MediaPlayer::Open(int timeoutMs) {
    Close();
    error_.clear();
    const QString name = QFileInfo(FileName).fileName();
    if (!QFileInfo(FileName).isFile()) {
        error_ = QStringLiteral("\"%1\"\n无法打开文件").arg(name);
        return false;
    }

    bool ready = false, failed = false;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(player_, &QMediaPlayer::mediaStatusChanged, &loop, [&](QMediaPlayer::MediaStatus s) {
        if (s == QMediaPlayer::LoadedMedia) ready = true;
        if (s == QMediaPlayer::InvalidMedia) failed = true;
        if (ready || failed) loop.quit();
    });
    connect(player_, &QMediaPlayer::errorOccurred, &loop, [&] {
        failed = true;
        loop.quit();
    });
    player_->setSource(QUrl::fromLocalFile(QFileInfo(FileName).absoluteFilePath()));
    if (player_->mediaStatus() == QMediaPlayer::LoadedMedia) ready = true;
    if (!ready && !failed) {
        timeout.start(timeoutMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!ready || failed) {
        QString why = player_->errorString();
        if (why.isEmpty()) why = QStringLiteral("无法打开文件");
        error_ = QStringLiteral("\"%1\"\n%2").arg(name, why);
        player_->setSource(QUrl());
        return false;
    }

    length_ = player_->duration();
    if (length_ <= 0) {
        // The backend may not know the length yet; a WAVE header tells it.
        TWaveData wave;
        if (wave.OpenRead(FileName.toStdString()) == 0 && wave.Format.nAvgBytesPerSec > 0)
            length_ = qint64(wave.DataBytes) * 1000 / wave.Format.nAvgBytesPerSec;
        wave.Close();
    }
    if (length_ < 0) length_ = 0;
    held_ = 0;
    playNotify_ = false;
    mode_ = Stopped;
    return true;
}

void MediaPlayer::Close() {
    if (mode_ == NotReady) return;
    SupersedePlay();
    player_->stop();
    player_->setSource(QUrl());
    mode_ = NotReady;
    length_ = 0;
    held_ = 0;
}

void MediaPlayer::BeginCommand() { SupersedePlay(); }

void MediaPlayer::FinishCommand(bool notify) {
    if (notify) QMetaObject::invokeMethod(this, [this] { emit Notified(); }, Qt::QueuedConnection);
}

void MediaPlayer::SupersedePlay() {
    if (!playNotify_) return;
    playNotify_ = false;
    FinishCommand(true);
}

void MediaPlayer::Play() {
    if (!IsOpen()) return;
    const bool notify = Notify;
    Notify = false;
    BeginCommand();
    if (mode_ != Playing) {
        // At the end of the media, play starts again from the beginning.
        if (held_ >= length_) held_ = 0;
        if (player_->position() != held_) player_->setPosition(held_);
        player_->play();
        mode_ = Playing;
    }
    playNotify_ = notify;
}

void MediaPlayer::Pause() {
    if (!IsOpen()) return;
    if (mode_ == Paused) {
        Play();
        return;
    }
    const bool notify = Notify;
    Notify = false;
    BeginCommand();
    if (mode_ == Playing) {
        held_ = Position();
        player_->pause();
        mode_ = Paused;
    }
    FinishCommand(notify);
}

void MediaPlayer::Stop() {
    if (!IsOpen()) return;
    const bool notify = Notify;
    Notify = false;
    BeginCommand();
    if (mode_ == Playing || mode_ == Paused) {
        held_ = Position();
        player_->pause();
        mode_ = Stopped;
    }
    FinishCommand(notify);
}

void MediaPlayer::Rewind() { Seek(0); }

void MediaPlayer::Seek(qint64 ms) {
    if (!IsOpen()) return;
    const bool notify = Notify;
    Notify = false;
    BeginCommand();
    if (mode_ == Playing) {
        player_->pause();
        mode_ = Stopped;
    }
    held_ = qBound<qint64>(0, ms, length_);
    player_->setPosition(held_);
    FinishCommand(notify);
}

qint64 MediaPlayer::Position() const {
    if (mode_ == Playing) return qBound<qint64>(0, player_->position(), length_);
    return held_;
}

void MediaPlayer::OnMediaStatus(int status) {
    if (status != QMediaPlayer::EndOfMedia || mode_ != Playing) return;
    // The end of the media: stopped, with the position at the length.
    held_ = length_;
    mode_ = Stopped;
    if (playNotify_) {
        playNotify_ = false;
        FinishCommand(true);
    }
}

void MediaPlayer::OnError(const QString& text) {
    if (!text.isEmpty()) error_ = text;
}
