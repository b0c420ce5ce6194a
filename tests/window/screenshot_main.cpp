// Renders the main window, filled in as after choosing a song, into a PNG:
//   window_screenshot OUT.png [ORIGINAL.wav]
// Run it on a real display or under xvfb-run to see the window as a user does.
#include "Mainform.h"
#include "Options.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    ProcessingOptions edited;
    CommittedOptions options;
    CommitOptions(edited, options);
    TForm1 form;
    form.SetOptions(&options);
    if (argc > 2) {
        form.Edit1->setText(QString::fromLocal8Bit(argv[2]));
        form.Edit1KeyPress();
    }
    form.SetStatusText("42 %");
    form.SetProgressRange(100);
    form.SetProgressPosition(42);
    form.show();
    QTimer::singleShot(500, [&] {
        form.grab().save(QString::fromLocal8Bit(argv[1]));
        app.quit();
    });
    return app.exec();
}
