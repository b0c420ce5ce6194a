// Program entry of the window: the translations of the user's language, then
// the main window, the About window and the settings dialog (which loads the
// options), then the message loop. A file named on the command line (as a
// desktop's "Open with" passes it) is taken as the original recording.
#include "About.h"
#include "FftWisdom.h"
#include "Language.h"
#include "Mainform.h"
#include "Playform.h"
#include "Setform.h"
#include "UiDialogs.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>

#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonvelt"));
    // The desktop matches the window with its entry (sonvelt.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral("sonvelt"));
    QApplication::setWindowIcon(ProgramIcon());
    SetLanguage(LanguageFromEnvironment());
    InstallTranslations();
    fftwisdom::Enable(fftwisdom::DefaultFolder());
    try {
        TForm1 form;
        TAboutForm about(&form);
        TSetForm1 settings(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), {}, &form);
        form.SetOptions(&settings.Model().Options);
        form.showSettings = [&] { settings.exec(); };
        form.showAbout = [&] { about.exec(); };
        form.playFile = [&](const QString& path, const QString& original, const QString& voice, qint64 startMs) {
            PlayEditFile(&form, path, original, voice, startMs);
        };
        form.show();
        const QStringList args = QCoreApplication::arguments();
        if (args.size() > 1 && !args[1].isEmpty()) form.TakeOriginal(args[1]);
        return app.exec();
    } catch (const std::exception& e) {
        UiDialogs::Current().Error(nullptr, QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
