#include "Language.h"
#include "AudioFixtures.h"
#include "GuiTest.h"
#include "Mainform.h"
#include "MediaPlayer.h"
#include "PictureForm.h"
#include "Playform.h"
#include "Options.h"
#include "TestUtil.h"
#include "UiDialogs.h"
#include "EngineFixture.h"
#include "IniFile.h"
#include "Setform.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QWindow>
#include <QPushButton>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QToolButton>

#include <ctime>
#include <deque>

using namespace testutil;

namespace {

struct ScriptedDialogs : UiDialogs {
    QStringList warnings, questions, errors;
    std::deque<bool> answers; // for the confirmations, in order; No when empty
    std::function<void()> onConfirm;
    void Warning(QWidget*, const QString& t) override { warnings << t; }
    bool Confirm(QWidget*, const QString& t) override {
        questions << t;
        if (onConfirm) onConfirm();
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void Error(QWidget*, const QString& t) override { errors << t; }
};

class Window : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedDialogs dialogs;
    CommittedOptions options;
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        SetLanguage(Language::Chinese);
        UiDialogs::SetCurrent(&dialogs);
        ProcessingOptions e;
        e.MergeMode = 1;
        e.IntroMode = 3;
        e.AdptMode = 1;
        e.KrkPhase = 1;
        e.LevelAdpt = 3;
        CommitOptions(e, options);
        form = std::make_unique<TForm1>();
        form->SetOptions(&options);
        VocalMain = TVocalMain{};
        VocalMain.Attach(form.get(), &options, &form->WaveOriginal, &form->WaveKaraoke, &form->WaveOutput);
    }
    void TearDown() override {
        form.reset();
        UiDialogs::SetCurrent(nullptr);
    }
    QString P(const std::string& name) { return QString::fromStdString(dir / name); }
    void MakePair(size_t frames) {
        const auto accomp = Accompaniment(frames, 2, 21);
        WriteFile(dir / "01 Song.wav", Wave16(2, 44100, Mix(accomp, Voice(frames, 2, 44100))));
        WriteFile(dir / "02 Song (off vocal).wav", Wave16(2, 44100, accomp));
    }
    void Type(QLineEdit* e, const QString& t) { e->setText(t); }
};

} // namespace

TEST_F(Window, ControlsSitWhereTheyBelongWithTheirCaptions) {
    EXPECT_EQ(form->windowTitle(), "Sonvelt");
    EXPECT_EQ(form->size(), QSize(569, 294));
    struct Case {
        QWidget* w;
        QRect rect;
    } cases[] = {
        {form->Edit1, {24, 48, 337, 20}},   {form->BitBtn1, {376, 46, 25, 25}}, {form->PlayBtn1, {416, 46, 25, 25}},
        {form->Edit2, {24, 120, 337, 20}},  {form->Edit3, {24, 208, 337, 20}},  {form->BitBtn3, {376, 206, 25, 25}},
        {form->StartBtn, {464, 16, 89, 57}}, {form->SetBitBtn, {464, 152, 89, 25}},
        {form->HelpBtn, {464, 192, 89, 25}}, {form->AboutBtn, {464, 232, 25, 25}},
        {form->CloseBtn, {490, 232, 63, 25}}, {form->DbgPanel, {9, 256, 8, 8}},
        {form->ProgBar1, {8, 270, 447, 17}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.w->geometry(), c.rect) << c.w->metaObject()->className();
    EXPECT_EQ(form->Label1->text(), "输入WAVE文件（原唱）");
    EXPECT_EQ(form->Label1->pos(), QPoint(16, 24));
    EXPECT_EQ(form->Label3->text(), "输出WAVE文件（路径）");
    EXPECT_EQ(form->StartBtn->text(), "开始生成");
    EXPECT_EQ(form->SetBitBtn->text(), "设定   ");
    EXPECT_EQ(form->HelpBtn->text(), "帮助(&H)");
    EXPECT_EQ(form->CloseBtn->text(), "退出");
    EXPECT_EQ(form->AboutBtn->toolTip(), "更新信息");

    // Tab order as a user walks it.
    QWidget* expected[] = {form->Edit1, form->BitBtn1, form->PlayBtn1, form->Edit2, form->BitBtn2, form->PlayBtn2,
                           form->Edit3, form->BitBtn3, form->PlayBtn3, form->StartBtn, form->SetBitBtn,
                           form->HelpBtn, form->AboutBtn, form->CloseBtn, form->ProgBar1, form->DbgPanel};
    auto nextTabStop = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    for (size_t i = 0; i + 1 < std::size(expected); ++i) EXPECT_EQ(nextTabStop(expected[i]), expected[i + 1]) << i;
    // Pictures with a disabled look of their own.
    const QIcon icon = form->PlayBtn1->icon();
    EXPECT_NE(icon.pixmap(16, QIcon::Normal).toImage(), icon.pixmap(16, QIcon::Disabled).toImage());
}

TEST_F(Window, ChoosingTheOriginalFindsTheKaraokeAndNamesTheOutput) {
    MakePair(20000);
    Type(form->Edit1, P("01 Song.wav"));
    form->Edit1KeyPress();
    EXPECT_TRUE(dialogs.warnings.isEmpty());
    EXPECT_EQ(form->WformLbl1->text(), "44.100kHz 16位\u3000\u3000 立体声\u3000");
    EXPECT_EQ(form->Edit2->text(), P("02 Song (off vocal).wav"));
    EXPECT_EQ(form->WformLbl2->text(), "44.100kHz 16位\u3000\u3000 立体声\u3000");
    EXPECT_EQ(form->Edit3->text(), P("01 Song_vo.wav"));

    // Enter in the output box keeps what was typed there and in the
    // karaoke box.
    form->show();
    form->Edit2->clear();
    form->Edit3->clear();
    QTest::keyClicks(form->Edit2, P("mine.wav"));
    QTest::keyClicks(form->Edit3, P("elsewhere.wav"));
    QTest::keyClick(form->Edit3, Qt::Key_Return);
    EXPECT_EQ(form->Edit2->text(), P("mine.wav"));
    EXPECT_EQ(form->Edit3->text(), P("elsewhere.wav"));

    // With naming off the boxes are left alone.
    options.KnameFlg = 0;
    options.VnameFlg = 0;
    Type(form->Edit2, "x");
    Type(form->Edit3, "y");
    form->Edit1KeyPress();
    EXPECT_EQ(form->Edit2->text(), "x");
    EXPECT_EQ(form->Edit3->text(), "y");
}

TEST_F(Window, ARejectedFileWarnsAndClearsItsLabel) {
    WriteFile(dir / "bad.wav", Bytes(20, 1));
    form->WformLbl2->setText("old");
    Type(form->Edit2, P("bad.wav"));
    form->Edit2KeyPress();
    ASSERT_EQ(dialogs.warnings.size(), 1);
    EXPECT_TRUE(dialogs.warnings[0].startsWith("\"bad.wav\"\n这是不能被处理的文件格式"));
    EXPECT_EQ(form->WformLbl2->text(), "");
    EXPECT_EQ(form->Edit2->text(), P("bad.wav"));
}

TEST_F(Window, DropsLandByPosition) {
    MakePair(20000);
    struct Case {
        QPoint at;
        QLineEdit* changed; // nullptr: nothing changes
    } cases[] = {
        {{8, 8}, form->Edit1},      {{456, 89}, form->Edit1}, {{100, 90}, form->Edit2}, {{100, 168}, form->Edit2},
        {{100, 169}, form->Edit3},  {{456, 264}, form->Edit3}, {{100, 265}, nullptr},   {{457, 50}, nullptr},
        {{7, 50}, nullptr},         {{500, 100}, nullptr},
    };
    const QString file = P("02 Song (off vocal).wav");
    for (const Case& c : cases) {
        for (QLineEdit* e : {form->Edit1, form->Edit2, form->Edit3}) e->setText("-");
        options.KnameFlg = options.VnameFlg = 0;
        form->DropFile(file, c.at);
        for (QLineEdit* e : {form->Edit1, form->Edit2, form->Edit3})
            EXPECT_EQ(e->text(), e == c.changed ? file : "-") << c.at.x() << "," << c.at.y();
    }
    EXPECT_TRUE(dialogs.warnings.isEmpty());
    form->DropFile(P("notes.txt"), {100, 50});
    EXPECT_EQ(dialogs.warnings, QStringList{"请拖放音频文件：WAVE、FLAC、MP3、AAC/M4A、Ogg Vorbis、Opus 或 AIFF"});
}

TEST_F(Window, DroppedAudioOfOtherFormatsIsCheckedAndLabelled) {
    ASSERT_EQ(EncodeFixture(dir / "Song.flac", "flac", "flac", 48000, 2, TestSignal(48000, 2, 4800)), "");
    ASSERT_EQ(EncodeFixture(dir / "Song.MP3", "mp3", "libmp3lame", 44100, 1, TestSignal(44100, 1, 4410), 128000),
              "");
    options.KnameFlg = options.VnameFlg = 0;
    form->DropFile(P("Song.flac"), {100, 50});
    EXPECT_EQ(form->Edit1->text(), P("Song.flac"));
    EXPECT_EQ(form->WformLbl1->text(), "48.000kHz 16位\u3000\u3000 立体声\u3000FLAC");
    form->DropFile(P("Song.MP3"), {100, 120});
    EXPECT_EQ(form->Edit2->text(), P("Song.MP3"));
    EXPECT_EQ(form->WformLbl2->text(), "44.100kHz 128kbps\u3000\u3000 单声道\u3000MP3");
    EXPECT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join("|").toStdString();
}

TEST_F(Window, StartChecksBeforeAnythingRuns) {
    MakePair(20000);
    WriteFile(dir / "six.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 16)), Chunk("data", Bytes(12, 0))}));
    struct Case {
        QString orig, kar, out, message;
    } cases[] = {
        {"", P("02 Song (off vocal).wav"), P("v.wav"), "一定要指定输入和输出文件名"},
        {P("01 Song.wav"), P("02 Song (off vocal).wav"), P("02 Song (off vocal).wav"), "输入文件和输出文件名称重复"},
        {P("01 Song.wav"), P("six.wav"), P("v.wav"), "\"six.wav\"\n这是不能被处理的WAVE文件格式"},
    };
    for (const Case& c : cases) {
        dialogs.warnings.clear();
        Type(form->Edit1, c.orig);
        Type(form->Edit2, c.kar);
        Type(form->Edit3, c.out);
        form->StartBtnClick();
        ASSERT_EQ(dialogs.warnings.size(), 1);
        EXPECT_TRUE(dialogs.warnings[0].startsWith(c.message)) << dialogs.warnings[0].toStdString();
        EXPECT_FALSE(form->WaveOriginal.IsOpen() || form->WaveKaraoke.IsOpen() || form->WaveOutput.IsOpen());
        EXPECT_EQ(form->StartBtn->text(), "开始生成");
    }
    // An .mp3 name becomes .wav in the box; an existing file needs a Yes.
    WriteFile(dir / "take1.wav", Bytes{'k', 'e', 'e', 'p'});
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("take1.mp3"));
    dialogs.warnings.clear();
    form->StartBtnClick();
    EXPECT_EQ(form->Edit3->text(), P("take1.wav"));
    EXPECT_EQ(dialogs.questions,
              QStringList{"\"take1.wav\"\n有一个具有相同名称的文件。是否覆盖保存？\u3000\u3000\u3000"});
    EXPECT_TRUE(dialogs.warnings.isEmpty());
    EXPECT_EQ(ReadFile(dir / "take1.wav"), (Bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(Window, ARunLocksTheWindowAndLeavesItReady) {
    MakePair(3 * 44100);
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    bool lockedDuringRun = false;
    QString captionDuringRun;
    QTimer::singleShot(0, [&] {
        lockedDuringRun = !form->Edit1->isEnabled() && !form->SetBitBtn->isEnabled() && !form->HelpBtn->isEnabled() &&
                          form->StartBtn->isEnabled() && form->CloseBtn->isEnabled();
        captionDuringRun = form->StartBtn->text();
    });
    form->StartBtnClick();
    EXPECT_TRUE(lockedDuringRun);
    EXPECT_EQ(captionDuringRun, "终止处理");
    EXPECT_EQ(form->StartBtn->text(), "开始创建");
    for (QWidget* w : {(QWidget*)form->Edit1, (QWidget*)form->Edit2, (QWidget*)form->Edit3,
                       (QWidget*)form->SetBitBtn, (QWidget*)form->HelpBtn, (QWidget*)form->AboutBtn,
                       (QWidget*)form->BitBtn1, (QWidget*)form->PlayBtn3})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(form->WaveOriginal.IsOpen() || form->WaveKaraoke.IsOpen() || form->WaveOutput.IsOpen());
    EXPECT_EQ(form->windowTitle(), "Sonvelt");
    EXPECT_EQ(form->ProgBar1->value(), 0);
    EXPECT_EQ(form->InfoLabel->text(), "");
    EXPECT_TRUE(dialogs.warnings.isEmpty());
    const auto out = ReadSamples(dir / "voice.wav");
    EXPECT_GT(out.size(), size_t(2 * 44100 * 2));
}

TEST_F(Window, StopAsksAndYesEndsTheRunEarly) {
    MakePair(20 * 44100);
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    dialogs.answers = {false, true};
    int clicks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (form->Running && clicks < 2) {
            ++clicks;
            form->StartBtnClick(); // the nested click asks to stop
        }
    });
    timer.start(0);
    form->StartBtnClick();
    timer.stop();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialogs.questions, (QStringList{"确定终止处理过程\u3000\u3000", "确定终止处理过程\u3000\u3000"}));
    EXPECT_EQ(form->StartBtn->text(), "开始创建");
    TWaveData out;
    ASSERT_EQ(out.OpenRead(dir / "voice.wav"), 0);
    EXPECT_LT(out.DataBytes, uint32_t(19 * 44100 * 4));
    EXPECT_TRUE(dialogs.warnings.isEmpty());
}

TEST_F(Window, ClosingDuringARunAsksThenClosesTheFiles) {
    MakePair(20 * 44100);
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    form->show();
    dialogs.answers = {false, true};
    bool firstRefused = false;
    int attempts = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!form->Running || attempts >= 2) return;
        ++attempts;
        const bool closed = form->close();
        if (attempts == 1) firstRefused = !closed && form->Running;
    });
    timer.start(0);
    form->StartBtnClick();
    timer.stop();
    EXPECT_TRUE(firstRefused);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(dialogs.questions.size(), 2);
    EXPECT_EQ(dialogs.questions[0], "是否确定终止处理。\u3000");
    EXPECT_FALSE(form->isVisible());
    TWaveData out;
    ASSERT_EQ(out.OpenRead(dir / "voice.wav"), 0); // a valid file with what was written
    EXPECT_LT(out.DataBytes, uint32_t(19 * 44100 * 4));
    EXPECT_TRUE(dialogs.warnings.isEmpty());
}

TEST_F(Window, DebugSwitchAndItsLog) {
    MakePair(44100);
    form->DbgPanelDblClick();
    form->DbgPanelDblClick();
    EXPECT_EQ(dialogs.warnings, (QStringList{"一个调试模式\u3000 ON", "一个调试模式\u3000 OFF"}));
    form->DbgPanelDblClick();
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    form->StartBtnClick();
    const std::string log = ReadText(dir / "01 Song.txt");
    EXPECT_NE(log.find("二阶段\n"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2); // first and last timestamp
}

TEST_F(Window, HelpOpensTheDocumentOfTheWindowsLanguageAndWarnsWhenNoneIsThere) {
    form->helpFolder = QString::fromStdString(dir.path().string());
    form->HelpBtnClick();
    EXPECT_EQ(dialogs.warnings, QStringList{"帮助文件未找到\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"});

    WriteFile(dir / "SonveltHelp.pdf", Bytes{'%'});
    SetLanguage(Language::English);
    EXPECT_EQ(form->HelpDocument(), P("SonveltHelp.pdf")); // the other one rather than none
    WriteFile(dir / "SonveltHelp-en.pdf", Bytes{'%'});
    EXPECT_EQ(form->HelpDocument(), P("SonveltHelp-en.pdf"));
    SetLanguage(Language::Chinese);
    EXPECT_EQ(form->HelpDocument(), P("SonveltHelp.pdf"));
}

// The same paths as a user takes them: typing and Enter, and a real drop.
TEST_F(Window, TypingEnterAndDroppingThroughEvents) {
    MakePair(20000);
    form->show();
    QTest::keyClicks(form->Edit1, P("01 Song.wav"));
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    EXPECT_EQ(form->Edit2->text(), P("02 Song (off vocal).wav"));
    EXPECT_EQ(form->Edit1->text(), P("01 Song.wav")); // Enter adds no character

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(P("02 Song (off vocal).wav"))});
    QDropEvent drop(QPointF(200, 220), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDragEnterEvent enter(QPoint(200, 220), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QApplication::sendEvent(form.get(), &drop);
    EXPECT_EQ(form->Edit3->text(), P("02 Song (off vocal).wav"));
    EXPECT_TRUE(dialogs.warnings.isEmpty());
}

TEST_F(Window, FilesDroppedDuringARunOnlyChangeTheBoxes) {
    MakePair(4 * 44100);
    WriteFile(dir / "other.wav", Wave16(1, 8000, {1, 2, 3}));
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    bool dropped = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!form->Running || dropped) return;
        dropped = true;
        form->DropFile(P("other.wav"), {100, 50});
    });
    timer.start(0);
    form->StartBtnClick();
    timer.stop();
    ASSERT_TRUE(dropped);
    EXPECT_EQ(form->Edit1->text(), P("other.wav"));
    EXPECT_EQ(form->WformLbl1->text(), "8.000kHz 16位\u3000\u3000 单声道\u3000");
    // The run went on with the files opened at its start.
    TWaveData out;
    ASSERT_EQ(out.OpenRead(dir / "voice.wav"), 0);
    EXPECT_EQ(out.Format.nChannels, 2);
    EXPECT_GT(out.DataBytes, uint32_t(3 * 44100 * 4));
}

// A drop on an edit box goes through the toolkit's routing, from the window
// to the widget under the cursor: the box takes no text, the window handles
// the file by position exactly as a drop elsewhere in the row.
TEST_F(Window, DropsOnTheEditBoxesAreTheWindowsDrops) {
    MakePair(20000);
    options.KnameFlg = options.VnameFlg = 0;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QWindow* window = form->windowHandle();
    const QString file = P("02 Song (off vocal).wav");
    auto dropAt = [&](QPoint at) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file)});
        mime.setText(QUrl::fromLocalFile(file).toString());
        // As the toolkit delivers a drag: the enter, a move that carries the
        // enter's answer, then the drop.
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        move.setDropAction(enter.dropAction());
        move.setAccepted(enter.isAccepted());
        QApplication::sendEvent(window, &move);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        return enter.isAccepted() && move.isAccepted() && drop.isAccepted();
    };
    for (QLineEdit* box : {form->Edit1, form->Edit2, form->Edit3}) {
        SCOPED_TRACE(box->y());
        for (QLineEdit* e : {form->Edit1, form->Edit2, form->Edit3}) e->setText("/old/path.wav");
        form->WformLbl1->clear();
        form->WformLbl2->clear();
        const QPoint inBox = box->geometry().center();
        ASSERT_EQ(form->childAt(inBox), box);
        EXPECT_TRUE(dropAt(inBox));
        const QStringList afterBoxDrop = {form->Edit1->text(), form->Edit2->text(), form->Edit3->text(),
                                          form->WformLbl1->text(), form->WformLbl2->text()};
        EXPECT_EQ(box->text(), file);

        // The same file dropped on the blank part of the row.
        for (QLineEdit* e : {form->Edit1, form->Edit2, form->Edit3}) e->setText("/old/path.wav");
        form->WformLbl1->clear();
        form->WformLbl2->clear();
        form->DropFile(file, {440, box->y() + box->height() + 4});
        EXPECT_EQ(afterBoxDrop, (QStringList{form->Edit1->text(), form->Edit2->text(), form->Edit3->text(),
                                             form->WformLbl1->text(), form->WformLbl2->text()}));
    }
    EXPECT_TRUE(dialogs.warnings.isEmpty());
}

TEST_F(Window, CentredAtStartLongPathsWholeLabelsClearedByEditing) {
    form->show();
    const QRect screen = form->screen()->availableGeometry();
    EXPECT_LE((form->frameGeometry().center() - screen.center()).manhattanLength(), 1);

    // A path of any length is kept whole, typed or dropped.
    const std::string folder = "folder-" + std::string(140, 'x');
    std::filesystem::create_directories(dir.path() / folder / folder);
    const std::string deep = folder + "/" + folder;
    WriteFile(dir / (deep + "/01 Song.wav"), Wave16(2, 44100, std::vector<int16_t>(2000, 0)));
    WriteFile(dir / (deep + "/02 Song (off vocal).wav"), Wave16(2, 44100, std::vector<int16_t>(2000, 0)));
    const QString original = P(deep + "/01 Song.wav");
    ASSERT_GT(original.size(), 300);
    form->DropFile(original, {100, 50});
    EXPECT_EQ(form->Edit1->text(), original);
    EXPECT_EQ(form->Edit2->text(), P(deep + "/02 Song (off vocal).wav"));
    EXPECT_FALSE(form->WformLbl2->text().isEmpty());
    EXPECT_TRUE(dialogs.warnings.isEmpty());

    // Editing a path by hand clears the label beside it, and only that one.
    form->Edit2->setFocus();
    QTest::keyClick(form->Edit2, Qt::Key_Backspace);
    EXPECT_EQ(form->WformLbl2->text(), "");
    EXPECT_FALSE(form->WformLbl1->text().isEmpty());
    QTest::keyClick(form->Edit1, Qt::Key_A);
    EXPECT_EQ(form->WformLbl1->text(), "");
}

TEST_F(Window, ARunEndsWithALineOfWhatItFoundUntilTheNextAction) {
    ProcessingOptions automatic; // the analysis on
    automatic.MergeMode = 1;
    CommitOptions(automatic, options);
    MakePair(3 * 44100);
    const std::string karaoke = "02 Song (off vocal) from the anniversary edition, remastered.wav";
    std::filesystem::rename(dir / "02 Song (off vocal).wav", dir / karaoke);
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P(karaoke));
    Type(form->Edit3, P("voice.wav"));
    form->show();
    bool hiddenDuringRun = false;
    QTimer::singleShot(0, [&] { hiddenDuringRun = !form->ResultLabel->isVisible(); });
    form->StartBtnClick();
    EXPECT_TRUE(hiddenDuringRun);
    ASSERT_TRUE(form->ResultLabel->isVisible());
    const QString line = form->ResultLabel->toolTip();
    const RunReport& report = VocalMain.LastReport();
    EXPECT_TRUE(line.startsWith(QString::fromStdString("伴奏：" + karaoke + "  "))) << line.toStdString();
    EXPECT_TRUE(line.contains(QString::asprintf("偏移 %+.3f 秒", report.offsetSeconds))) << line.toStdString();
    EXPECT_TRUE(line.contains("波形合成")) << line.toStdString();
    EXPECT_TRUE(line.contains("用时")) << line.toStdString();
    // Too long for the window: the file name gives way, the numbers stay.
    const QString shown = form->ResultLabel->text();
    EXPECT_LE(form->ResultLabel->fontMetrics().horizontalAdvance(shown), form->ResultLabel->contentsRect().width());
    EXPECT_TRUE(shown.startsWith("伴奏：02")) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QString::fromStdString(karaoke))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(line.mid(line.indexOf("  偏移")))) << shown.toStdString();

    // Nothing else clears it; the next action does.
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->ResultLabel->isVisible());
    form->Edit3->setFocus();
    QTest::keyClick(form->Edit3, Qt::Key_Backspace);
    EXPECT_FALSE(form->ResultLabel->isVisible());
}

TEST_F(Window, AFileNamedAtStartIsTheOriginalWithItsKaraokeFound) {
    MakePair(20000);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    form->TakeOriginal("01 Song.wav"); // relative, as a shell passes it
    std::filesystem::current_path(before);
    EXPECT_EQ(form->Edit1->text(), P("01 Song.wav"));
    EXPECT_EQ(form->Edit2->text(), P("02 Song (off vocal).wav"));
    EXPECT_EQ(form->Edit3->text(), P("01 Song_vo.wav"));
    EXPECT_FALSE(form->WformLbl1->text().isEmpty());
}

TEST_F(Window, TheSearchTakesEveryFormatButNeverAnEarlierOutput) {
    const auto song = Wave16(2, 44100, std::vector<int16_t>(4000, 0));
    WriteFile(dir / "Song.wav", song);
    WriteFile(dir / "Song_vo.wav", song);
    ASSERT_EQ(EncodeFixture(dir / "tune (karaoke).flac", "flac", "flac", 44100, 2, TestSignal(44100, 2, 4410)), "");
    WriteFile(dir / "tune.wav", song);
    WriteFile(dir / "05 Another Song.wav", song);
    WriteFile(dir / "Another Song (Karaoke Version).wav", song);
    struct Case {
        const char *original, *karaoke, *output;
    } cases[] = {
        {"Song.wav", "", "Song_vo.wav"},
        {"tune.wav", "tune (karaoke).flac", "tune_vo.wav"},
        {"05 Another Song.wav", "Another Song (Karaoke Version).wav", "05 Another Song_vo.wav"}, // the title rule
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original);
        form->Edit2->clear();
        form->DropFile(P(c.original), {100, 50});
        EXPECT_EQ(form->Edit2->text(), *c.karaoke ? P(c.karaoke) : QString());
        EXPECT_EQ(form->Edit3->text(), P(c.output));
    }
    EXPECT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join("|").toStdString();
}

TEST_F(Window, ASearchThatFindsNothingClearsOnlyTheKaraokeItFilled) {
    MakePair(20000);
    WriteFile(dir / "Lonely.wav", Wave16(2, 44100, std::vector<int16_t>(4000, 0)));
    const QString karaoke = P("02 Song (off vocal).wav");
    form->DropFile(P("01 Song.wav"), {100, 50});
    ASSERT_EQ(form->Edit2->text(), karaoke);
    form->DropFile(P("Lonely.wav"), {100, 50});
    EXPECT_EQ(form->Edit2->text(), "");
    EXPECT_EQ(form->WformLbl2->text(), "");
    EXPECT_EQ(form->Edit3->text(), P("Lonely_vo.wav"));

    // Picked by hand, dropped or typed, it stays.
    form->DropFile(P("01 Song.wav"), {100, 50});
    form->DropFile(karaoke, {100, 120});
    form->DropFile(P("Lonely.wav"), {100, 50});
    EXPECT_EQ(form->Edit2->text(), karaoke);
    form->show();
    form->DropFile(P("01 Song.wav"), {100, 50});
    form->Edit2->clear();
    QTest::keyClicks(form->Edit2, karaoke);
    form->DropFile(P("Lonely.wav"), {100, 50});
    EXPECT_EQ(form->Edit2->text(), karaoke);
    EXPECT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join("|").toStdString();
}

TEST_F(Window, WarnsOfAKaraokeFoundThatSharesLittleOfTheNameBeforeStart) {
    const auto song = Wave16(2, 44100, std::vector<int16_t>(4000, 0));
    WriteFile(dir / "01 Song.wav", song);
    WriteFile(dir / "01 Song (Instrumental).wav", song);
    WriteFile(dir / "05 Another Song.wav", song);
    form->show();
    form->DropFile(P("05 Another Song.wav"), {100, 50});
    ASSERT_EQ(form->Edit2->text(), P("01 Song (Instrumental).wav"));
    EXPECT_TRUE(form->WarnLabel->isVisible());
    EXPECT_EQ(form->WarnLabel->toolTip(),
              "找到的伴奏“01 Song (Instrumental).wav”与原唱的文件名几乎没有相同之处：是同一首歌吗？");
    // A new output name leaves it; a karaoke chosen by hand takes it away.
    QTest::keyClicks(form->Edit3, "x");
    EXPECT_TRUE(form->WarnLabel->isVisible());
    form->DropFile(P("01 Song.wav"), {100, 120});
    EXPECT_FALSE(form->WarnLabel->isVisible());
    // A good match gives none.
    form->DropFile(P("01 Song.wav"), {100, 50});
    EXPECT_EQ(form->Edit2->text(), P("01 Song (Instrumental).wav"));
    EXPECT_FALSE(form->WarnLabel->isVisible());
    EXPECT_TRUE(dialogs.warnings.isEmpty());
}

TEST_F(Window, ARunOfAPairThatDoesNotBelongTogetherEndsWithItsWarnings) {
    SetLanguage(Language::English);
    const size_t frames = 4 * 44100;
    WriteFile(dir / "Song.wav", Wave16(2, 44100, Mix(Accompaniment(frames, 2, 21), Voice(frames, 2, 44100))));
    WriteFile(dir / "Other.wav", Wave16(2, 44100, Accompaniment(frames / 4, 2, 99)));
    Type(form->Edit1, P("Song.wav"));
    Type(form->Edit2, P("Other.wav"));
    Type(form->Edit3, P("voice.wav"));
    form->show();
    form->StartBtnClick();
    EXPECT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join("|").toStdString();
    ASSERT_TRUE(form->ResultLabel->isVisible());
    ASSERT_TRUE(form->WarnLabel->isVisible());
    const QStringList lines = form->WarnLabel->toolTip().split('\n');
    ASSERT_EQ(lines.size(), 2) << form->WarnLabel->toolTip().toStdString();
    EXPECT_TRUE(lines[0].startsWith("The karaoke is much shorter than the original (1.0 s against 4.0 s)"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("The removal took out almost nothing")) << lines[1].toStdString();
    // What the two lines below the output box hold, the rest in the tooltip.
    const QString shown = form->WarnLabel->text();
    EXPECT_TRUE(shown.startsWith("The karaoke is much shorter")) << shown.toStdString();
    EXPECT_LE(form->WarnLabel->fontMetrics()
                  .boundingRect(form->WarnLabel->contentsRect(), Qt::TextWordWrap, shown)
                  .height(),
              form->WarnLabel->height());
    // The next action takes them away with the result line.
    QTest::keyClicks(form->Edit3, "x");
    EXPECT_FALSE(form->WarnLabel->isVisible());
}

TEST_F(Window, TheOpenDialogsShowEveryReadableFormatFirst) {
    for (QToolButton* button : {form->BitBtn1, form->BitBtn2}) {
        QString shown;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                shown = dialog->selectedNameFilter();
                dialog->reject();
            }
        });
        button->click();
        EXPECT_TRUE(shown.startsWith("音频文件 (*.wav *.wave *.flac *.mp3 *.m4a")) << shown.toStdString();
    }
    EXPECT_EQ(form->Edit1->text(), "");
}

TEST_F(Window, AMonoRunLeavesTheSavedChannelHandlingAndCentreFocusAsSet) {
    // The user chose mid handling and the centre focus, and saved them.
    const std::string ini = dir / "SonveltRip/sonvelt.ini";
    std::filesystem::create_directories(dir.path() / "SonveltRip");
    WriteText(ini, "[V30_Option]\nProcMode=2\nCntrFlg=1\nMergeMode=1\nIntroMode=3\nAdptMode=1\n"
                   "KrkPhase=1\nLevelAdpt=3\n");
    TSetForm1 settings(QStringLiteral("sonvelt"), QString::fromStdString(dir.path().string()));
    form->SetOptions(&settings.Model().Options);

    // A run on a one-channel pair, which needs neither.
    const auto accomp = Accompaniment(30000, 1, 23);
    WriteFile(dir / "mono.wav", Wave16(1, 44100, Mix(accomp, Voice(30000, 1, 44100))));
    WriteFile(dir / "mono karaoke.wav", Wave16(1, 44100, accomp));
    Type(form->Edit1, P("mono.wav"));
    Type(form->Edit2, P("mono karaoke.wav"));
    Type(form->Edit3, P("voice.wav"));
    form->StartBtnClick();
    ASSERT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join(" ").toStdString();
    EXPECT_EQ(ReadSamples(dir / "voice.wav").size(), size_t(30000));

    // The settings dialog shows and saves them as they were.
    settings.show();
    EXPECT_EQ(settings.DataRadioGroup->ItemIndex(), 2);
    EXPECT_TRUE(settings.CfocusCheckBox->isChecked());
    settings.OkBitBtn->click();
    IniFile saved;
    ASSERT_TRUE(saved.Load(ini));
    EXPECT_EQ(saved.Get(kIniSection, "ProcMode").value_or("<missing>"), "2");
    EXPECT_EQ(saved.Get(kIniSection, "CntrFlg").value_or("<missing>"), "1");
}

namespace {

// The GUI thread's own processor time: what it spent between two timer
// ticks, whatever else the machine was doing.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// A compressed pair as people hold it: an MP3 original and an AAC karaoke.
void MakeCompressedPair(const TempDir& dir, size_t frames) {
    const auto accomp = Accompaniment(frames, 2, 31);
    ASSERT_EQ(EncodeFixture(dir / "song.mp3", "mp3", "libmp3lame", 44100, 2, Mix(accomp, Voice(frames, 2, 44100)),
                            192000), "");
    ASSERT_EQ(EncodeFixture(dir / "song karaoke.m4a", "ipod", "aac", 44100, 2, accomp, 192000), "");
}

} // namespace

// Decoding runs beside the window's event loop, and every step of the run
// hands the loop its turn: a 10 ms timer keeps ticking with at most 100 ms
// of the GUI thread's time between ticks, and the status says what happens.
TEST_F(Window, TheWindowKeepsHandlingEventsWhileACompressedPairIsDecodedAndProcessed) {
    CommitOptions(ProcessingOptions{}, options); // the automatic analysis with every pass
    MakeCompressedPair(dir, 40 * 44100);
    Type(form->Edit1, P("song.mp3"));
    Type(form->Edit2, P("song karaoke.m4a"));
    Type(form->Edit3, P("voice.wav"));
    std::vector<double> ticks;
    QStringList statuses, atTick; // the status at each tick, to tell where a gap ended
    auto tick = [&](const QString& status) {
        ticks.push_back(ThreadSeconds());
        atTick << status;
        if (statuses.isEmpty() || statuses.last() != status) statuses << status;
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { tick(form->InfoLabel->text()); });
    timer.start(10);
    tick("(Start)");
    form->StartBtnClick();
    tick("(after the run)");
    timer.stop();
    ASSERT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join(" ").toStdString();
    EXPECT_EQ(ReadSamples(dir / "voice.wav").size(), size_t(2 * 40 * 44100));
    size_t longest = 1;
    for (size_t i = 1; i < ticks.size(); ++i)
        if (ticks[i] - ticks[i - 1] > ticks[longest] - ticks[longest - 1]) longest = i;
    // 100 ms of a plain build's time; the sanitizers' instrumentation makes
    // the same work take two to three times as long (a step that never
    // hands the loop its turn takes far longer: the onset search took 0.85 s).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr double kLongestGap = 0.3;
#else
    constexpr double kLongestGap = 0.1;
#endif
    EXPECT_LT(ticks[longest] - ticks[longest - 1], kLongestGap)
        << "from '" << atTick[int(longest - 1)].toStdString() << "' to '" << atTick[int(longest)].toStdString()
        << "', " << ticks.size() << " ticks";
    EXPECT_GT(ticks.size(), 10u);
    EXPECT_TRUE(statuses.contains("解码中…")) << statuses.join(" | ").toStdString();
    EXPECT_EQ(form->InfoLabel->text(), "");
}

// Stop while the inputs are decoded: asked as during a run, and Yes ends the
// preparation without a message, an output or a run; the window is ready again.
TEST_F(Window, StopDuringDecodingEndsThePreparation) {
    MakeCompressedPair(dir, 60 * 44100);
    Type(form->Edit1, P("song.mp3"));
    Type(form->Edit2, P("song karaoke.m4a"));
    Type(form->Edit3, P("voice.wav"));
    dialogs.answers = {true};
    QString captionDuringDecoding;
    int progressDuringDecoding = -1;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (form->Running && dialogs.questions.isEmpty() && form->InfoLabel->text() == "解码中…") {
            captionDuringDecoding = form->StartBtn->text();
            progressDuringDecoding = form->ProgBar1->value();
            form->StartBtnClick(); // asks, and Yes stops
        }
    });
    timer.start(0);
    form->StartBtnClick();
    timer.stop();
    EXPECT_EQ(dialogs.questions, QStringList{"确定终止处理过程\u3000\u3000"});
    EXPECT_EQ(captionDuringDecoding, "终止处理");
    EXPECT_GE(progressDuringDecoding, 0);
    EXPECT_TRUE(dialogs.warnings.isEmpty()) << dialogs.warnings.join(" ").toStdString();
    EXPECT_FALSE(std::filesystem::exists(dir / "voice.wav"));
    EXPECT_FALSE(form->Running);
    EXPECT_EQ(form->StartBtn->text(), "开始生成");
    EXPECT_TRUE(form->Edit1->isEnabled() && form->SetBitBtn->isEnabled());
    EXPECT_EQ(form->InfoLabel->text(), "");
    EXPECT_EQ(form->ProgBar1->value(), 0);
    EXPECT_FALSE(form->WaveOriginal.IsOpen() || form->WaveKaraoke.IsOpen() || form->WaveOutput.IsOpen());
}

TEST_F(Window, ThePictureOfARunOpensBesideItsLineAndAClickPlaysTheVoiceFromThere) {
    guitest::EnsureSoundServer();
    MakePair(4 * 44100);
    Type(form->Edit1, P("01 Song.wav"));
    Type(form->Edit2, P("02 Song (off vocal).wav"));
    Type(form->Edit3, P("voice.wav"));
    form->show();
    EXPECT_FALSE(form->PictureBtn->isVisible());
    form->StartBtnClick();
    ASSERT_TRUE(form->PictureBtn->isVisible());
    EXPECT_TRUE(form->ResultLabel->isVisible());
    EXPECT_LT(form->ResultLabel->geometry().right(), form->PictureBtn->x()) << "beside the line, not over it";

    // The player as the program opens it, from the moment clicked.
    QString played, original;
    qint64 startMs = -1, position = -1, slider = -1;
    form->playFile = [&](const QString& path, const QString& a, const QString& b, qint64 start) {
        played = path;
        original = a;
        startMs = start;
        PlayEditFile(form.get(), path, a, b, start);
    };
    QSize small, large;
    bool clicked = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* player = qobject_cast<TPlayForm1*>(modal)) {
            position = player->MediaPlayer1->Position();
            slider = player->TrackBar1->value();
            player->OkBtn1->click();
        } else if (auto* picture = qobject_cast<TPictureForm*>(modal)) {
            if (clicked) {
                picture->accept();
                return;
            }
            clicked = true;
            // It follows the window's size.
            picture->resize(1300, 760);
            QCoreApplication::processEvents();
            picture->View->repaint();
            large = picture->View->Image().size();
            picture->resize(700, 420);
            QCoreApplication::processEvents();
            picture->View->repaint();
            small = picture->View->Image().size();
            // Two seconds into the song, in the removal lane.
            const int y = picture->View->height() * 4 / 5;
            int x = 0;
            while (x < picture->View->width() && picture->View->SecondsAt(QPoint(x, y)).value_or(-1) < 2.0) ++x;
            // Clicked once this tick is over: the player it opens waits in
            // a loop of its own, in which this timer goes on.
            QTimer::singleShot(0, picture->View, [view = picture->View, x, y] {
                QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, y));
            });
        }
    });
    watcher.start(20);
    form->PictureBtn->click();
    watcher.stop();
    EXPECT_TRUE(clicked);
    EXPECT_GT(large.width(), 1100);
    EXPECT_EQ(small, kMinimumPictureSize) << "drawn at its smallest size and scaled down";
    EXPECT_EQ(played, P("voice.wav"));
    EXPECT_EQ(original, P("01 Song.wav"));
    EXPECT_NEAR(startMs, 2000, 30);
    EXPECT_GE(position, 1950);
    EXPECT_LT(position, 3900);
    EXPECT_GE(slider, 1950);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // The picture goes with the line.
    form->Edit3->setFocus();
    QTest::keyClick(form->Edit3, Qt::Key_Backspace);
    EXPECT_FALSE(form->PictureBtn->isVisible());
}
