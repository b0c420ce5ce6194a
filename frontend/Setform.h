// The settings dialog: edits the processing options on three pages; OK
// commits and saves them, every other way out discards the changes.
#pragma once

#include "Settings.h"

#include <QDialog>
#include <QGroupBox>
#include <QList>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QToolButton;
struct OptionBinding;

// A titled group of radio buttons whose selection is an item index.
class RadioGroup : public QGroupBox {
public:
    RadioGroup(const QString& title, const QStringList& items, QWidget* parent);
    // The selected item, or -1 when none is.
    int ItemIndex() const;
    // An index past the last item selects the last one; a negative index
    // selects none.
    void SetItemIndex(int index);
    int Count() const { return int(items_.size()); }
    QRadioButton* Item(int index) const { return items_.at(index); }
    // Places the items one under another from (left, top), `step` apart.
    void PlaceItems(int left, int top, int step, int width);

private:
    QButtonGroup* group_;
    QList<QRadioButton*> items_;
};

// Up and down arrows attached to an edit box: they hold a position within a
// range and show it in the edit box. A click steps from the number the box
// holds, or from the held position when the box holds no number.
class UpDown : public QWidget {
public:
    UpDown(QLineEdit* associate, int min, int max, QWidget* parent);
    int Position() const { return position_; }
    // Clamps to the range and shows the position in the edit box.
    void SetPosition(int value);
    void Step(int delta);
    QToolButton* UpButton;
    QToolButton* DownButton;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* associate_;
    int min_, max_;
    int position_ = 0;
};

class TSetForm1 : public QDialog {
    Q_OBJECT
public:
    // Loads the options at once: defaults, then the INI file of
    // `programFile` in `dataFolder` (the user's local data folder when
    // empty), then the commit.
    explicit TSetForm1(const QString& programFile = QStringLiteral("sonvelt"),
                       const QString& dataFolder = {}, QWidget* parent = nullptr);
    ~TSetForm1() override;

    // The options: Model().Options is the committed copy everyone reads.
    SettingsModel& Model() { return model_; }
    const SettingsModel& Model() const { return model_; }

    QTabWidget* PageControl = nullptr;
    QPushButton* ResetButton = nullptr;
    QPushButton* OkBitBtn = nullptr;
    QPushButton* CanBitBtn = nullptr;

    // Page 1, processing method.
    RadioGroup* IntroRadioGroup = nullptr;
    QGroupBox* AdptLvlGroupBox = nullptr;
    QRadioButton* AdptAutoButton = nullptr;
    QRadioButton* AdptManualButton = nullptr;
    QLabel* StaticText6 = nullptr;
    QLineEdit* AdptEdit = nullptr;
    UpDown* AdptUpDown = nullptr;
    RadioGroup* MergeRadioGroup = nullptr;
    QFrame* Panel1 = nullptr;
    RadioGroup* SoundQtyGroup = nullptr;
    QLabel* StaticText1 = nullptr;
    QSlider* KvolTrackBar = nullptr;
    QLabel* KvolText = nullptr;
    RadioGroup* LevelRadioGroup = nullptr;
    QSlider* KlvlTrackBar = nullptr;
    QLabel* KlvlText = nullptr;

    // Page 2, advanced settings.
    RadioGroup* DataRadioGroup = nullptr;
    RadioGroup* PhaseRadioGroup = nullptr;
    QCheckBox* AlignCheckBox = nullptr; // precise alignment
    QLabel* CleanLabel = nullptr;
    QComboBox* CleanComboBox = nullptr; // clean pauses: automatic, always, off
    QGroupBox* FilterGroupBox = nullptr;
    QCheckBox* CfocusCheckBox = nullptr;
    QSlider* CfocusTrackBar = nullptr;
    QLabel* CfocusText = nullptr;
    QCheckBox* LPFCheckBox = nullptr;
    QSlider* LPFTrackBar = nullptr;
    QLabel* LPFLabel = nullptr;
    QCheckBox* HPFCheckBox = nullptr;
    QSlider* HPFTrackBar = nullptr;
    QLabel* HPFLabel = nullptr;
    QGroupBox* OvspGroupBox = nullptr;
    QCheckBox* OvspCheckBox = nullptr;
    QComboBox* OvspComboBox = nullptr;
    QGroupBox* BsizeGroupBox = nullptr;
    QComboBox* BsizeComboBox = nullptr;
    QLabel* Label3 = nullptr;

    // Page 3, auxiliary functions.
    QGroupBox* FileAutoGroupBox = nullptr;
    QCheckBox* KnameCheckBox = nullptr;
    QCheckBox* VnameCheckBox = nullptr;
    QLabel* StaticText8 = nullptr;
    QLineEdit* VnameEdit = nullptr;

    // Fills the controls from the committed options.
    void FormShow();
    // Puts the defaults into the edited options and the controls, except
    // those of page 3. Nothing is committed.
    void ResetButtonClick();
    // For an OK close: reads the controls, commits and saves. False when the
    // INI file could not be written; the error has then been shown and the
    // dialog must stay open.
    bool FormClose(int result);

    void CfocusTrackBarChange();
    void KvolTrackBarChange();
    void KlvlTrackBarChange();
    void LPFTrackBarChange();
    void HPFTrackBarChange();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void BuildPage1(QWidget* page);
    void BuildPage2(QWidget* page);
    void BuildPage3(QWidget* page);

    // Ties each option to its control: the one list that showing, resetting
    // and closing go through.
    void BindOptions();

    SettingsModel model_;
    std::vector<OptionBinding> bindings_;
};
