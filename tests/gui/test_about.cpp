// The About window: texts, and the logo animation frame by frame (ticks are
// driven by hand; the logo area is compared, not timings).
#include "About.h"
#include "GuiTest.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        logo = SonveltLogo();
        background = logo.pixel(0, 0);
    }

    // Runs ticks up to tick number `n`, counted from the window's showing.
    void TickTo(TAboutForm& form, int n) {
        for (; ticks < n; ++ticks) form.Timer1Timer();
    }

    bool IsBlank(const QImage& picture) const {
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (picture.pixel(x, y) != background) return false;
        return true;
    }

    // Picture column `x` equals logo column `logoX` (or is blank when
    // `logoX` lies outside the logo).
    bool ColumnIs(const QImage& picture, int x, int logoX) const {
        for (int y = 0; y < picture.height(); ++y) {
            const QRgb want = (logoX >= 0 && logoX < logo.width()) ? logo.pixel(logoX, y) : background;
            if (picture.pixel(x, y) != want) return false;
        }
        return true;
    }

    // The logo drawn at offset `x` of the strip: shifted by 150 - x.
    bool ShowsLogoShiftedBy(const QImage& picture, int shift) const {
        for (int x = 0; x < picture.width(); ++x)
            if (!ColumnIs(picture, x, x - shift)) return false;
        return true;
    }

    // The rightmost column that is not background, or -1.
    int RightEdge(const QImage& picture) const {
        for (int x = picture.width() - 1; x >= 0; --x)
            for (int y = 0; y < picture.height(); ++y)
                if (picture.pixel(x, y) != background) return x;
        return -1;
    }

    QImage logo;
    QRgb background = 0;
    int ticks = 0;
};

TEST_F(AboutTest, WindowAndLogo) {
    TAboutForm form;
    EXPECT_EQ(form.windowTitle(), "Sonvelt");
    EXPECT_EQ(form.VerLabel->text(), "Version 3.0");
    EXPECT_FALSE(form.Label2->text().isEmpty());
    EXPECT_EQ(form.size(), QSize(257, 159));
    EXPECT_EQ(form.LogoWidth, 226);
    EXPECT_EQ(form.LogoHeight, 66);
    EXPECT_EQ(form.LogoStrip.size(), QSize(726, 66));
    EXPECT_EQ(form.Background, background);
    // The logo is more than its background, and the picture starts blank.
    EXPECT_NE(RightEdge(logo), -1);
    EXPECT_TRUE(IsBlank(form.LogoImg->Picture()));
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 50);
}

TEST_F(AboutTest, AnimationFramesAtChosenTicks) {
    TAboutForm form;
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.AnimState, 0);
    const QImage& picture = form.LogoImg->Picture();

    TickTo(form, 7); // state 0, then six waiting ticks
    EXPECT_EQ(form.AnimState, 2);
    EXPECT_TRUE(IsBlank(picture));

    // First pass, 80 pixels per tick from offset -26.
    TickTo(form, 8);
    EXPECT_TRUE(ShowsLogoShiftedBy(picture, 150 - (-26)));
    TickTo(form, 11);
    EXPECT_TRUE(ShowsLogoShiftedBy(picture, 150 - 214));
    TickTo(form, 14);
    EXPECT_TRUE(IsBlank(picture)) << "offset 454 is past the logo";
    EXPECT_EQ(form.AnimState, 3);

    // The pause leaves the picture as it is.
    TickTo(form, 25);
    EXPECT_EQ(form.AnimState, 4);
    EXPECT_TRUE(IsBlank(picture));

    // Second pass, 64 pixels per tick from offset -42, stopping in place.
    TickTo(form, 26);
    EXPECT_TRUE(ShowsLogoShiftedBy(picture, 150 - (-42)));
    TickTo(form, 28);
    EXPECT_TRUE(ShowsLogoShiftedBy(picture, 150 - 86));
    TickTo(form, 29);
    EXPECT_EQ(picture, logo);
    EXPECT_EQ(form.AnimState, 5);

    // The spring: squeezed while the table is positive, stretched (and cut
    // at the right) while it is negative.
    const int edge = RightEdge(logo);
    TickTo(form, 30); // +150
    EXPECT_LT(RightEdge(picture), edge * 226 / 376 + 2);
    EXPECT_GT(RightEdge(picture), edge * 226 / 376 - 2);
    TickTo(form, 32); // +244, the narrowest
    EXPECT_LT(RightEdge(picture), edge * 226 / 470 + 2);
    TickTo(form, 39); // -20, the widest
    EXPECT_GT(RightEdge(picture), edge);
    EXPECT_NE(picture, logo);
    TickTo(form, 45); // 0: in place, unscaled
    EXPECT_EQ(picture, logo);
    EXPECT_EQ(form.AnimState, 6);
    EXPECT_TRUE(form.Timer1->isActive());

    TickTo(form, 46);
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(picture, logo) << "the logo stands still after the animation";
    form.Timer1Timer();
    EXPECT_EQ(picture, logo);
}

TEST_F(AboutTest, ClosingMidAnimationStopsAndBlanksThenReopeningStartsOver) {
    TAboutForm form;
    form.show();
    TickTo(form, 27);
    ASSERT_FALSE(IsBlank(form.LogoImg->Picture()));
    form.AbOkBtn->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_TRUE(IsBlank(form.LogoImg->Picture()));

    form.show();
    EXPECT_EQ(form.AnimState, 0);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_TRUE(IsBlank(form.LogoImg->Picture()));
    ticks = 0;
    TickTo(form, 8);
    EXPECT_TRUE(ShowsLogoShiftedBy(form.LogoImg->Picture(), 176)) << "the first pass again";
    TickTo(form, 46);
    EXPECT_EQ(form.LogoImg->Picture(), logo);
    EXPECT_FALSE(form.Timer1->isActive());

    // The close box does the same.
    form.close();
    EXPECT_TRUE(IsBlank(form.LogoImg->Picture()));
}

TEST_F(AboutTest, RunsByItsOwnTimer) {
    TAboutForm form;
    form.show();
    ASSERT_TRUE(guitest::WaitFor([&] { return !form.Timer1->isActive(); }, 20000));
    EXPECT_EQ(form.AnimState, 6);
    EXPECT_EQ(form.LogoImg->Picture(), logo);
}

TEST_F(AboutTest, BackgroundLetsTheWindowShowThrough) {
    TAboutForm form;
    form.show();
    TickTo(form, 46);
    const QImage shown = form.grab(form.LogoImg->geometry()).toImage();
    const QRgb window = form.palette().color(QPalette::Window).rgb();
    // The top-left corner of the logo is background: the window's colour.
    EXPECT_EQ(QColor(shown.pixel(1, 1)).rgb(), window);
    // The emblem itself is drawn.
    int drawn = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (QColor(shown.pixel(x, y)).rgb() != window) ++drawn;
    EXPECT_GT(drawn, 1000);
}

} // namespace
