// Draws the desktop icon: the product emblem on a transparent square.
//   sonvelt_iconmaker OUTPUT.png [SIZE]
#include "About.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [SIZE]\n", argv[0]);
        return 1;
    }
    const int size = argc == 3 ? std::atoi(argv[2]) : 256;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "%s: size must be 16 to 1024\n", argv[0]);
        return 1;
    }
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        const qreal margin = size / 32.0;
        DrawSonveltEmblem(p, QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
    }
    if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 2;
    }
    return 0;
}
