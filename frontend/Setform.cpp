#include "Setform.h"

#include "UiDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <functional>

namespace {

QLabel* Label(const QString& text, QWidget* parent, int left, int top) {
    auto* l = new QLabel(text, parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

// A label for a derived value, wide enough for its longest text.
QLabel* ValueLabel(QWidget* parent, int left, int top, int width, Qt::Alignment align) {
    auto* l = new QLabel(parent);
    l->setGeometry(left, top, width, 16);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
}

QSlider* TrackBar(QWidget* parent, int left, int top, int width) {
    auto* t = new QSlider(Qt::Horizontal, parent);
    t->setRange(0, 20);
    t->setSingleStep(1);
    t->setPageStep(1);
    t->setTickInterval(1);
    t->setTickPosition(QSlider::TicksBothSides);
    t->setGeometry(left, top, width, 30);
    return t;
}

QComboBox* NumberBox(const QStringList& items, QWidget* parent, int left, int top, int width) {
    auto* c = new QComboBox(parent);
    c->setEditable(true);
    c->addItems(items);
    c->setInsertPolicy(QComboBox::NoInsert);
    // What the user types is the value: no completion from the list (typing
    // 20 must not become 200).
    c->setCompleter(nullptr);
    c->lineEdit()->setMaxLength(3);
    c->setGeometry(left, top, width, 22);
    return c;
}

// The length limit is for typing only: a stored value longer than the limit
// is shown whole, so that OK never shortens what the user did not touch.
void SetLimitedText(QLineEdit* edit, const QString& text, int limit) {
    edit->setMaxLength(std::max<int>(limit, int(text.size())));
    edit->setText(text);
}

QString Num(int32_t v) { return QString::number(v); }

std::string DecimalPoint() { return QLocale().decimalPoint().toStdString(); }

int32_t TextToInt(const QString& text, int32_t committed) {
    return ParseIniInt(text.toStdString(), committed);
}

} // namespace

// --- RadioGroup --------------------------------------------------------------

RadioGroup::RadioGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        items_.append(b);
    }
    PlaceItems(10, 22, 22, 110);
}

int RadioGroup::ItemIndex() const { return group_->checkedId(); }

void RadioGroup::SetItemIndex(int index) {
    if (items_.isEmpty()) return;
    if (index >= Count()) index = Count() - 1;
    if (index < 0) {
        group_->setExclusive(false);
        for (QRadioButton* b : items_) b->setChecked(false);
        group_->setExclusive(true);
        return;
    }
    items_[index]->setChecked(true);
}

void RadioGroup::PlaceItems(int left, int top, int step, int width) {
    for (int i = 0; i < Count(); ++i) items_[i]->setGeometry(left, top + i * step, width, 18);
}

// --- UpDown -------------------------------------------------------------------

UpDown::UpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max), position_(min) {
    UpButton = new QToolButton(this);
    UpButton->setArrowType(Qt::UpArrow);
    DownButton = new QToolButton(this);
    DownButton->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {UpButton, DownButton}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    connect(UpButton, &QToolButton::clicked, this, [this] { Step(1); });
    connect(DownButton, &QToolButton::clicked, this, [this] { Step(-1); });
    associate_->installEventFilter(this);
    const QRect r = associate_->geometry();
    setGeometry(r.right() + 1, r.top(), 16, r.height());
    UpButton->setGeometry(0, 0, 16, r.height() / 2);
    DownButton->setGeometry(0, r.height() / 2, 16, r.height() - r.height() / 2);
}

void UpDown::SetPosition(int value) {
    position_ = std::clamp(value, min_, max_);
    associate_->setText(QString::number(position_));
}

void UpDown::Step(int delta) {
    bool ok = false;
    const int shown = associate_->text().trimmed().toInt(&ok);
    SetPosition((ok ? std::clamp(shown, min_, max_) : position_) + delta);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == associate_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- TSetForm1 ------------------------------------------------------------------

TSetForm1::TSetForm1(const QString& programFile, const QString& dataFolder, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(Tr(QStringLiteral("Sonvelt设定")));
    // A title and nothing else: no system menu, no close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(WindowFont());
    setFixedSize(506, 337);

    // Created in tab order: OK, Cancel, the pages, Reset.
    OkBitBtn = new QPushButton(Tr(QStringLiteral("OK")), this);
    OkBitBtn->setGeometry(336, 304, 75, 25);
    OkBitBtn->setDefault(true);
    connect(OkBitBtn, &QPushButton::clicked, this, &QDialog::accept);

    CanBitBtn = new QPushButton(Tr(QStringLiteral("キャンセル")), this);
    CanBitBtn->setGeometry(423, 304, 75, 25);
    connect(CanBitBtn, &QPushButton::clicked, this, &QDialog::reject);

    PageControl = new QTabWidget(this);
    PageControl->setGeometry(8, 8, 490, 288);
    auto* page1 = new QWidget;
    auto* page2 = new QWidget;
    auto* page3 = new QWidget;
    PageControl->addTab(page1, Tr(QStringLiteral("处理方法")));
    PageControl->addTab(page2, Tr(QStringLiteral("高级设置")));
    PageControl->addTab(page3, Tr(QStringLiteral("辅助功能")));
    BuildPage1(page1);
    BuildPage2(page2);
    BuildPage3(page3);
    PageControl->setCurrentIndex(0);

    ResetButton = new QPushButton(Tr(QStringLiteral("复位")), this);
    ResetButton->setGeometry(8, 304, 75, 25);
    connect(ResetButton, &QPushButton::clicked, this, &TSetForm1::ResetButtonClick);

    connect(CfocusTrackBar, &QSlider::valueChanged, this, &TSetForm1::CfocusTrackBarChange);
    connect(KvolTrackBar, &QSlider::valueChanged, this, &TSetForm1::KvolTrackBarChange);
    connect(KlvlTrackBar, &QSlider::valueChanged, this, &TSetForm1::KlvlTrackBarChange);
    connect(LPFTrackBar, &QSlider::valueChanged, this, &TSetForm1::LPFTrackBarChange);
    connect(HPFTrackBar, &QSlider::valueChanged, this, &TSetForm1::HPFTrackBarChange);

    BindOptions();
    model_.Initialise(programFile.toStdString(), dataFolder.toStdString());
}

TSetForm1::~TSetForm1() = default;

void TSetForm1::BuildPage1(QWidget* page) {
    IntroRadioGroup = new RadioGroup(Tr(QStringLiteral("前奏分析")),
                                     {Tr(QStringLiteral("自动")), Tr(QStringLiteral("正常")),
                                      Tr(QStringLiteral("细节")), Tr(QStringLiteral("无"))},
                                     page);
    IntroRadioGroup->setGeometry(6, 6, 150, 116);

    AdptLvlGroupBox = new QGroupBox(Tr(QStringLiteral("校正时间位移")), page);
    AdptLvlGroupBox->setGeometry(6, 128, 150, 124);
    AdptAutoButton = new QRadioButton(Tr(QStringLiteral("自动")), AdptLvlGroupBox);
    AdptAutoButton->setGeometry(10, 22, 110, 18);
    AdptManualButton = new QRadioButton(Tr(QStringLiteral("手动")), AdptLvlGroupBox);
    AdptManualButton->setGeometry(10, 44, 110, 18);
    auto* adptGroup = new QButtonGroup(AdptLvlGroupBox);
    adptGroup->addButton(AdptAutoButton, 0);
    adptGroup->addButton(AdptManualButton, 1);
    StaticText6 = Label(Tr(QStringLiteral("修正范围")), AdptLvlGroupBox, 12, 80);
    AdptEdit = new QLineEdit(AdptLvlGroupBox);
    AdptEdit->setMaxLength(3);
    AdptEdit->setGeometry(68, 77, 40, 20);
    AdptUpDown = new UpDown(AdptEdit, 0, 999, AdptLvlGroupBox);

    MergeRadioGroup = new RadioGroup(Tr(QStringLiteral("提取方法")),
                                     {Tr(QStringLiteral("频率合成")), Tr(QStringLiteral("波形合成")), Tr(QStringLiteral("自动"))},
                                     page);
    MergeRadioGroup->setGeometry(162, 6, 316, 246);
    MergeRadioGroup->Item(0)->setGeometry(10, 26, 76, 18);
    MergeRadioGroup->Item(1)->setGeometry(10, 140, 76, 18);
    // Automatic picks either method, so it sits on the line between them.
    MergeRadioGroup->Item(2)->setGeometry(10, 116, 72, 18);
    Panel1 = new QFrame(MergeRadioGroup);
    Panel1->setFrameShape(QFrame::HLine);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setGeometry(84, 124, 226, 2);

    // Upper half: what the frequency merge uses.
    SoundQtyGroup = new RadioGroup(Tr(QStringLiteral("音质调整")),
                                   {Tr(QStringLiteral("音质优先")), Tr(QStringLiteral("提取优先"))}, MergeRadioGroup);
    SoundQtyGroup->setGeometry(86, 16, 222, 102);
    SoundQtyGroup->PlaceItems(8, 28, 26, 74);
    StaticText1 = Label(Tr(QStringLiteral("提取的水平")), SoundQtyGroup, 122, 18);
    KvolTrackBar = TrackBar(SoundQtyGroup, 96, 34, 116);
    Label(Tr(QStringLiteral("弱")), SoundQtyGroup, 98, 66);
    Label(Tr(QStringLiteral("强")), SoundQtyGroup, 200, 66);
    KvolText = ValueLabel(SoundQtyGroup, 124, 80, 60, Qt::AlignHCenter);

    // Lower half: what the waveform merge uses.
    LevelRadioGroup = new RadioGroup(Tr(QStringLiteral("误差修正等级调整")),
                                     {Tr(QStringLiteral("自动（平均）")), Tr(QStringLiteral("自动（适应）")),
                                      Tr(QStringLiteral("手动")), Tr(QStringLiteral("无"))},
                                     MergeRadioGroup);
    LevelRadioGroup->setGeometry(86, 130, 222, 110);
    LevelRadioGroup->PlaceItems(8, 22, 21, 96);
    KlvlTrackBar = TrackBar(LevelRadioGroup, 106, 36, 108);
    KlvlText = ValueLabel(LevelRadioGroup, 130, 70, 60, Qt::AlignHCenter);
}

void TSetForm1::BuildPage2(QWidget* page) {
    DataRadioGroup = new RadioGroup(Tr(QStringLiteral("处理方式")),
                                    {Tr(QStringLiteral("正常")), Tr(QStringLiteral("左右区分")),
                                     Tr(QStringLiteral("单声道化"))},
                                    page);
    DataRadioGroup->setGeometry(6, 6, 130, 90);

    PhaseRadioGroup = new RadioGroup(Tr(QStringLiteral("卡拉OK相位")),
                                     {Tr(QStringLiteral("自动")), Tr(QStringLiteral("正相")), Tr(QStringLiteral("逆相"))},
                                     page);
    PhaseRadioGroup->setGeometry(6, 100, 130, 90);

    AlignCheckBox = new QCheckBox(Tr(QStringLiteral("精确对齐")), page);
    AlignCheckBox->setGeometry(12, 196, 124, 18);

    // Clean pauses: what the removal leaves of a lossy karaoke, suppressed.
    CleanLabel = Label(Tr(QStringLiteral("清除停顿")), page, 12, 222);
    CleanComboBox = new QComboBox(page);
    CleanComboBox->addItems({Tr(QStringLiteral("自动")), Tr(QStringLiteral("总是")), Tr(QStringLiteral("关闭"))});
    CleanComboBox->setGeometry(12, 238, 124, 22);

    FilterGroupBox = new QGroupBox(Tr(QStringLiteral("过滤处理")), page);
    FilterGroupBox->setGeometry(142, 6, 336, 132);
    auto row = [this](const QString& caption, int top, QCheckBox*& box, QSlider*& bar, QLabel*& label) {
        box = new QCheckBox(caption, FilterGroupBox);
        box->setGeometry(8, top, 100, 18);
        bar = TrackBar(FilterGroupBox, 124, top - 6, 144);
        label = ValueLabel(FilterGroupBox, 286, top + 1, 46, Qt::AlignLeft);
    };
    row(Tr(QStringLiteral("中置声道提取")), 24, CfocusCheckBox, CfocusTrackBar, CfocusText);
    Label(Tr(QStringLiteral("弱")), FilterGroupBox, 110, 26);
    Label(Tr(QStringLiteral("强")), FilterGroupBox, 270, 26);
    row(Tr(QStringLiteral("高音削减")), 62, LPFCheckBox, LPFTrackBar, LPFLabel);
    row(Tr(QStringLiteral("低音削减")), 100, HPFCheckBox, HPFTrackBar, HPFLabel);

    OvspGroupBox = new QGroupBox(Tr(QStringLiteral("采样率")), page);
    OvspGroupBox->setGeometry(142, 144, 180, 108);
    OvspCheckBox = new QCheckBox(Tr(QStringLiteral("使用")), OvspGroupBox);
    OvspCheckBox->setGeometry(10, 26, 52, 18);
    OvspComboBox = NumberBox({QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("32"),
                              QStringLiteral("64"), QStringLiteral("128")},
                             OvspGroupBox, 64, 24, 60);
    Label(Tr(QStringLiteral("倍")), OvspGroupBox, 130, 28);
    Label(Tr(QStringLiteral("只有波形合成模式有效")), OvspGroupBox, 10, 66);

    BsizeGroupBox = new QGroupBox(Tr(QStringLiteral("处理模块尺寸")), page);
    BsizeGroupBox->setGeometry(328, 144, 150, 108);
    BsizeComboBox = NumberBox({QStringLiteral("50"), QStringLiteral("100"), QStringLiteral("200"),
                               QStringLiteral("400"), QStringLiteral("800")},
                              BsizeGroupBox, 12, 24, 64);
    Label3 = Label(Tr(QStringLiteral("毫秒")), BsizeGroupBox, 82, 28);
}

void TSetForm1::BuildPage3(QWidget* page) {
    FileAutoGroupBox = new QGroupBox(Tr(QStringLiteral("文件名设置功能")), page);
    FileAutoGroupBox->setGeometry(6, 6, 472, 112);
    KnameCheckBox = new QCheckBox(Tr(QStringLiteral("卡拉OK文件自动搜索")), FileAutoGroupBox);
    KnameCheckBox->setGeometry(12, 24, 300, 18);
    VnameCheckBox = new QCheckBox(Tr(QStringLiteral("人声的文件名自动设置")), FileAutoGroupBox);
    VnameCheckBox->setGeometry(12, 50, 300, 18);
    StaticText8 = Label(Tr(QStringLiteral("追加文字列")), FileAutoGroupBox, 32, 82);
    VnameEdit = new QLineEdit(FileAutoGroupBox);
    VnameEdit->setMaxLength(32);
    VnameEdit->setGeometry(104, 79, 220, 20);
}

void TSetForm1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    FormShow();
}

// One option and the control that edits it: `show` puts the option's value
// into the control, `read` takes the control's value into the edited options
// (a number box that holds no number keeps the committed value).
struct OptionBinding {
    std::function<void(const ProcessingOptions&)> show;
    std::function<void(ProcessingOptions& edited, const ProcessingOptions& committed)> read;
    bool keptByReset = false; // page 3: Reset leaves the file-name functions alone
};

namespace {

using Member = int32_t ProcessingOptions::*;

template <class Show, class Read>
OptionBinding Bind(Member m, Show show, Read read, bool keptByReset = false) {
    return {[m, show](const ProcessingOptions& o) { show(o.*m); },
            [m, read](ProcessingOptions& e, const ProcessingOptions& c) { e.*m = read(c.*m); }, keptByReset};
}

OptionBinding Radio(Member m, RadioGroup* group) {
    return Bind(m, [group](int32_t v) { group->SetItemIndex(v); }, [group](int32_t) { return group->ItemIndex(); });
}

OptionBinding Check(Member m, QCheckBox* box, bool keptByReset = false) {
    return Bind(
        m, [box](int32_t v) { box->setChecked(v != 0); }, [box](int32_t) { return box->isChecked() ? 1 : 0; },
        keptByReset);
}

// A list whose selection is the option's value (a value past the list shows
// its last item).
OptionBinding Choice(Member m, QComboBox* box) {
    return Bind(
        m, [box](int32_t v) { box->setCurrentIndex(std::clamp(v, 0, box->count() - 1)); },
        [box](int32_t) { return box->currentIndex(); });
}

OptionBinding Slider(Member m, QSlider* bar) {
    return Bind(m, [bar](int32_t v) { bar->setValue(v); }, [bar](int32_t) { return bar->value(); });
}

// A number typed into a box of three characters, with its arrows if it has them.
OptionBinding Number(Member m, QLineEdit* edit, UpDown* arrows = nullptr) {
    return Bind(
        m,
        [edit, arrows](int32_t v) {
            SetLimitedText(edit, Num(v), 3);
            if (arrows) arrows->SetPosition(v);
        },
        [edit](int32_t committed) { return TextToInt(edit->text(), committed); });
}

} // namespace

void TSetForm1::BindOptions() {
    auto adptMode = Bind(
        &ProcessingOptions::AdptMode,
        [this](int32_t v) { (v == 0 ? AdptAutoButton : AdptManualButton)->setChecked(true); },
        [this](int32_t) { return AdptAutoButton->isChecked() ? 0 : 1; });
    OptionBinding vnameTxt{
        [this](const ProcessingOptions& o) { SetLimitedText(VnameEdit, QString::fromStdString(o.VnameTxt), 32); },
        [this](ProcessingOptions& e, const ProcessingOptions&) { e.VnameTxt = VnameEdit->text().toStdString(); },
        true};
    bindings_ = {
        // Page 1, processing method.
        Radio(&ProcessingOptions::IntroMode, IntroRadioGroup),
        adptMode,
        Number(&ProcessingOptions::AdptNum, AdptEdit, AdptUpDown),
        Radio(&ProcessingOptions::MergeMode, MergeRadioGroup),
        Radio(&ProcessingOptions::SoundQty, SoundQtyGroup),
        Slider(&ProcessingOptions::KvolPos, KvolTrackBar),
        Radio(&ProcessingOptions::LevelAdpt, LevelRadioGroup),
        Slider(&ProcessingOptions::KlvlPos, KlvlTrackBar),
        // Page 2, advanced settings.
        Radio(&ProcessingOptions::ProcMode, DataRadioGroup),
        Radio(&ProcessingOptions::KrkPhase, PhaseRadioGroup),
        Check(&ProcessingOptions::AlignFlg, AlignCheckBox),
        Choice(&ProcessingOptions::CleanMode, CleanComboBox),
        Check(&ProcessingOptions::CntrFlg, CfocusCheckBox),
        Slider(&ProcessingOptions::CntrPos, CfocusTrackBar),
        Check(&ProcessingOptions::LPFFlg, LPFCheckBox),
        Slider(&ProcessingOptions::LPFPos, LPFTrackBar),
        Check(&ProcessingOptions::HPFFlg, HPFCheckBox),
        Slider(&ProcessingOptions::HPFPos, HPFTrackBar),
        Check(&ProcessingOptions::OvspFlg, OvspCheckBox),
        Number(&ProcessingOptions::OvspMx, OvspComboBox->lineEdit()),
        Number(&ProcessingOptions::BlkSize, BsizeComboBox->lineEdit()),
        // Page 3, auxiliary functions.
        Check(&ProcessingOptions::KnameFlg, KnameCheckBox, true),
        Check(&ProcessingOptions::VnameFlg, VnameCheckBox, true),
        vnameTxt,
    };
}

void TSetForm1::FormShow() {
    for (const OptionBinding& b : bindings_) b.show(model_.Options);
    // The value labels follow their sliders; a slider already at its place
    // sends no change, so they are filled here.
    CfocusTrackBarChange();
    KvolTrackBarChange();
    KlvlTrackBarChange();
    LPFTrackBarChange();
    HPFTrackBarChange();
}

void TSetForm1::ResetButtonClick() {
    model_.SetDefaults();
    for (const OptionBinding& b : bindings_)
        if (!b.keptByReset) b.show(model_.EditedOptions);
    update();
}

bool TSetForm1::FormClose(int result) {
    if (result != QDialog::Accepted) return true;
    for (const OptionBinding& b : bindings_) b.read(model_.EditedOptions, model_.Options);

    model_.CommitOptions();
    if (model_.SaveOptions() != 0) {
        // The new options are in force already; the dialog stays open so
        // the user can try OK again or leave with Cancel.
        UiDialogs::Current().Error(this, QString::fromStdString(IniWriteErrorText(model_.IniPath)));
        return false;
    }
    return true;
}

void TSetForm1::done(int result) {
    if (!FormClose(result)) {
        setResult(0);
        return;
    }
    QDialog::done(result);
}

void TSetForm1::CfocusTrackBarChange() {
    CfocusText->setText(QString::fromStdString(::CntrGainText(CntrGainFor(CfocusTrackBar->value()), DecimalPoint())));
}

void TSetForm1::KvolTrackBarChange() {
    KvolText->setText(QString::fromStdString(::KvolText(KvolFor(KvolTrackBar->value()), DecimalPoint())));
}

void TSetForm1::KlvlTrackBarChange() {
    KlvlText->setText(QString::fromStdString(::KlvlText(KlvlFor(KlvlTrackBar->value()), DecimalPoint())));
}

void TSetForm1::LPFTrackBarChange() {
    LPFLabel->setText(QString::fromStdString(::LPFText(LPFFreqFor(LPFTrackBar->value()), DecimalPoint())));
}

void TSetForm1::HPFTrackBarChange() {
    HPFLabel->setText(QString::fromStdString(::HPFText(HPFFreqFor(HPFTrackBar->value()))));
}
