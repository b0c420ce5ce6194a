#include "GuiTest.h"

#include "Language.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Memory the sound server's client library, the media framework and the font
// library keep until the process ends is theirs, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libfontconfig.so\n";
}
#endif

namespace guitest {

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

namespace {

bool SoundServerAnswers() {
    QProcess info;
    info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    if (!info.waitForFinished(5000)) {
        info.kill();
        info.waitForFinished();
        return false;
    }
    return info.exitStatus() == QProcess::NormalExit && info.exitCode() == 0;
}

} // namespace

bool EnsureSoundServer() {
    if (SoundServerAnswers()) return true;
    // A daemon of our own that never exits on idle; a second one started by
    // a parallel test simply fails to start, and the first one answers.
    QProcess::execute(QStringLiteral("pulseaudio"),
                      {QStringLiteral("-D"), QStringLiteral("--exit-idle-time=-1")});
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (SoundServerAnswers()) return true;
        QThread::msleep(100);
    }
    return false;
}

namespace {

// One QApplication for the whole test program. Without a display the
// offscreen platform stands in.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // The dialogs' own texts are what these tests check; a test of
        // another language says so itself.
        SetLanguage(Language::Chinese);
        if (QCoreApplication::instance()) return; // a main() of the test program made one
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "test_dialogs";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
} // namespace guitest
