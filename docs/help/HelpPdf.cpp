// Turns the help page (HTML) into the PDF that ships next to the program.
//   sonvelt_helpgen SOURCE.html OUTPUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE.html OUTPUT.pdf\n", argv[0]);
        return 1;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 2;
    }
    const QString html = QString::fromUtf8(source.readAll());

    // Written beside the target first, so a failed run leaves no half file.
    const QString target = QString::fromLocal8Bit(argv[2]);
    const QString partial = target + QStringLiteral(".part");
    {
        QPdfWriter pdf(partial);
        pdf.setTitle(QStringLiteral("Sonvelt Help"));
        pdf.setCreator(QStringLiteral("Sonvelt"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);

        QTextDocument doc;
        QFont font;
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC"),
                          QStringLiteral("WenQuanYi Micro Hei")});
        font.setPointSizeF(10);
        doc.setDefaultFont(font);
        doc.setHtml(html);
        doc.print(&pdf);
    }
    QFile::remove(target);
    if (QFileInfo(partial).size() < 1000 || !QFile::rename(partial, target)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        QFile::remove(partial);
        return 3;
    }
    return 0;
}
