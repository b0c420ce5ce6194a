#include "About.h"

#include "UiDialogs.h"

#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <cmath>
#include <numbers>

namespace {

// Animation position, shared by every About window.
int AnimOffset = 0;
int AnimCount = 0;
int BounceIndex = 0;

const QColor kLogoBackground(240, 240, 240);

} // namespace

void DrawSonveltEmblem(QPainter& p, const QRectF& box) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width();

    // Rounded square from teal to indigo.
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0.0, QColor(20, 184, 166));
    fill.setColorAt(1.0, QColor(67, 56, 202));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(box, s * 0.22, s * 0.22);

    // The accompaniment: a faint flat line through the middle.
    const qreal mid = box.center().y();
    p.setPen(QPen(QColor(255, 255, 255, 90), s * 0.035, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(box.left() + s * 0.14, mid), QPointF(box.right() - s * 0.14, mid));

    // The voice: a wave that swells in the middle and fades at both ends.
    QPainterPath wave;
    const int steps = 96;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = qreal(i) / steps;
        const qreal envelope = std::sin(t * std::numbers::pi);
        const qreal x = box.left() + s * (0.14 + 0.72 * t);
        const qreal y = mid - s * 0.30 * envelope * envelope * std::sin(t * 5.0 * std::numbers::pi);
        if (i == 0) wave.moveTo(x, y);
        else wave.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(wave);
    p.restore();
}

QImage SonveltLogo() {
    QImage logo(226, 66, QImage::Format_RGB32);
    logo.fill(kLogoBackground);
    QPainter p(&logo);
    DrawSonveltEmblem(p, QRectF(8, 7, 52, 52));
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont word(QStringLiteral("DejaVu Sans"));
    word.setPixelSize(31);
    word.setBold(true);
    p.setFont(word);
    p.setPen(QColor(30, 41, 79));
    p.drawText(QRectF(68, 4, 152, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Sonvelt"));

    p.setPen(QPen(QColor(20, 184, 166), 2));
    p.drawLine(QPointF(70, 44), QPointF(214, 44));
    p.setFont(WindowFont(12));
    p.setPen(QColor(67, 56, 202));
    p.drawText(QRectF(70, 46, 144, 16), Qt::AlignLeft | Qt::AlignVCenter, Tr(QStringLiteral("人声提取")));
    return logo;
}

LogoImage::LogoImage(QWidget* parent) : QWidget(parent) {}

void LogoImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QImage shown = picture_.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = TransparentColor | 0xff000000u;
    for (int y = 0; y < shown.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x)
            if (line[x] == key) line[x] = 0;
    }
    QPainter p(this);
    p.drawImage((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown);
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Sonvelt"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(WindowFont(12));
    setFixedSize(257, 159);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 241, 113);

    LogoImg = new LogoImage(this);
    LogoImg->setGeometry(16, 17, 225, 64);

    VerLabel = new QLabel(Tr(QStringLiteral("版本")), this);
    VerLabel->setFont(WindowFont(16));
    VerLabel->move(166, 80);

    Label2 = new QLabel(Tr(QStringLiteral("© Sonvelt 开发团队")), this);
    Label2->move(104, 104);

    AbOkBtn = new QPushButton(QStringLiteral("OK"), this);
    AbOkBtn->setGeometry(88, 128, 75, 25);
    AbOkBtn->setDefault(true);
    connect(AbOkBtn, &QPushButton::clicked, this, &QDialog::accept);

    Timer1 = new QTimer(this);
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &TAboutForm::Timer1Timer);

    FormCreate();
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::FormCreate() {
    VerLabel->setText(QStringLiteral("Version ") + QStringLiteral("3.0"));
    VerLabel->adjustSize();
    Label2->adjustSize();

    const QImage logo = SonveltLogo();
    LogoWidth = logo.width();
    LogoHeight = logo.height();
    Background = logo.pixel(0, 0);

    LogoStrip = QImage(LogoWidth + 500, LogoHeight, QImage::Format_RGB32);
    LogoStrip.fill(Background);
    {
        QPainter p(&LogoStrip);
        p.drawImage(150, 0, logo);
    }

    QImage blank(LogoWidth, LogoHeight, QImage::Format_RGB32);
    blank.fill(Background);
    LogoImg->TransparentColor = Background;
    LogoImg->SetPicture(blank);
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    FormShow();
}

void TAboutForm::FormShow() {
    AnimState = 0;
    Timer1->start();
}

void TAboutForm::DrawStrip(int x, int width) {
    QImage& picture = LogoImg->Picture();
    if (width <= 0 || picture.isNull()) return;
    const int stripWidth = LogoStrip.width();
    for (int y = 0; y < LogoHeight; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const auto* src = reinterpret_cast<const QRgb*>(LogoStrip.constScanLine(y));
        for (int px = 0; px < LogoWidth; ++px) {
            const int sx = x + int(qint64(px) * width / LogoWidth);
            dst[px] = (sx >= 0 && sx < stripWidth) ? src[sx] : Background;
        }
    }
    LogoImg->update();
}

void TAboutForm::Timer1Timer() {
    switch (AnimState) {
    case 0:
        AnimOffset = -106;
        AnimCount = 0;
        AnimState = 1;
        break;
    case 1:
        if (++AnimCount > 5) AnimState = 2;
        break;
    case 2:
        // First pass: in at the right, out at the left.
        AnimOffset += 80;
        DrawStrip(AnimOffset, LogoWidth);
        if (AnimOffset >= 375) {
            AnimState = 3;
            AnimCount = 0;
        }
        break;
    case 3:
        if (++AnimCount > 10) {
            AnimState = 4;
            AnimOffset = -106;
        }
        break;
    case 4:
        // Second pass: in from the right, stopping in place.
        AnimOffset += 64;
        DrawStrip(AnimOffset, LogoWidth);
        if (AnimOffset >= 150) {
            AnimState = 5;
            BounceIndex = 0;
        }
        break;
    case 5:
        // The spring: the logo squeezed and stretched until it settles.
        DrawStrip(150, LogoWidth + BounceTable[BounceIndex]);
        if (++BounceIndex > 15) AnimState = 6;
        break;
    default:
        Timer1->stop();
        break;
    }
}

void TAboutForm::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TAboutForm::FormClose() {
    Timer1->stop();
    LogoImg->Picture().fill(Background);
    LogoImg->update();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal margin = size / 32.0;
        DrawSonveltEmblem(p, QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
