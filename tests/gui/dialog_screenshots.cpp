// Renders the settings dialog (each page), the preview player and the About
// window (during and after its animation) into PNG files:
//   dialog_screenshots OUTDIR
// Run it on a real display or under xvfb-run. Each picture is the window's
// client area under a strip that shows the window's title.
#include "About.h"
#include "Playform.h"
#include "Setform.h"
#include "TestUtil.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPainter>
#include <QSlider>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <cstdio>

namespace {

void Settle(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool Save(QWidget& window, const QString& path) {
    Settle(150);
    const QImage client = window.grab().toImage();
    const int strip = 24;
    QImage shot(client.width(), client.height() + strip, QImage::Format_RGB32);
    shot.fill(QColor(60, 64, 80));
    QPainter p(&shot);
    QFont f = window.font();
    f.setPixelSize(13);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, client.width() - 16, strip), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    p.drawImage(0, strip, client);
    p.end();
    const bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    testutil::TempDir temp;
    bool ok = true;

    // The settings dialog with its defaults, from a data folder of its own.
    TSetForm1 settings(QStringLiteral("sonvelt"), QString::fromStdString(temp.path().string()));
    settings.show();
    for (int page = 0; page < settings.PageControl->count(); ++page) {
        settings.PageControl->setCurrentIndex(page);
        ok &= Save(settings, out.filePath(QStringLiteral("settings-page%1.png").arg(page + 1)));
    }
    settings.reject();

    // The player, a second into a three-second tone.
    const std::string tone = temp / "preview.wav";
    {
        std::vector<int16_t> samples;
        for (int i = 0; i < 3 * 44100; ++i) {
            const auto v = int16_t(1500 * std::sin(i * 2 * 3.14159265 * 330 / 44100));
            samples.push_back(v);
            samples.push_back(v);
        }
        testutil::WriteFile(tone, testutil::Wave16(2, 44100, samples));
    }
    TPlayForm1 player;
    player.PlayFileName = QString::fromStdString(tone);
    player.show();
    QDeadlineTimer playing(8000);
    while (player.TrackBar1->value() < 900 && !playing.hasExpired()) Settle(50);
    player.PauseButton->click();
    player.Timer1Timer();
    ok &= Save(player, out.filePath(QStringLiteral("player.png")));
    player.OkBtn1Click();

    // The About window in the middle of its spring, then at rest.
    TAboutForm about;
    about.show();
    about.Timer1->stop();
    for (int tick = 0; tick < 32; ++tick) about.Timer1Timer();
    ok &= Save(about, out.filePath(QStringLiteral("about-during.png")));
    for (int tick = 32; tick < 46; ++tick) about.Timer1Timer();
    ok &= Save(about, out.filePath(QStringLiteral("about-after.png")));
    about.reject();
    return ok ? 0 : 1;
}
