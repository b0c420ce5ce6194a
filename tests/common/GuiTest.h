// Shared by the dialog and window tests: answering message boxes, waiting for events,
// and a sound server for the player.
#pragma once

#include "UiDialogs.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace guitest {

// Records every message box instead of showing it.
class RecordingDialogs : public UiDialogs {
public:
    RecordingDialogs() { UiDialogs::SetCurrent(this); }
    ~RecordingDialogs() override { UiDialogs::SetCurrent(nullptr); }
    void Warning(QWidget*, const QString& text) override { warnings << text; }
    bool Confirm(QWidget*, const QString& text) override {
        confirms << text;
        return answer;
    }
    void Error(QWidget*, const QString& text) override { errors << text; }

    QStringList warnings, confirms, errors;
    bool answer = false;
};

// Processes events until `done` holds or `timeoutMs` has passed; true when it holds.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// Makes sure a PulseAudio server answers, starting one when none does.
// False when none could be reached (playback then uses whatever the media
// framework falls back to).
bool EnsureSoundServer();

} // namespace guitest
