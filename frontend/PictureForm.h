// The picture of the last run in a window of its own: resizable, the picture
// drawn anew at the window's size; a click on a moment of the song plays
// the voice from there.
#pragma once

#include "RunPicture.h"

#include <QDialog>
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;

// The picture at the widget's size (drawn at least at its smallest size and
// then scaled down to fit).
class RunPictureView : public QWidget {
    Q_OBJECT
public:
    explicit RunPictureView(std::shared_ptr<const RunPicture> picture, QWidget* parent = nullptr);

    // The moment of the song under `pos` (widget coordinates); none outside
    // the lanes.
    std::optional<double> SecondsAt(const QPoint& pos) const;
    // The picture as last drawn.
    const QImage& Image() const { return image_; }

    // A left click on a moment of the song.
    std::function<void(double seconds)> clicked;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Draws the picture for the widget's size, when that has changed.
    void Draw() const;
    QPointF ToImage(const QPoint& pos) const;

    std::shared_ptr<const RunPicture> picture_;
    mutable QImage image_;
};

class TPictureForm : public QDialog {
    Q_OBJECT
public:
    explicit TPictureForm(std::shared_ptr<const RunPicture> picture, QWidget* parent = nullptr);

    RunPictureView* View;
    QLabel* HintLabel;
    // Plays from a moment of the song (seconds), when set.
    std::function<void(double seconds)> playAt;
};
