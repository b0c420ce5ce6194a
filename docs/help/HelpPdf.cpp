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
#include <QTextLayout>
#include <QTextTable>

#include <algorithm>

#include <cstdio>
#include <memory>
#include <map>
#include <set>
#include <utility>

namespace {

// How both help documents look.
const QString kStyle = QStringLiteral(
    "body { font-size: 10pt; }"
    "h1 { font-size: 20pt; color: #1e294f; }"
    "h2 { font-size: 14pt; color: #4338ca; margin-top: 14pt; }"
    "h3 { font-size: 11pt; color: #1e294f; margin-top: 8pt; }"
    "td, th { padding: 3px; vertical-align: top; }"
    "th { background-color: #e6e8f5; text-align: left; }"
    "code, pre { font-family: \"DejaVu Sans Mono\", monospace; }"
    ".note { color: #555555; }");

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

// What is moved to the start of a page so that it stays together: headings
// (by how much space goes before them) and table rows, each by its place in
// the document (the n-th heading, the n-th table row below a heading row),
// which stays the same however the document is split.
struct KeptTogether {
    std::map<int, qreal> headings;
    std::set<int> rows;
};

// The HTML with each table cut before the rows in `rows`: the rest of the
// table goes on as a new table, on a new page, under the same heading row.
QString SplitTables(const QString& html, const std::set<int>& rows) {
    static const QRegularExpression tag(QStringLiteral("<(/?)(table|tr)\\b[^>]*>"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString out, opening, headingRow;
    qsizetype last = 0;
    int rowInTable = 0, row = 0;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (!m.captured(1).isEmpty()) continue;
        if (m.captured(2).compare(QStringLiteral("table"), Qt::CaseInsensitive) == 0) {
            opening = m.captured(0);
            rowInTable = 0;
            continue;
        }
        const qsizetype end = html.indexOf(QStringLiteral("</tr>"), m.capturedEnd(), Qt::CaseInsensitive);
        if (end < 0) break;
        if (rowInTable++ == 0) {
            headingRow = html.mid(m.capturedStart(), end + 5 - m.capturedStart());
            continue;
        }
        if (rows.count(row++) == 0) continue;
        QString broken = opening;
        broken.insert(6, QStringLiteral(" style=\"page-break-before: always\""));
        out += html.mid(last, m.capturedStart() - last) + QStringLiteral("</table>") + broken + headingRow;
        last = m.capturedStart();
    }
    return out + html.mid(last);
}

// The document from its HTML on pages of `page`, with what `kept` names
// moved to the start of a page, set before anything is laid out.
std::unique_ptr<QTextDocument> Layout(const QString& html, const QFont& font, const QSizeF& page,
                                      const KeptTogether& kept) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(font);
    doc->setDefaultStyleSheet(kStyle);
    doc->setHtml(SplitTables(html, kept.rows));
    doc->setPageSize(page);
    RepeatTableHeadings(doc->rootFrame());
    // A heading moves by the space before it, not by a page break: a break
    // would add a page of its own where the heading already begins a page.
    int heading = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0) continue;
        const auto keep = kept.headings.find(heading++);
        if (keep == kept.headings.end()) continue;
        QTextCursor cursor(block);
        QTextBlockFormat f = cursor.blockFormat();
        f.setTopMargin(f.topMargin() + keep->second);
        cursor.setBlockFormat(f);
    }
    return doc;
}

// Where a block's text begins and ends in the document. A line that would
// cross the end of a page has already been moved to the next one, so this is
// where the text stands, not where the block began.
std::pair<qreal, qreal> TextSpan(QTextDocument& doc, const QTextBlock& block) {
    const qreal at = doc.documentLayout()->blockBoundingRect(block).top();
    const QTextLayout* lines = block.layout();
    if (lines->lineCount() == 0) return {at, at};
    const QTextLine last = lines->lineAt(lines->lineCount() - 1);
    return {at + lines->lineAt(0).y(), at + last.y() + last.height()};
}

// Something that does not stay together: its place among its kind, and
// where it begins in the document.
struct Break {
    int number = -1;
    qreal top = 1e30;
};

// The first heading that would stand at the end of a page without at least
// five lines of what follows it (one that begins a page never does).
Break StrandedHeading(QTextDocument& doc) {
    const qreal page = doc.pageSize().height();
    const qreal lines = 5 * QFontMetricsF(doc.defaultFont()).lineSpacing() * 1.4;
    int heading = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0) continue;
        const int number = heading++;
        const auto [top, bottom] = TextSpan(doc, block);
        const qreal pageTop = int(top / page) * page;
        if (top - pageTop > lines && bottom + lines > pageTop + page) return {number, top};
    }
    return {};
}

// The first table row (below a heading row) that runs from one page onto the
// next although it would fit on one.
Break SplitRow(QTextDocument& doc, const std::set<int>& kept) {
    const qreal page = doc.pageSize().height();
    int number = 0;
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
        auto* table = qobject_cast<QTextTable*>(frame);
        if (!table) continue;
        for (int r = 1; r < table->rows(); ++r, ++number) {
            qreal top = 1e30, bottom = -1e30;
            for (int c = 0; c < table->columns(); ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                top = std::min(top, TextSpan(doc, doc.findBlock(cell.firstPosition())).first);
                bottom = std::max(bottom, TextSpan(doc, doc.findBlock(cell.lastPosition())).second);
            }
            if (!kept.count(number) && bottom - top < page && int(top / page) != int(bottom / page))
                return {number, top};
        }
    }
    return {};
}

// A heading is never the last thing on a page: when it and the start of what
// follows it do not fit, it moves to the next page; nor does a table row run
// from one page onto the next. Each move shifts what follows it, so they are
// found from the top down, one after another, each on a fresh layout.
std::unique_ptr<QTextDocument> LayoutKeepingTogether(const QString& html, const QFont& font, const QSizeF& page) {
    KeptTogether kept;
    for (;;) {
        auto doc = Layout(html, font, page, kept);
        const Break heading = StrandedHeading(*doc), row = SplitRow(*doc, kept.rows);
        if (heading.number < 0 && row.number < 0) return doc;
        // Down to the next page, below the margin every page begins with.
        const qreal page = doc->pageSize().height();
        if (heading.number >= 0 && heading.top <= row.top)
            kept.headings[heading.number] += (int(heading.top / page) + 1) * page + doc->documentMargin() - heading.top;
        else
            kept.rows.insert(row.number);
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
            LayoutKeepingTogether(html, font, pdf.pageLayout().paintRectPixels(pdf.resolution()).size() / scale);
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
