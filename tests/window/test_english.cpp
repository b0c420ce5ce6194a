// The windows under each language: every text English under an English
// locale, and the toolkit's own texts Chinese under the Chinese one.
#include "About.h"
#include "Language.h"
#include "Mainform.h"
#include "Playform.h"
#include "Setform.h"
#include "TestUtil.h"
#include "UiDialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace {

bool HasCjk(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

// Every text a user can see in a window and its children, with where it is.
QStringList TextsOf(QWidget* window) {
    QStringList texts;
    auto add = [&](const QObject* o, const QString& what, const QString& text) {
        if (!text.isEmpty()) texts << o->metaObject()->className() + QStringLiteral(" ") + what + ": " + text;
    };
    add(window, "title", window->windowTitle());
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets << window;
    for (QWidget* w : widgets) {
        add(w, "tooltip", w->toolTip());
        if (auto* l = qobject_cast<QLabel*>(w)) add(w, "label", l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w)) add(w, "button", b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) add(w, "group", g->title());
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i) add(w, "tab", t->tabText(i));
    }
    return texts;
}

class Languages : public ::testing::Test {
protected:
    void TearDown() override {
        SetLanguage(Language::Chinese);
        InstallTranslations();
    }
    testutil::TempDir dir;
};

TEST_F(Languages, EveryTextOfTheWindowsIsEnglishUnderAnEnglishLocale) {
    SetLanguage(Language::English);
    ASSERT_TRUE(InstallTranslations());
    TForm1 form;
    TSetForm1 settings(QStringLiteral("sonvelt"), QString::fromStdString(dir.path().string()));
    TPlayForm1 player;
    player.OriginalFile = player.VoiceFile = QStringLiteral("x"); // the A/B buttons carry texts too
    TAboutForm about;
    settings.FormShow();
    QStringList cjk;
    for (QWidget* w : std::initializer_list<QWidget*>{&form, &settings, &player, &about})
        for (const QString& t : TextsOf(w))
            if (HasCjk(t)) cjk << t;
    EXPECT_TRUE(cjk.isEmpty()) << cjk.join("\n").toStdString();
    EXPECT_EQ(form.StartBtn->text(), "Start");
    EXPECT_EQ(settings.MergeRadioGroup->Item(2)->text(), "Auto");
    // Messages: the window's own and those of the checks and the engine.
    EXPECT_EQ(Tr(MainText::kNotAudio), "Please drop an audio file: WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF.");
    EXPECT_EQ(Tr(QStringLiteral("\"a.wav\"\n无法创建文件\u3000\u3000")), "\"a.wav\"\nCannot create this file.");
    EXPECT_EQ(Tr(QStringLiteral("確認")), "Confirm");
}

TEST_F(Languages, ChineseKeepsTheTextsAndTranslatesTheToolkit) {
    SetLanguage(Language::Chinese);
    ASSERT_TRUE(InstallTranslations());
    TForm1 form;
    EXPECT_EQ(form.Label1->text(), "输入WAVE文件（原唱）");
    EXPECT_EQ(Tr(MainText::kNotAudio), MainText::kNotAudio);
    EXPECT_EQ(Tr(QStringLiteral("\"a.wav\"\n无法创建文件\u3000")), "\"a.wav\"\n无法创建文件\u3000");
    // The file dialogs and standard buttons of the toolkit speak Chinese too.
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("查找范围："));

    // Switching back to English drops the toolkit's Chinese.
    SetLanguage(Language::English);
    ASSERT_TRUE(InstallTranslations());
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Look in:");
}

} // namespace
