// A small media device for the preview player: open a file, play, pause,
// stop, seek, and ask for its length, position and mode, with positions in
// milliseconds. Behind it stand QMediaPlayer and QAudioOutput.
//
// It behaves like a classic media control device rather than like
// QMediaPlayer: Stop keeps the position, a seek while playing stops playback,
// Play at the end of the media starts again from the beginning, and the end of
// playback leaves the position at the length.
#pragma once

#include <QObject>
#include <QString>

class QAudioOutput;
class QMediaPlayer;

class MediaPlayer : public QObject {
    Q_OBJECT
public:
    // Mode numbers of the device.
    enum Mode { NotReady = 0, Stopped = 1, Playing = 2, Paused = 5 };

    explicit MediaPlayer(QObject* parent = nullptr);
    ~MediaPlayer() override;

    // The file Open() opens.
    QString FileName;
    // When set, the next command reports its completion through Notified()
    // and clears the flag. A Play completes when the end of the media is
    // reached or when another command or Close() cuts it short.
    bool Notify = false;

    // Opens FileName and waits until the media is ready, at most `timeoutMs`.
    // On failure the device stays closed and ErrorText() says why.
    bool Open(int timeoutMs = 10000);
    void Close();
    bool IsOpen() const { return mode_ != NotReady; }

    void Play();
    // Pauses a playing device; a paused device resumes.
    void Pause();
    // Stops playback and keeps the position.
    void Stop();
    // Back to the start, stopped.
    void Rewind();
    // Moves to `ms` (clamped to 0 .. Length()); a playing device stops there.
    void Seek(qint64 ms);

    qint64 Length() const { return length_; }
    qint64 Position() const;
    Mode GetMode() const { return mode_; }
    QString ErrorText() const { return error_; }

signals:
    // Completion of a command issued with Notify set; always queued.
    void Notified();

private:
    void BeginCommand();
    void FinishCommand(bool notify);
    void SupersedePlay();
    void OnMediaStatus(int status);
    void OnError(const QString& text);

    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
    Mode mode_ = NotReady;
    qint64 length_ = 0;
    qint64 held_ = 0;            // position while not playing
    bool playNotify_ = false;    // a Play issued with Notify has not completed
    QString error_;
};
