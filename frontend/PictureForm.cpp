#include "PictureForm.h"

#include "Language.h"
#include "UiDialogs.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace {

namespace Text {
inline const QString kTitle = QStringLiteral("运行图");
inline const QString kHint = QStringLiteral("单击歌曲中的某一时刻，即从那里播放人声（可切换到原唱）");
} // namespace Text

} // namespace

RunPictureView::RunPictureView(std::shared_ptr<const RunPicture> picture, QWidget* parent)
    : QWidget(parent), picture_(std::move(picture)) {
    setMouseTracking(true);
    setMinimumSize(480, 240);
}

void RunPictureView::Draw() const {
    const QSize wanted = size().expandedTo(kMinimumPictureSize);
    if (image_.size() != wanted) image_ = DrawRunPicture(*picture_, wanted, CurrentLanguage());
}

QPointF RunPictureView::ToImage(const QPoint& pos) const {
    Draw();
    return {double(pos.x()) * image_.width() / std::max(1, width()),
            double(pos.y()) * image_.height() / std::max(1, height())};
}

std::optional<double> RunPictureView::SecondsAt(const QPoint& pos) const {
    const QPointF at = ToImage(pos);
    const RunPictureLayout layout = LayoutRunPicture(*picture_, image_.size());
    const int top = layout.lanes[0].top(), bottom = layout.lanes[RunPictureLayout::kLanes - 1].bottom();
    if (at.y() < top || at.y() > bottom) return std::nullopt;
    return layout.SecondsAt(int(at.x()));
}

void RunPictureView::paintEvent(QPaintEvent*) {
    Draw();
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(), image_);
}

void RunPictureView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    if (const std::optional<double> s = SecondsAt(event->position().toPoint()); s && clicked) clicked(*s);
}

void RunPictureView::mouseMoveEvent(QMouseEvent* event) {
    setCursor(SecondsAt(event->position().toPoint()) ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

TPictureForm::TPictureForm(std::shared_ptr<const RunPicture> picture, QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tr(Text::kTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setSizeGripEnabled(true);
    View = new RunPictureView(std::move(picture), this);
    HintLabel = new QLabel(Tr(Text::kHint), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(View, 1);
    layout->addWidget(HintLabel);
    View->clicked = [this](double seconds) {
        if (playAt) playAt(seconds);
    };
    resize(1100, 660);
}
