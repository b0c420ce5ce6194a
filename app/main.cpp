// Program entry of the window: the main window first, then the About window,
// then the settings dialog (which loads the options), then the message loop.
#include "About.h"
#include "Mainform.h"
#include "Playform.h"
#include "Setform.h"
#include "UiDialogs.h"

#include <QApplication>
#include <QFileInfo>

#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonvelt"));
    try {
        TForm1 form;
        TAboutForm about(&form);
        TSetForm1 settings(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), {}, &form);
        form.SetOptions(&settings.Model().Options);
        form.showSettings = [&] { settings.exec(); };
        form.showAbout = [&] { about.exec(); };
        form.playFile = [&](const QString& path) { PlayEditFile(&form, path); };
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        UiDialogs::Current().Error(nullptr, QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
