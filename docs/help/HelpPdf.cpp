// Turns the help page (HTML) into the PDF that ships next to the program.
//   sonvelt_helpgen SOURCE.html OUTPUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QScreen>
#include <QAbstractTextDocumentLayout>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cstdio>
#include <memory>
#include <set>

namespace {

// Command-line options ("--yes", "-o") are never split across lines: a word
// joiner after each of their leading hyphens holds them together.
QString JoinOptions(const QString& html) {
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(-{1,2})(?=[A-Za-z])"));
    QString out;
    qsizetype last = 0;
    for (auto it = option.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += html.mid(last, m.capturedStart() - last);
        for (qsizetype i = 0; i < m.capturedLength(); ++i) out += QStringLiteral("-\u2060");
        last = m.capturedEnd();
    }
    return out + html.mid(last);
}

// Tables repeat their heading row on every page they run onto.
void RepeatTableHeadings(QTextFrame* frame) {
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            QTextTableFormat f = table->format();
            f.setHeaderRowCount(1);
            table->setFormat(f);
        }
        RepeatTableHeadings(child);
    }
}

// The document from its HTML on pages of `page`, with a page break before
// each block numbered in `breaks`, set before anything is laid out.
std::unique_ptr<QTextDocument> Layout(const QString& html, const QFont& font, const QSizeF& page,
                                      const std::set<int>& breaks) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(font);
    doc->setHtml(html);
    doc->setPageSize(page);
    RepeatTableHeadings(doc->rootFrame());
    for (int number : breaks) {
        QTextCursor cursor(doc->findBlockByNumber(number));
        QTextBlockFormat f = cursor.blockFormat();
        f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor.setBlockFormat(f);
    }
    return doc;
}

// The first heading that would stand at the end of a page without at least
// five lines of what follows it, or -1.
int StrandedHeading(QTextDocument& doc, const std::set<int>& breaks) {
    const qreal page = doc.pageSize().height();
    const qreal lines = 5 * QFontMetricsF(doc.defaultFont()).lineSpacing() * 1.4;
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || breaks.count(block.blockNumber())) continue;
        const QRectF heading = layout->blockBoundingRect(block);
        const int pageOfTop = int(heading.top() / page);
        if (heading.top() + heading.height() + lines > (pageOfTop + 1) * page) return block.blockNumber();
    }
    return -1;
}

// A heading is never the last thing on a page: when it and the start of what
// follows it do not fit, it moves to the next page. Each move shifts what
// follows, so the headings are found one after another, each on a fresh
// layout.
std::unique_ptr<QTextDocument> LayoutWithHeadingsKept(const QString& html, const QFont& font, const QSizeF& page) {
    std::set<int> breaks;
    for (;;) {
        auto doc = Layout(html, font, page, breaks);
        const int stranded = StrandedHeading(*doc, breaks);
        if (stranded < 0) return Layout(html, font, page, breaks);
        breaks.insert(stranded);
    }
}

} // namespace

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
    const QString html = JoinOptions(QString::fromUtf8(source.readAll()));

    // Written beside the target first, so a failed run leaves no half file.
    const QString target = QString::fromLocal8Bit(argv[2]);
    const QString partial = target + QStringLiteral(".part");
    {
        QPdfWriter pdf(partial);
        pdf.setTitle(QStringLiteral("Sonvelt Help"));
        pdf.setCreator(QStringLiteral("Sonvelt"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);

        QFont font;
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC"),
                          QStringLiteral("WenQuanYi Micro Hei")});
        font.setPointSizeF(10);
        // The document lays out at the screen's resolution; its pages have
        // the size of the PDF's printable area at that resolution.
        const qreal dpi =
            QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() : 96;
        const qreal scale = pdf.resolution() / dpi;
        const auto laidOut =
            LayoutWithHeadingsKept(html, font, pdf.pageLayout().paintRectPixels(pdf.resolution()).size() / scale);
        QTextDocument& doc = *laidOut;
        // Page by page, each page's part of the laid-out document.
        QPainter painter(&pdf);
        const QSizeF page = doc.pageSize();
        for (int i = 0; i < doc.pageCount(); ++i) {
            if (i > 0) pdf.newPage();
            painter.save();
            painter.scale(scale, scale);
            painter.translate(0, -i * page.height());
            doc.drawContents(&painter, QRectF(QPointF(0, i * page.height()), page));
            painter.restore();
        }
    }
    QFile::remove(target);
    if (QFileInfo(partial).size() < 1000 || !QFile::rename(partial, target)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        QFile::remove(partial);
        return 3;
    }
    return 0;
}
