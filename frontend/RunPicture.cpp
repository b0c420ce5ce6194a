#include "RunPicture.h"

#include "FormatText.h"
#include "NewFile.h"
#include "RunSummary.h"
#include "Twave.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Words {
    const char *original, *voice, *position, *removal, *seconds, *fitted, *blocks, *fittedLine, *unmatched, *seam,
        *removed, *warning, *inAll, *noBlocks, *noAnalysis, *analysisOnly, *originalAlone, *unreadable;
};

constexpr Words kChinese = {
    "原唱", "人声", "伴奏位置与拟合直线之差", "每秒去除量", "秒", "拟合直线：偏移 %+.3f 秒，漂移 %+.1f ppm",
    "区块位置", "拟合直线", "伴奏中没有对应部分", "接缝（编辑）", "去除 ≥ 1 dB", "去除 < 1 dB 或增加了能量",
    "总计 %.1f dB", "没有区块位置（按区块对齐）", "没有自动分析", "只做了分析：没有人声", "只处理了原唱：没有去除",
    "无法读取"};
constexpr Words kEnglish = {
    "Original", "Voice", "Karaoke position against the fitted line", "Removal per second", "s",
    "fitted line: offset %+.3f s, drift %+.1f ppm", "block position", "fitted line", "no counterpart in the karaoke",
    "seam (edit)", "removed ≥ 1 dB", "removed < 1 dB or added", "in all %.1f dB",
    "no block positions (aligned block by block)", "no automatic analysis", "analysis only: no voice",
    "the original processed alone: nothing removed", "could not be read"};

// Margins and rows, pixels.
constexpr int kLeft = 64, kRight = 72, kTitleHeight = 34, kLaneHead = 18, kAxisHeight = 22, kLegendHeight = 28,
              kLaneGap = 4;
constexpr int kLaneWeights[RunPictureLayout::kLanes] = {3, 3, 2, 2};
// The spectrograms' colour scale spans this much below its top.
constexpr float kColourRangeDb = 90;
// A second that took out less than this is in the warning colour (the
// floor of the run's own warning).
constexpr double kRemovalFloorDb = -1.0;

const QColor kLaneBackground(252, 252, 250);
const QColor kGrid(225, 225, 222);
const QColor kInk(40, 40, 40);
const QColor kFaintInk(110, 110, 110);
const QColor kBlockColour(30, 90, 160);
const QColor kFittedColour(60, 60, 60);
const QColor kSeamColour(200, 30, 30);

QFont PictureFont(int pixels, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A colour scale from dark to light through purple and orange, 256 steps.
const std::array<QRgb, 256>& Palette() {
    static const std::array<QRgb, 256> palette = [] {
        constexpr double stops[][4] = {{0.00, 0, 0, 4},       {0.25, 80, 18, 123},  {0.50, 182, 54, 121},
                                       {0.75, 251, 136, 97},  {1.00, 252, 253, 191}};
        std::array<QRgb, 256> p{};
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            int k = 0;
            while (k < 3 && v > stops[k + 1][0]) ++k;
            const double f = (v - stops[k][0]) / (stops[k + 1][0] - stops[k][0]);
            auto mix = [&](int c) { return int(std::lround(stops[k][c] + f * (stops[k + 1][c] - stops[k][c]))); };
            p[size_t(i)] = qRgb(mix(1), mix(2), mix(3));
        }
        return p;
    }();
    return palette;
}

double SongSeconds(const RunPicture& p) {
    const RunReport& r = p.report;
    if (r.sampleRate > 0 && r.originalFrames > 0) return double(r.originalFrames) / r.sampleRate;
    if (!p.original.Empty()) return p.original.columns * p.original.secondsPerColumn;
    return 0;
}

// 1, 2 or 5 times a power of ten, at least v.
double NiceCeil(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * decade >= v * (1 - 1e-9)) return m * decade;
    return 10 * decade;
}

QString Number(double v) {
    if (std::fabs(v) < 1e-12) return QStringLiteral("0");
    return QString::number(v, 'g', 3).replace('-', QChar(0x2212));
}

class Painter {
public:
    Painter(QImage& image, const RunPicture& picture, const RunPictureLayout& layout, Language language)
        : image_(image), p_(&image), picture_(picture), layout_(layout), language_(language),
          words_(language == Language::English ? kEnglish : kChinese) {
        p_.setRenderHint(QPainter::Antialiasing);
        p_.setFont(PictureFont(11));
    }

    void Title() {
        const RunReport& r = picture_.report;
        p_.setFont(PictureFont(14, true));
        p_.setPen(kInk);
        const QRect room = layout_.title.adjusted(kLeft, 0, -kRight, 0);
        const QString text = Q(RunSummary(r, picture_.karaokeName, language_));
        p_.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                    p_.fontMetrics().elidedText(text, Qt::ElideRight, room.width()));
        p_.setFont(PictureFont(11));
    }

    void Spectrograms() {
        const Spectrogram* lanes[] = {&picture_.original, &picture_.voice};
        // One colour scale for both: its top the loudest of either.
        float top = -200;
        for (const Spectrogram* s : lanes)
            for (float v : s->db) top = std::max(top, v);
        top = top > -200 ? std::ceil(top / 10) * 10 : 0;
        const float bottom = top - kColourRangeDb;
        const char* names[] = {words_.original, words_.voice};
        for (int i = 0; i < 2; ++i) {
            const auto lane = RunPictureLayout::Lane(RunPictureLayout::kOriginal + i);
            const QRect r = layout_.lanes[lane];
            Heading(lane, names[i], "kHz");
            if (lanes[i]->Empty()) {
                Empty(r, i == 1 && picture_.report.framesWritten == 0 ? words_.analysisOnly : words_.unreadable);
            } else {
                Cells(r, *lanes[i], bottom);
            }
            FrequencyAxis(lane);
            TimeTicks(r, false);
        }
        ColourBar(bottom, top);
    }

    void Positions() {
        const QRect r = PlotLane(RunPictureLayout::kPosition, words_.position, "ms");
        const RunReport& rep = picture_.report;
        const std::vector<BlockPosition>& blocks = rep.analysis.blocks;
        const double rate = rep.sampleRate > 0 ? rep.sampleRate : 1;
        double most = 0;
        for (const BlockPosition& b : blocks) most = std::max(most, std::fabs(b.offFitFrames) * 1000 / rate);
        const double range = NiceCeil(std::max(most * 1.05, 0.01));
        auto y = [&](double ms) {
            return r.top() + (range - ms) / (2 * range) * (r.height() - 1);
        };
        // The axis: the range, half of it and the fitted line.
        for (double v : {-range, -range / 2, 0.0, range / 2, range}) {
            p_.setPen(QPen(v == 0 ? kFittedColour : kGrid, v == 0 ? 1.5 : 1));
            p_.drawLine(QPointF(r.left(), y(v)), QPointF(r.right(), y(v)));
            YLabel(r, y(v), Number(v));
        }
        Seams(r);
        if (blocks.empty()) {
            Note(r, rep.analysed ? words_.noBlocks : words_.noAnalysis);
        } else {
            // A line through the blocks, broken where the position jumps.
            std::vector<std::pair<double, QPointF>> points; // the block's moment, where it shows
            for (const BlockPosition& b : blocks) {
                const double t = b.originalFrame / rate;
                points.push_back({t, QPointF(layout_.XAt(t), y(b.offFitFrames * 1000 / rate))});
            }
            std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            QPainterPath path;
            for (size_t k = 0; k < points.size(); ++k) {
                const bool jump = k == 0 || std::any_of(rep.seamSeconds.begin(), rep.seamSeconds.end(), [&](double s) {
                                      return s > points[k - 1].first && s <= points[k].first;
                                  });
                if (jump) path.moveTo(points[k].second);
                else path.lineTo(points[k].second);
            }
            QColor line = kBlockColour;
            line.setAlpha(140);
            p_.setPen(QPen(line, 1));
            p_.setBrush(Qt::NoBrush);
            p_.drawPath(path);
            p_.setPen(Qt::NoPen);
            p_.setBrush(kBlockColour);
            const double radius = points.size() > 1500 ? 1.2 : 1.8;
            for (const auto& [t, at] : points) p_.drawEllipse(at, radius, radius);
            p_.setBrush(Qt::NoBrush);
        }
        if (rep.analysed) {
            p_.setPen(kFaintInk);
            p_.drawText(r.adjusted(6, 3, -6, -3), Qt::AlignLeft | Qt::AlignTop,
                        Q(FormatText(words_.fitted, rep.offsetSeconds, rep.driftPpm)));
        }
        Frame(r);
    }

    void Removal() {
        const QRect r = PlotLane(RunPictureLayout::kRemoval, words_.removal, "dB");
        const RunReport& rep = picture_.report;
        const std::vector<double>& db = rep.removalDbPerSecond;
        double lo = 0, hi = 0;
        for (double v : db)
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        const double bottom = std::clamp(std::floor(std::min(lo, -20.0) / 10) * 10, -80.0, -20.0);
        const double top = std::clamp(std::ceil(std::max(hi, 5.0) / 5) * 5, 5.0, 30.0);
        auto y = [&](double v) {
            return r.top() + (top - std::clamp(v, bottom, top)) / (top - bottom) * (r.height() - 1);
        };
        const double step = r.height() / ((top - bottom) / 10) < 18 ? 20 : 10;
        for (double v = 0; v >= bottom; v -= step) {
            p_.setPen(QPen(v == 0 ? kFittedColour : kGrid, 1));
            p_.drawLine(QPointF(r.left(), y(v)), QPointF(r.right(), y(v)));
            YLabel(r, y(v), Number(v));
        }
        if (y(0) - y(top) >= 14) YLabel(r, y(top), Number(top));
        Seams(r);
        if (db.empty()) {
            Note(r, rep.framesWritten == 0 ? words_.analysisOnly : words_.originalAlone);
        } else {
            p_.setRenderHint(QPainter::Antialiasing, false);
            for (size_t s = 0; s < db.size(); ++s) {
                if (!std::isfinite(db[s])) continue;
                int x0 = layout_.XAt(double(s)), x1 = layout_.XAt(std::min(double(s + 1), layout_.seconds));
                if (x1 - x0 > 3) --x1;
                const double y0 = y(0), y1 = y(db[s]);
                p_.fillRect(QRectF(QPointF(x0, std::min(y0, y1)), QPointF(std::max(x1, x0 + 1), std::max(y0, y1) + 1)),
                            db[s] > kRemovalFloorDb ? kWarningColour : kRemovedColour);
            }
            p_.setRenderHint(QPainter::Antialiasing, true);
            if (rep.extracted) {
                p_.setPen(QPen(kInk, 1, Qt::DashLine));
                p_.drawLine(QPointF(r.left(), y(rep.removalDb)), QPointF(r.right(), y(rep.removalDb)));
                p_.drawText(QRectF(r.left(), y(rep.removalDb) + 2, r.width() - 6, 16), Qt::AlignRight | Qt::AlignTop,
                            Q(FormatText(words_.inAll, rep.removalDb)).replace('-', QChar(0x2212)));
            }
        }
        Frame(r);
        TimeLabels(r);
    }

    void Legend() {
        const QRect r = layout_.legend;
        QFontMetrics metrics(p_.font());
        int x = kLeft;
        const int mid = r.center().y();
        auto item = [&](const char* text, const std::function<void(const QRect&)>& sample) {
            const QRect box(x, mid - 6, 18, 12);
            sample(box);
            const QString t = Q(text);
            p_.setPen(kInk);
            p_.drawText(QRect(box.right() + 5, r.top(), metrics.horizontalAdvance(t) + 2, r.height()),
                        Qt::AlignLeft | Qt::AlignVCenter, t);
            x = box.right() + 5 + metrics.horizontalAdvance(t) + 18;
        };
        item(words_.blocks, [&](const QRect& b) {
            p_.setPen(QPen(kBlockColour, 1));
            p_.drawLine(b.left(), b.center().y(), b.right(), b.center().y());
            p_.setPen(Qt::NoPen);
            p_.setBrush(kBlockColour);
            p_.drawEllipse(QPointF(b.center()), 2.2, 2.2);
            p_.setBrush(Qt::NoBrush);
        });
        item(words_.fittedLine, [&](const QRect& b) {
            p_.setPen(QPen(kFittedColour, 1.5));
            p_.drawLine(b.left(), b.center().y(), b.right(), b.center().y());
        });
        item(words_.unmatched, [&](const QRect& b) { p_.fillRect(b, kUnmatchedColour); });
        item(words_.seam, [&](const QRect& b) {
            p_.setPen(QPen(kSeamColour, 1.5, Qt::DashLine));
            p_.drawLine(b.center().x(), b.top(), b.center().x(), b.bottom());
        });
        item(words_.removed, [&](const QRect& b) { p_.fillRect(b.adjusted(4, 0, -4, 0), kRemovedColour); });
        item(words_.warning, [&](const QRect& b) { p_.fillRect(b.adjusted(4, 0, -4, 0), kWarningColour); });
    }

private:
    // A lane of points or bars: its heading, its background with the
    // stretches without a counterpart shaded, and the time grid.
    QRect PlotLane(RunPictureLayout::Lane lane, const char* text, const char* unit) {
        const QRect r = layout_.lanes[lane];
        Heading(lane, text, unit);
        p_.fillRect(r, kLaneBackground);
        Unmatched(r);
        TimeTicks(r, true);
        return r;
    }

    void Heading(RunPictureLayout::Lane lane, const char* text, const char* unit) {
        const QRect r = layout_.lanes[lane];
        p_.setPen(kInk);
        p_.drawText(QRect(r.left(), r.top() - kLaneHead, r.width(), kLaneHead), Qt::AlignLeft | Qt::AlignVCenter,
                    Q(text));
        p_.setPen(kFaintInk);
        p_.drawText(QRect(0, r.top() - kLaneHead, kLeft - 6, kLaneHead), Qt::AlignRight | Qt::AlignTop, Q(unit));
    }

    void YLabel(const QRect& r, double y, const QString& text) {
        p_.setPen(kFaintInk);
        p_.setFont(PictureFont(10));
        p_.drawText(QRectF(0, y - 7, r.left() - 6, 14), Qt::AlignRight | Qt::AlignVCenter, text);
        p_.setFont(PictureFont(11));
    }

    void Frame(const QRect& r) {
        p_.setPen(QPen(kFaintInk, 1));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(QRectF(r).adjusted(-0.5, -0.5, 0.5, 0.5));
    }

    void Empty(const QRect& r, const char* text) {
        p_.fillRect(r, kNothingColour);
        Note(r, text);
        Frame(r);
    }

    void Note(const QRect& r, const char* text) {
        p_.setPen(kFaintInk);
        p_.drawText(r, Qt::AlignCenter, Q(text));
    }

    // Every pixel of a spectrogram lane: the loudest of the columns and bins
    // it covers, so a tone narrower than a row or a moment shorter than a
    // column still shows.
    void Cells(const QRect& r, const Spectrogram& s, float bottom) {
        const auto& palette = Palette();
        const int w = r.width(), h = r.height();
        // The bins each row covers, bottom row lowest.
        std::vector<std::pair<int, int>> rows(static_cast<size_t>(h));
        const double hzPerRow = layout_.maxHz / std::max(1, h - 1);
        for (int y = 0; y < h; ++y) {
            const double hz = (h - 1 - y) * hzPerRow;
            int b0 = int(std::ceil((hz - hzPerRow / 2) / s.binHz)), b1 = int(std::floor((hz + hzPerRow / 2) / s.binHz));
            if (b1 < b0) b0 = b1 = int(std::lround(hz / s.binHz));
            rows[size_t(y)] = {std::clamp(b0, 0, s.bins - 1), std::clamp(b1, 0, s.bins - 1)};
        }
        std::vector<float> column(size_t(s.bins));
        const double secondsPerPixel = layout_.seconds / w;
        for (int x = 0; x < w; ++x) {
            const double t0 = x * secondsPerPixel, t1 = (x + 1) * secondsPerPixel;
            const int c0 = int(t0 / s.secondsPerColumn);
            const int c1 = std::max(c0, int(std::ceil(t1 / s.secondsPerColumn)) - 1);
            std::fill(column.begin(), column.end(), Spectrogram::kFloorDb);
            for (int c = c0; c <= c1 && c < s.columns; ++c)
                for (int b = 0; b < s.bins; ++b) column[size_t(b)] = std::max(column[size_t(b)], s.At(c, b));
            for (int y = 0; y < h; ++y) {
                const auto [b0, b1] = rows[size_t(y)];
                float v = column[size_t(b0)];
                for (int b = b0 + 1; b <= b1; ++b) v = std::max(v, column[size_t(b)]);
                const int index = std::clamp(int((v - bottom) / kColourRangeDb * 255), 0, 255);
                reinterpret_cast<QRgb*>(image_.scanLine(r.top() + y))[r.left() + x] = palette[size_t(index)];
            }
        }
        Frame(r);
    }

    void FrequencyAxis(RunPictureLayout::Lane lane) {
        const QRect r = layout_.lanes[lane];
        const double step = layout_.maxHz > 6000 ? 2000 : 1000;
        for (double hz = 0; hz <= layout_.maxHz; hz += step) {
            const int y = layout_.YAtHz(lane, hz);
            p_.setPen(kFaintInk);
            p_.drawLine(r.left() - 4, y, r.left() - 1, y);
            YLabel(r, y, Number(hz / 1000));
        }
    }

    void ColourBar(float bottom, float top) {
        const QRect a = layout_.lanes[RunPictureLayout::kOriginal], b = layout_.lanes[RunPictureLayout::kVoice];
        const QRect bar(a.right() + 12, a.top(), 12, b.bottom() - a.top() + 1);
        const auto& palette = Palette();
        for (int y = 0; y < bar.height(); ++y) {
            const int index = std::clamp(int(255 - 255.0 * y / std::max(1, bar.height() - 1)), 0, 255);
            p_.fillRect(QRect(bar.left(), bar.top() + y, bar.width(), 1), QColor(palette[size_t(index)]));
        }
        Frame(bar);
        p_.setPen(kFaintInk);
        p_.drawText(QRect(bar.left() - 4, bar.top() - kLaneHead, kRight, kLaneHead), Qt::AlignLeft | Qt::AlignVCenter,
                    QStringLiteral("dB"));
        for (float v = top; v >= bottom; v -= 30) {
            const double y = bar.top() + (top - v) / kColourRangeDb * (bar.height() - 1);
            p_.drawText(QRectF(bar.right() + 4, y - 8, kRight - 28, 16), Qt::AlignLeft | Qt::AlignVCenter, Number(v));
        }
    }

    void Unmatched(const QRect& r) {
        for (const auto& [start, end] : picture_.report.unmatchedSeconds) {
            const int x0 = std::max(r.left(), layout_.XAt(start)), x1 = std::min(r.right(), layout_.XAt(end));
            if (x1 >= x0) p_.fillRect(QRect(x0, r.top(), x1 - x0 + 1, r.height()), kUnmatchedColour);
        }
    }

    void Seams(const QRect& r) {
        p_.setPen(QPen(kSeamColour, 1.5, Qt::DashLine));
        for (double s : picture_.report.seamSeconds)
            p_.drawLine(QPointF(layout_.XAt(s), r.top()), QPointF(layout_.XAt(s), r.bottom()));
    }

    // The time axis's step: the shortest of the usual steps at least 60
    // pixels apart.
    double TimeStep(const QRect& r) const {
        const double pixelsPerSecond = r.width() / layout_.seconds;
        for (double step : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1200.0, 1800.0, 3600.0})
            if (step * pixelsPerSecond >= 60) return step;
        return 7200;
    }

    void TimeTicks(const QRect& r, bool grid) {
        const double step = TimeStep(r);
        for (double t = 0; t <= layout_.seconds; t += step) {
            const int x = layout_.XAt(t);
            if (grid) {
                p_.setPen(QPen(kGrid, 1));
                p_.drawLine(x, r.top(), x, r.bottom());
            }
            p_.setPen(kFaintInk);
            p_.drawLine(x, r.bottom() + 1, x, r.bottom() + 4);
        }
    }

    void TimeLabels(const QRect& r) {
        const double step = TimeStep(r);
        p_.setPen(kFaintInk);
        const QFontMetrics metrics(p_.font());
        int lastRight = -1;
        for (double t = 0; t <= layout_.seconds; t += step) {
            const QString text = Number(t);
            const int x = layout_.XAt(t), w = metrics.horizontalAdvance(text);
            p_.drawText(QRect(x - w / 2 - 2, r.bottom() + 4, w + 4, kAxisHeight - 4), Qt::AlignCenter, text);
            lastRight = x + w / 2 + 2;
        }
        p_.drawText(QRect(std::max(lastRight + 6, r.right() + 6), r.bottom() + 4, kRight, kAxisHeight - 4),
                    Qt::AlignLeft | Qt::AlignVCenter, Q(words_.seconds));
    }

    QImage& image_;
    QPainter p_;
    const RunPicture& picture_;
    const RunPictureLayout& layout_;
    const Language language_;
    const Words& words_;
};

} // namespace

void ReadRunPictureSpectrograms(RunPicture& picture, TWaveData& original, TWaveData* voice, int columns) {
    int64_t frames = picture.report.originalFrames;
    if (frames <= 0 && original.Format.nBlockAlign > 0) frames = original.DataBytes / original.Format.nBlockAlign;
    ReadSpectrogram(original, frames, columns, kPictureMaxHz, picture.original);
    if (voice) ReadSpectrogram(*voice, frames, columns, kPictureMaxHz, picture.voice);
    else picture.voice = Spectrogram{};
}

int RunPictureLayout::XAt(double second) const {
    const QRect& r = lanes[0];
    return r.left() + int(std::lround(second / seconds * r.width()));
}

std::optional<double> RunPictureLayout::SecondsAt(int x) const {
    const QRect& r = lanes[0];
    if (x < r.left() || x > r.right()) return std::nullopt;
    return std::clamp((x - r.left() + 0.5) / r.width() * seconds, 0.0, seconds);
}

int RunPictureLayout::YAtHz(Lane lane, double hz) const {
    const QRect& r = lanes[lane];
    return r.bottom() - int(std::lround(hz / maxHz * (r.height() - 1)));
}

RunPictureLayout LayoutRunPicture(const RunPicture& picture, QSize size) {
    RunPictureLayout l;
    l.size = size.expandedTo(kMinimumPictureSize);
    const int w = l.size.width(), h = l.size.height();
    l.title = QRect(0, 0, w, kTitleHeight);
    l.legend = QRect(0, h - kLegendHeight, w, kLegendHeight);
    const int top = kTitleHeight, bottom = h - kLegendHeight - kAxisHeight;
    const int room = bottom - top - RunPictureLayout::kLanes * kLaneHead - (RunPictureLayout::kLanes - 1) * kLaneGap;
    int weights = 0;
    for (int weight : kLaneWeights) weights += weight;
    int y = top;
    for (int i = 0; i < RunPictureLayout::kLanes; ++i) {
        y += kLaneHead;
        const int height = room * kLaneWeights[i] / weights;
        l.lanes[i] = QRect(kLeft, y, w - kLeft - kRight, height);
        y += height + kLaneGap;
    }
    l.seconds = SongSeconds(picture);
    if (l.seconds <= 0) l.seconds = 1;
    if (picture.report.sampleRate > 0) l.maxHz = std::min(kPictureMaxHz, picture.report.sampleRate / 2.0);
    return l;
}

QImage DrawRunPicture(const RunPicture& picture, QSize size, Language language) {
    const RunPictureLayout layout = LayoutRunPicture(picture, size);
    QImage image(layout.size, QImage::Format_RGB32);
    image.fill(Qt::white);
    Painter painter(image, picture, layout, language);
    painter.Title();
    painter.Spectrograms();
    painter.Positions();
    painter.Removal();
    painter.Legend();
    return image;
}

std::string SaveRunPicture(const QImage& image, const std::string& path, bool replace) {
    QByteArray png;
    QBuffer buffer(&png);
    // A light compression: the spectrograms hardly compress further, and the
    // default level takes three times as long for 5 % less.
    constexpr int kPngQuality = 80;
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG", kPngQuality))
        return "cannot encode the picture as PNG";
    std::string temp;
    const int fd = NewFile::CreateUnique(NewFile::TemporaryStem(path), temp);
    if (fd < 0) return std::string("cannot create a temporary file beside it (") + std::strerror(errno) + ")";
    int error = 0;
    for (qsizetype done = 0; done < png.size() && error == 0;) {
        const ssize_t n = ::write(fd, png.constData() + done, size_t(png.size() - done));
        if (n > 0) done += n;
        else if (n < 0 && errno != EINTR) error = errno;
    }
    if (error == 0) ::fchmod(fd, NewFile::UsualFileMode());
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return std::string("cannot write the picture (") + std::strerror(error) + ")";
    }
    if ((replace ? ::rename(temp.c_str(), path.c_str()) : NewFile::RenameNoReplace(temp.c_str(), path.c_str())) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        return error == EEXIST ? "appeared during the run and was not replaced (--yes replaces it)"
                               : std::string("the picture cannot take this name (") + std::strerror(error) + ")";
    }
    return "";
}

PaintingApplication::PaintingApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 3;
    static char name[] = "sonvelt", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // The toolkit takes the environment's locale for the C library too; the
    // program's own number formats stay as they were. Its remarks while it
    // starts (a missing runtime folder) are none of the user's concern.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    app_ = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
    std::setlocale(LC_ALL, locale.c_str());
}

PaintingApplication::~PaintingApplication() = default;
