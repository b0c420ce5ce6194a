// The About window: logo, version and credit line, with a short animation of
// the logo each time the window is shown.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QWidget>

class QFrame;
class QLabel;
class QPainter;
class QPushButton;
class QRectF;
class QTimer;

// Draws the product emblem (the rounded square with the voice wave) into
// `box`; the About logo and the desktop icon use it.
void DrawSonveltEmblem(QPainter& painter, const QRectF& box);
// The 226 x 66 logo picture; its top-left pixel holds the background colour.
QImage SonveltLogo();
// The program's window icon: the emblem at the sizes desktops ask for.
QIcon ProgramIcon();

// A picture shown centred in its area; pixels of the transparent colour let
// the window show through.
class LogoImage : public QWidget {
public:
    explicit LogoImage(QWidget* parent = nullptr);
    QImage& Picture() { return picture_; }
    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture) { picture_ = picture; update(); }
    QRgb TransparentColor = 0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // The values the bounce phase adds to the copied width, one per tick.
    static constexpr int BounceTable[16] = {150, 225, 244, 225, 145, 65, 15, -12,
                                            -20, -10, 8,   0,   -4,  0,   2,  0};

    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    QFrame* Bevel1 = nullptr;
    LogoImage* LogoImg = nullptr;
    QLabel* VerLabel = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* AbOkBtn = nullptr;
    QTimer* Timer1 = nullptr;

    int LogoWidth = 0;
    int LogoHeight = 0;
    // The logo with 150 background columns before it and 350 after it.
    QImage LogoStrip;
    int AnimState = 0;
    // The logo's background colour, taken from its top-left pixel.
    QRgb Background = 0;

    void FormCreate();
    void FormShow();
    void Timer1Timer();
    void FormClose();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    // Copies the strip from (x, 0) to (x + width, LogoHeight) onto the whole
    // picture; columns outside the strip show the background.
    void DrawStrip(int x, int width);
};
