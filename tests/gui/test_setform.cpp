// The settings dialog: showing the committed options, live labels, Reset, OK
// with its commit and save, the INI write failure, and discarding.
#include "GuiTest.h"
#include "IniFile.h"
#include "Setform.h"
#include "TestUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class SetFormTest : public ::testing::Test {
protected:
    std::string IniPath() const { return dir / "SonveltRip/sonvelt.ini"; }

    // Writes the INI file with these lines in its section, before the dialog
    // is created.
    void WriteIni(const std::string& lines) {
        std::filesystem::create_directories(dir.path() / "SonveltRip");
        testutil::WriteText(IniPath(), "[V30_Option]\n" + lines);
    }

    std::unique_ptr<TSetForm1> MakeForm() {
        return std::make_unique<TSetForm1>(QStringLiteral("sonvelt"), QString::fromStdString(dir.path().string()));
    }

    std::string IniValue(const std::string& key) const {
        IniFile ini;
        EXPECT_TRUE(ini.Load(IniPath()));
        return ini.Get(kIniSection, key).value_or("<missing>");
    }

    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    testutil::TempDir dir;
    guitest::RecordingDialogs dialogs;
};

TEST_F(SetFormTest, CreationLoadsTheIniFileAndCreatesNoFile) {
    WriteIni("BlkSize=0x64\nOvspFlg=5\nMergeMode=1\n");
    auto form = MakeForm();
    EXPECT_EQ(form->Model().IniPath, IniPath());
    EXPECT_EQ(form->Model().Options.BlkSize, 100);
    EXPECT_EQ(form->Model().Options.OvspFlg, 1);
    EXPECT_EQ(form->Model().Options.MergeMode, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->PageControl->currentIndex(), 0);

    testutil::TempDir fresh;
    TSetForm1 empty(QStringLiteral("sonvelt"), QString::fromStdString(fresh.path().string()));
    EXPECT_TRUE(std::filesystem::is_directory(fresh.path() / "SonveltRip"));
    EXPECT_FALSE(std::filesystem::exists(fresh.path() / "SonveltRip/sonvelt.ini"));
    EXPECT_EQ(static_cast<const ProcessingOptions&>(empty.Model().Options), ProcessingOptions{});
}

// Typed numbers: text that is not a number keeps the committed value, numbers
// below the minimum are raised by the commit, and the box shows the
// committed value the next time.
TEST_F(SetFormTest, TypedNumbersFallBackOrAreCorrected) {
    struct Case {
        const char* what;
        std::function<QLineEdit*(TSetForm1&)> box;
        QString typed;
        const char* key;
        int32_t CommittedOptions::*field;
        int32_t committed;
    };
    const Case cases[] = {
        {"block size abc", [](TSetForm1& f) { return f.BsizeComboBox->lineEdit(); }, "abc", "BlkSize",
         &CommittedOptions::BlkSize, 200},
        {"block size 20", [](TSetForm1& f) { return f.BsizeComboBox->lineEdit(); }, "20", "BlkSize",
         &CommittedOptions::BlkSize, 50},
        {"oversampling 0", [](TSetForm1& f) { return f.OvspComboBox->lineEdit(); }, "0", "OvspMx",
         &CommittedOptions::OvspMx, 1},
        {"oversampling empty", [](TSetForm1& f) { return f.OvspComboBox->lineEdit(); }, "", "OvspMx",
         &CommittedOptions::OvspMx, 16},
        {"range x7", [](TSetForm1& f) { return f.AdptEdit; }, "x7", "AdptNum", &CommittedOptions::AdptNum, 7},
        {"range 12", [](TSetForm1& f) { return f.AdptEdit; }, "12", "AdptNum", &CommittedOptions::AdptNum, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir.path() / "SonveltRip");
        WriteIni("BlkSize=200\nOvspMx=16\nAdptNum=7\n");
        auto form = MakeForm();
        form->show();
        Type(c.box(*form), c.typed);
        form->OkBitBtn->click();
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(form->Model().Options.*c.field, c.committed);
        EXPECT_EQ(IniValue(c.key), std::to_string(c.committed));
        form->show();
        EXPECT_EQ(c.box(*form)->text(), QString::number(c.committed));
        form->CanBitBtn->click();
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

// Numbers typed into the drop-down boxes with the keyboard, as a user does,
// are taken as typed: the lists offer no completion.
TEST_F(SetFormTest, NumbersTypedIntoTheListsAreTakenAsTyped) {
    struct Case {
        const char* what;
        std::function<QComboBox*(TSetForm1&)> box;
        const char* typed;
        int32_t CommittedOptions::*field;
        int32_t committed;
    } cases[] = {
        {"block size 20", [](TSetForm1& f) { return f.BsizeComboBox; }, "20", &CommittedOptions::BlkSize, 50},
        {"block size 80", [](TSetForm1& f) { return f.BsizeComboBox; }, "80", &CommittedOptions::BlkSize, 80},
        {"oversampling 12", [](TSetForm1& f) { return f.OvspComboBox; }, "12", &CommittedOptions::OvspMx, 12},
        {"oversampling 6", [](TSetForm1& f) { return f.OvspComboBox; }, "6", &CommittedOptions::OvspMx, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto form = MakeForm();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->PageControl->setCurrentIndex(1);
        QComboBox* box = c.box(*form);
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, c.typed);
        EXPECT_EQ(box->currentText(), c.typed);
        form->OkBitBtn->click();
        EXPECT_EQ((form->Model().Options.*c.field), c.committed);
    }
}

TEST_F(SetFormTest, AutomaticMergeAndPreciseAlignmentAreBoundLikeTheOthers) {
    WriteIni("MergeMode=0\nAlignFlg=0\n");
    auto form = MakeForm();
    form->show();
    EXPECT_EQ(form->MergeRadioGroup->Count(), 3);
    EXPECT_EQ(form->MergeRadioGroup->Item(2)->text(), "自动");
    EXPECT_EQ(form->MergeRadioGroup->ItemIndex(), 0);
    EXPECT_FALSE(form->AlignCheckBox->isChecked());
    EXPECT_EQ(form->AlignCheckBox->text(), "精确对齐");
    EXPECT_EQ(form->AlignCheckBox->parentWidget(), form->PageControl->widget(1));
    form->MergeRadioGroup->Item(2)->click();
    form->AlignCheckBox->click();
    form->OkBitBtn->click();
    EXPECT_EQ(form->Model().Options.MergeMode, 2);
    EXPECT_EQ(form->Model().Options.AlignFlg, 1);
    EXPECT_EQ(IniValue("MergeMode"), "2");
    EXPECT_EQ(IniValue("AlignFlg"), "1");

    form->show();
    EXPECT_EQ(form->MergeRadioGroup->ItemIndex(), 2);
    EXPECT_TRUE(form->AlignCheckBox->isChecked());
    form->AlignCheckBox->click();
    form->OkBitBtn->click();
    EXPECT_EQ(IniValue("AlignFlg"), "0");
}

TEST_F(SetFormTest, CleanPausesAreAChoiceBesidePreciseAlignment) {
    WriteIni("CleanMode=2\n");
    auto form = MakeForm();
    form->show();
    QComboBox* box = form->CleanComboBox;
    EXPECT_EQ(box->parentWidget(), form->PageControl->widget(1));
    EXPECT_EQ(form->CleanLabel->text(), "清除停顿");
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), "自动");
    EXPECT_EQ(box->currentIndex(), 2);
    box->setCurrentIndex(1);
    form->OkBitBtn->click();
    EXPECT_EQ(form->Model().Options.CleanMode, 1);
    EXPECT_EQ(IniValue("CleanMode"), "1");

    // A hand-edited value outside the list is committed as automatic.
    WriteIni("CleanMode=7\n");
    auto edited = MakeForm();
    edited->show();
    EXPECT_EQ(edited->CleanComboBox->currentIndex(), 0);
}

TEST_F(SetFormTest, TypingIsLimitedButLongStoredValuesAreKeptWhole) {
    auto form = MakeForm();
    form->show();
    Type(form->BsizeComboBox->lineEdit(), "12345");
    Type(form->OvspComboBox->lineEdit(), "2560");
    Type(form->VnameEdit, QString(40, QLatin1Char('w')));
    Type(form->AdptEdit, "1234");
    EXPECT_EQ(form->BsizeComboBox->currentText(), "123");
    EXPECT_EQ(form->OvspComboBox->currentText(), "256");
    EXPECT_EQ(form->VnameEdit->text(), QString(32, QLatin1Char('w')));
    EXPECT_EQ(form->AdptEdit->text(), "123");
    form->CanBitBtn->click();

    // Values stored longer than the boxes take are shown whole, so that OK
    // keeps what the user did not touch.
    const std::string longSuffix = "_" + std::string(39, 'v');
    WriteIni("BlkSize=1600\nVnameTxt=" + longSuffix + "\n");
    auto stored = MakeForm();
    stored->show();
    EXPECT_EQ(stored->BsizeComboBox->currentText(), "1600");
    EXPECT_EQ(stored->VnameEdit->text().toStdString(), longSuffix);
    stored->OkBitBtn->click();
    EXPECT_EQ(IniValue("BlkSize"), "1600");
    EXPECT_EQ(IniValue("VnameTxt"), longSuffix);
}

TEST_F(SetFormTest, SuffixIsCleanedOnOk) {
    auto form = MakeForm();
    form->show();
    form->PageControl->setCurrentIndex(2);
    Type(form->VnameEdit, "a:b*c");
    form->OkBitBtn->click();
    EXPECT_EQ(form->Model().Options.VnameTxt, "abc");
    EXPECT_EQ(IniValue("VnameTxt"), "abc");
    form->show();
    EXPECT_EQ(form->VnameEdit->text(), "abc");
    Type(form->VnameEdit, "<>");
    form->OkBitBtn->click();
    EXPECT_EQ(IniValue("VnameTxt"), "");
    EXPECT_EQ(IniValue("VnameFlg"), "0");
}

TEST_F(SetFormTest, UpDownStepsWithinItsRange) {
    WriteIni("AdptNum=5000\n");
    auto form = MakeForm();
    form->show();
    // A stored range above what the box offers shows, and stores, its end.
    EXPECT_EQ(form->AdptEdit->text(), "999");
    form->AdptUpDown->UpButton->click();
    EXPECT_EQ(form->AdptEdit->text(), "999");
    form->AdptUpDown->DownButton->click();
    EXPECT_EQ(form->AdptEdit->text(), "998");
    Type(form->AdptEdit, "41");
    form->AdptUpDown->UpButton->click();
    EXPECT_EQ(form->AdptEdit->text(), "42");
    Type(form->AdptEdit, "z");
    form->AdptUpDown->DownButton->click();
    EXPECT_EQ(form->AdptEdit->text(), "41");
    QTest::keyClick(form->AdptEdit, Qt::Key_Up);
    EXPECT_EQ(form->AdptEdit->text(), "42");
    Type(form->AdptEdit, "0");
    form->AdptUpDown->DownButton->click();
    EXPECT_EQ(form->AdptEdit->text(), "0");
    form->AdptUpDown->UpButton->click();
    form->OkBitBtn->click();
    EXPECT_EQ(form->Model().Options.AdptNum, 1);
}

TEST_F(SetFormTest, TrackBarsUpdateTheirLabelsAtOnce) {
    auto form = MakeForm();
    form->show();
    struct Case {
        QSlider* bar;
        QLabel* label;
        int position;
        const char* text;
        const char* german;
    };
    const Case cases[] = {
        {form->KvolTrackBar, form->KvolText, 9, "1.5", "1,5"},
        {form->KvolTrackBar, form->KvolText, 10, "1.8", "1,8"},
        {form->CfocusTrackBar, form->CfocusText, 0, "0.50", "0,50"},
        {form->KlvlTrackBar, form->KlvlText, 20, "1.30", "1,30"},
        {form->LPFTrackBar, form->LPFLabel, 20, "18.0kHz", "18,0kHz"},
        {form->HPFTrackBar, form->HPFLabel, 0, "50Hz", "50Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QLocale::setDefault(QLocale::c());
        c.bar->setValue(c.position == 0 ? 1 : 0);
        c.bar->setValue(c.position);
        EXPECT_EQ(c.label->text(), c.text);
        // The decimal separator is the user's.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        c.bar->setValue(c.position == 0 ? 1 : 0);
        c.bar->setValue(c.position);
        EXPECT_EQ(c.label->text(), c.german);
    }
    QLocale::setDefault(QLocale::c());
    // Labels change no option.
    EXPECT_EQ(form->Model().Options.KvolPos, 6);
    EXPECT_EQ(form->Model().EditedOptions.KvolPos, 6);
}

TEST_F(SetFormTest, CancelDiscardsAMovedTrackBar) {
    auto form = MakeForm();
    form->show();
    EXPECT_EQ(form->KvolTrackBar->value(), 6);
    EXPECT_EQ(form->KvolText->text(), "1.2");
    form->KvolTrackBar->setValue(10);
    EXPECT_EQ(form->KvolText->text(), "1.8");
    form->CanBitBtn->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(form->Model().Options.KvolPos, 6);
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
    form->show();
    EXPECT_EQ(form->KvolTrackBar->value(), 6);
    EXPECT_EQ(form->KvolText->text(), "1.2");
}

TEST_F(SetFormTest, EscapeAndWindowCloseDiscardEnterConfirms) {
    auto form = MakeForm();
    form->show();
    form->MergeRadioGroup->Item(1)->click();
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Model().Options.MergeMode, 2); // automatic, the default

    form->show();
    EXPECT_EQ(form->MergeRadioGroup->ItemIndex(), 2);
    form->MergeRadioGroup->Item(1)->click();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Model().Options.MergeMode, 2);
    EXPECT_FALSE(std::filesystem::exists(IniPath()));

    form->show();
    Type(form->BsizeComboBox->lineEdit(), "400");
    QTest::keyClick(form->BsizeComboBox->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_EQ(form->Model().Options.BlkSize, 400);
    EXPECT_EQ(IniValue("BlkSize"), "400");
}

TEST_F(SetFormTest, ResetThenOkStoresDefaultsExceptPage3) {
    WriteIni("ProcMode=2\nMergeMode=1\nOvspFlg=1\nOvspMx=64\nBlkSize=400\nAdptMode=1\nAdptNum=9\n"
             "CntrFlg=1\nCntrPos=12\nIntroMode=3\nLevelAdpt=2\nLPFFlg=1\nLPFPos=3\nHPFFlg=1\nHPFPos=4\n"
             "KvolPos=15\nKlvlPos=2\nKnameFlg=0\nVnameFlg=1\nVnameTxt=_voc\nKrkPhase=2\nSoundQty=1\nAlignFlg=0\n"
             "CleanMode=2\n");
    auto form = MakeForm();
    form->show();
    EXPECT_EQ(form->KvolText->text(), "3.3");
    form->ResetButton->click();
    // Labels follow the trackbars at once.
    EXPECT_EQ(form->KvolText->text(), "1.2");
    EXPECT_EQ(form->CfocusText->text(), "2.00");
    EXPECT_EQ(form->LPFLabel->text(), "10.0kHz");
    EXPECT_EQ(form->HPFLabel->text(), "230Hz");
    EXPECT_EQ(form->KlvlText->text(), "1.00");
    EXPECT_EQ(form->BsizeComboBox->currentText(), "100");
    EXPECT_FALSE(form->KnameCheckBox->isChecked());
    EXPECT_EQ(form->VnameEdit->text(), "_voc");
    EXPECT_EQ(form->MergeRadioGroup->ItemIndex(), 2);
    EXPECT_TRUE(form->AlignCheckBox->isChecked());
    EXPECT_EQ(form->CleanComboBox->currentIndex(), 0);
    // Nothing is committed yet.
    EXPECT_EQ(form->Model().Options.BlkSize, 400);
    form->OkBitBtn->click();

    ProcessingOptions expected;
    expected.KnameFlg = 0;
    expected.VnameTxt = "_voc";
    EXPECT_EQ(static_cast<const ProcessingOptions&>(form->Model().Options), expected);
    for (const auto& [key, value] : OptionEntries(expected)) EXPECT_EQ(IniValue(key), value) << key;
}

TEST_F(SetFormTest, ResetThenCancelChangesNothing) {
    WriteIni("MergeMode=1\nBlkSize=400\nKvolPos=15\n");
    const testutil::Bytes before = testutil::ReadFile(IniPath());
    auto form = MakeForm();
    const CommittedOptions committed = form->Model().Options;
    form->show();
    form->ResetButton->click();
    form->CanBitBtn->click();
    EXPECT_EQ(static_cast<const ProcessingOptions&>(form->Model().Options),
              static_cast<const ProcessingOptions&>(committed));
    EXPECT_EQ(testutil::ReadFile(IniPath()), before);
    form->show();
    EXPECT_EQ(form->MergeRadioGroup->ItemIndex(), 1);
    EXPECT_EQ(form->KvolTrackBar->value(), 15);
}

TEST_F(SetFormTest, OutOfRangeValuesAreCorrectedOnCommitAndStoredAsShown) {
    WriteIni("ProcMode=7\nIntroMode=-2\nKrkPhase=3\nCntrPos=25\nKvolPos=-3\nLPFPos=40\n");
    auto form = MakeForm();
    form->show();
    // Choices outside their lists come back as the defaults, positions stop
    // at the sliders' ends, and the labels show the corrected values.
    EXPECT_EQ(form->DataRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(form->IntroRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(form->PhaseRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(form->CfocusTrackBar->value(), 20);
    EXPECT_EQ(form->CfocusText->text(), "5.50");
    EXPECT_EQ(form->KvolTrackBar->value(), 0);
    EXPECT_EQ(form->KvolText->text(), "0.6");
    EXPECT_EQ(form->LPFTrackBar->value(), 20);
    EXPECT_EQ(form->LPFLabel->text(), "18.0kHz");
    form->OkBitBtn->click();
    EXPECT_EQ(IniValue("ProcMode"), "0");
    EXPECT_EQ(IniValue("IntroMode"), "0");
    EXPECT_EQ(IniValue("KrkPhase"), "0");
    EXPECT_EQ(IniValue("CntrPos"), "20");
    EXPECT_EQ(IniValue("KvolPos"), "0");
    EXPECT_EQ(IniValue("LPFPos"), "20");
}

TEST_F(SetFormTest, ShowsTheCommittedCopyNotTheIniFile) {
    WriteIni("ProcMode=2\nCntrFlg=1\n");
    auto form = MakeForm();
    // What a run on a one-channel original does to the committed copy.
    form->Model().Options.ProcMode = 0;
    form->Model().Options.CntrFlg = 0;
    form->show();
    EXPECT_EQ(form->DataRadioGroup->ItemIndex(), 0);
    EXPECT_FALSE(form->CfocusCheckBox->isChecked());
    EXPECT_EQ(IniValue("ProcMode"), "2");
    form->OkBitBtn->click();
    EXPECT_EQ(IniValue("ProcMode"), "0");
    EXPECT_EQ(IniValue("CntrFlg"), "0");
}

TEST_F(SetFormTest, WriteFailureKeepsTheDialogOpenWithTheNewOptionsInForce) {
    auto form = MakeForm();
    // A folder where the file should be: the INI file cannot be written.
    std::filesystem::create_directories(IniPath());
    form->show();
    form->MergeRadioGroup->Item(1)->click();
    form->OkBitBtn->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], QString::fromStdString(IniPath() + " に書き込めません."));
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(form->Model().Options.MergeMode, 1);

    // OK again once the file can be written: read, commit and save once more.
    std::filesystem::remove_all(IniPath());
    form->KvolTrackBar->setValue(10);
    form->OkBitBtn->click();
    EXPECT_EQ(dialogs.errors.size(), 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_EQ(IniValue("MergeMode"), "1");
    EXPECT_EQ(IniValue("KvolPos"), "10");
}

TEST_F(SetFormTest, CancelAfterAWriteFailureKeepsTheCommittedOptions) {
    auto form = MakeForm();
    std::filesystem::create_directories(IniPath());
    form->show();
    form->SoundQtyGroup->Item(1)->click();
    form->OkBitBtn->click();
    ASSERT_TRUE(form->isVisible());
    form->CanBitBtn->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Model().Options.SoundQty, 1);
    EXPECT_TRUE(std::filesystem::is_directory(IniPath()));
}

TEST_F(SetFormTest, TheLastChosenPageStaysSelected) {
    auto form = MakeForm();
    form->show();
    EXPECT_EQ(form->PageControl->currentIndex(), 0);
    form->PageControl->setCurrentIndex(2);
    form->CanBitBtn->click();
    form->show();
    EXPECT_EQ(form->PageControl->currentIndex(), 2);
    form->PageControl->setCurrentIndex(1);
    form->OkBitBtn->click();
    form->show();
    EXPECT_EQ(form->PageControl->currentIndex(), 1);
    form->CanBitBtn->click();
}

} // namespace
