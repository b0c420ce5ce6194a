#include "Mainform.h"

#include "JobRunner.h"
#include "JobSetup.h"
#include "KaraokeSearch.h"
#include "Language.h"
#include "PairWarnings.h"
#include "PictureForm.h"
#include "RunSummary.h"
#include "Options.h"
#include "UiDialogs.h"
#include "WaveCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

TVocalMain VocalMain;

namespace {

std::string S(const QString& q) { return q.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

// A warning of the pair as the window shows it: English begins a sentence.
QString WarningText(const std::string& text) {
    QString t = Q(text);
    if (!t.isEmpty()) t[0] = t[0].toUpper();
    return t;
}

// The window's message boxes, for the checks shared with the command line,
// and the decoding's progress, which a Stop ends.
class WindowDialogs : public JobDialogs {
public:
    WindowDialogs(QWidget* w, std::function<void(double)> decoding) : w_(w), decoding_(std::move(decoding)) {}
    void ShowWarning(const std::string& text) override { UiDialogs::Current().Warning(w_, Q(text)); }
    bool Confirm(const std::string& text) override { return UiDialogs::Current().Confirm(w_, Q(text)); }
    void ShowDecoding(double share) override { decoding_(share); }
    bool Cancelled() override { return VocalMain.Cancel != 0; }

private:
    QWidget* w_;
    std::function<void(double)> decoding_;
};

QFrame* Bevel(QWidget* parent, QFrame::Shape shape, int x, int y, int w, int h) {
    auto* f = new QFrame(parent);
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Sunken);
    f->setGeometry(x, y, w, h);
    f->lower();
    return f;
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// A path box. Paths are taken whole, however long; a file dropped on the box
// is handled by the window by its position, like a drop anywhere in the row,
// so the box itself takes no dropped text.
QLineEdit* Edit(QWidget* parent, int x, int y) {
    auto* e = new QLineEdit(parent);
    e->setMaxLength(32767);
    e->setAcceptDrops(false);
    e->setGeometry(x, y, 337, 20);
    return e;
}

QToolButton* SmallButton(QWidget* parent, const QString& picture, int x, int y) {
    auto* b = new QToolButton(parent);
    b->setGeometry(x, y, 25, 25);
    b->setIcon(ButtonPicture(picture));
    b->setIconSize(QSize(16, 16));
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

QPushButton* Button(QWidget* parent, const QString& text, const QString& picture, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(x, y, w, h);
    if (!picture.isEmpty()) {
        b->setIcon(ButtonPicture(picture));
        b->setIconSize(QSize(16, 16));
    }
    b->setAutoDefault(false);
    return b;
}

// Draws one of the button pictures in the given colours.
QPixmap DrawPicture(const QString& which, const QColor& ink, const QColor& fill) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 1.2));
    if (which == "open" || which == "save") {
        // A folder; with an arrow for saving.
        p.setBrush(fill);
        QPainterPath folder;
        folder.moveTo(1.5, 4);
        folder.lineTo(6, 4);
        folder.lineTo(7.5, 5.5);
        folder.lineTo(14.5, 5.5);
        folder.lineTo(14.5, 13.5);
        folder.lineTo(1.5, 13.5);
        folder.closeSubpath();
        p.drawPath(folder);
        if (which == "save") {
            p.setPen(QPen(ink, 1.6));
            p.drawLine(QPointF(8, 7.5), QPointF(8, 12));
            p.drawLine(QPointF(6, 10), QPointF(8, 12));
            p.drawLine(QPointF(10, 10), QPointF(8, 12));
        }
    } else if (which == "play") {
        p.setBrush(fill);
        QPolygonF tri({QPointF(4, 2.5), QPointF(13.5, 8), QPointF(4, 13.5)});
        p.drawPolygon(tri);
    } else if (which == "start") {
        // A note with a wave: making the voice.
        p.setBrush(fill);
        p.drawEllipse(QRectF(2, 10, 5, 4));
        p.drawLine(QPointF(7, 12), QPointF(7, 2));
        p.drawLine(QPointF(7, 2), QPointF(12, 4));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(9, 7, 5, 6), 90 * 16, -180 * 16);
    } else if (which == "settings") {
        p.setBrush(fill);
        for (int k = 0; k < 3; ++k) {
            const double y = 3.5 + k * 4.5;
            p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
            p.drawEllipse(QPointF(4 + k * 4, y), 2, 2);
        }
    } else if (which == "about") {
        p.setBrush(fill);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(ink, 2));
        p.drawPoint(QPointF(8, 4.8));
        p.drawLine(QPointF(8, 7), QPointF(8, 12));
    } else if (which == "close") {
        p.setPen(QPen(ink, 2));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    }
    return pm;
}


} // namespace

QIcon ButtonPicture(const QString& which) {
    QIcon icon;
    icon.addPixmap(DrawPicture(which, QColor(40, 60, 110), QColor(250, 210, 90)), QIcon::Normal);
    icon.addPixmap(DrawPicture(which, QColor(150, 150, 150), QColor(215, 215, 215)), QIcon::Disabled);
    return icon;
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowTitle(MainText::kTitle);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(569, 294);
    setFont(WindowFont());
    setAcceptDrops(true);

    Bevel1 = Bevel(this, QFrame::Box, 8, 8, 553, 257);
    Label1 = Label(this, Tr(MainText::kLabel1), 16, 24);
    WformLbl1 = Label(this, "", 196, 24);
    Edit1 = Edit(this, 24, 48);
    BitBtn1 = SmallButton(this, "open", 376, 46);
    PlayBtn1 = SmallButton(this, "play", 416, 46);
    Label2 = Label(this, Tr(MainText::kLabel2), 16, 96);
    WformLbl2 = Label(this, "", 196, 96);
    Edit2 = Edit(this, 24, 120);
    BitBtn2 = SmallButton(this, "open", 376, 118);
    PlayBtn2 = SmallButton(this, "play", 416, 118);
    Bevel2 = Bevel(this, QFrame::HLine, 16, 168, 433, 2);
    Label3 = Label(this, Tr(MainText::kLabel3), 16, 184);
    Edit3 = Edit(this, 24, 208);
    BitBtn3 = SmallButton(this, "save", 376, 206);
    PlayBtn3 = SmallButton(this, "play", 416, 206);
    Bevel3 = Bevel(this, QFrame::VLine, 456, 16, 2, 241);
    StartBtn = Button(this, Tr(MainText::kStartFirst), "start", 464, 16, 89, 57);
    SetBitBtn = Button(this, Tr(MainText::kSettings), "settings", 464, 152, 89, 25);
    HelpBtn = Button(this, Tr(MainText::kHelp), "", 464, 192, 89, 25);
    AboutBtn = SmallButton(this, "about", 464, 232);
    AboutBtn->setToolTip(Tr(MainText::kAboutHint));
    CloseBtn = Button(this, Tr(MainText::kClose), "close", 490, 232, 63, 25);
    DbgPanel = new QWidget(this);
    DbgPanel->setGeometry(9, 256, 8, 8);
    DbgPanel->installEventFilter(this);
    ProgBar1 = new QProgressBar(this);
    ProgBar1->setGeometry(8, 270, 447, 17);
    ProgBar1->setTextVisible(false);
    ProgBar1->setRange(0, 100);
    ProgBar1->setValue(0);
    Bevel4 = Bevel(this, QFrame::Box, 458, 270, 103, 17);
    InfoLabel = new QLabel(this);
    InfoLabel->setGeometry(464, 272, 95, 14);
    // After a run the whole status area tells what the run found and did.
    ResultLabel = new QLabel(this);
    ResultLabel->setGeometry(8, 270, 553, 17);
    ResultLabel->setFrameShape(QFrame::Panel);
    ResultLabel->setFrameShadow(QFrame::Sunken);
    ResultLabel->setAutoFillBackground(true);
    ResultLabel->setIndent(4);
    ResultLabel->hide();
    PictureBtn = new QToolButton(this);
    PictureBtn->setGeometry(511, 270, 50, 17);
    PictureBtn->setText(Tr(MainText::kPicture));
    PictureBtn->setToolTip(Tr(MainText::kPictureHint));
    PictureBtn->hide();
    WarnLabel = new QLabel(this);
    WarnLabel->setGeometry(24, 234, 425, 30);
    WarnLabel->setWordWrap(true);
    WarnLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    WarnLabel->setStyleSheet(QStringLiteral("color: #a33a00;"));
    WarnLabel->hide();

    QWidget* order[] = {Edit1, BitBtn1, PlayBtn1, Edit2, BitBtn2, PlayBtn2, Edit3, BitBtn3, PlayBtn3,
                        StartBtn, SetBitBtn, HelpBtn, AboutBtn, CloseBtn, ProgBar1, DbgPanel};
    ProgBar1->setFocusPolicy(Qt::TabFocus);
    DbgPanel->setFocusPolicy(Qt::TabFocus);
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect(BitBtn1, &QToolButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &QToolButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn3, &QToolButton::clicked, this, &TForm1::BitBtn3Click);
    // Enter in the output box only ends the typing: what the user typed
    // there and in the karaoke box stays.
    connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::Edit1KeyPress);
    connect(Edit2, &QLineEdit::returnPressed, this, &TForm1::Edit2KeyPress);
    // A format label describes the file that was checked; once the user edits
    // the path by hand it no longer does.
    connect(Edit1, &QLineEdit::textEdited, WformLbl1, &QLabel::clear);
    connect(Edit2, &QLineEdit::textEdited, WformLbl2, &QLabel::clear);
    connect(Edit2, &QLineEdit::textEdited, this, [this] { karaokeFromSearch_ = false; });
    // The result line stays until the user does something else.
    for (QLineEdit* e : {Edit1, Edit2, Edit3}) connect(e, &QLineEdit::textChanged, this, &TForm1::ClearResult);
    connect(StartBtn, &QPushButton::clicked, this, &TForm1::StartBtnClick);
    connect(HelpBtn, &QPushButton::clicked, this, &TForm1::HelpBtnClick);
    connect(PictureBtn, &QToolButton::clicked, this, &TForm1::PictureBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(SetBitBtn, &QPushButton::clicked, this, [this] {
        if (showSettings) showSettings();
    });
    connect(AboutBtn, &QToolButton::clicked, this, [this] {
        if (showAbout) showAbout();
    });
    auto play = [this](QLineEdit* edit) {
        if (playFile) playFile(edit->text(), Edit1->text(), Edit3->text(), 0);
    };
    connect(PlayBtn1, &QToolButton::clicked, this, [this, play] { play(Edit1); });
    connect(PlayBtn2, &QToolButton::clicked, this, [this, play] { play(Edit2); });
    connect(PlayBtn3, &QToolButton::clicked, this, [this, play] { play(Edit3); });

    helpFolder = QCoreApplication::applicationDirPath();
    if (!QFile::exists(helpFolder + "/" + MainText::kHelpFile)) helpFolder += QStringLiteral("/../share/sonvelt");
    Log.dateTimeText = [](DebugLog::Clock::time_point t) {
        const QDateTime dt = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
        const QLocale locale = QLocale::system();
        return S(locale.toString(dt.date(), QLocale::ShortFormat) + " " +
                 locale.toString(dt.time(), QLocale::LongFormat));
    };
    VocalMain.Attach(this, nullptr, &WaveOriginal, &WaveKaraoke, &WaveOutput);
}

TForm1::~TForm1() { VocalMain.Attach(nullptr, nullptr, nullptr, nullptr, nullptr); }

// ------------------------------------------------------------ input selection

int TForm1::CheckWaveFile(const QString& path, QLabel* label) {
    const WaveCheckResult r = CheckWaveFileText(S(path));
    if (!r.warning.empty()) UiDialogs::Current().Warning(this, Q(r.warning));
    label->setText(Tr(Q(r.label)));
    label->adjustSize();
    return r.result;
}

void TForm1::AutoFillFromOriginal(const QString& path) {
    if (!options_) return;
    const KaraokeSearchResult r = FindKaraokeForOriginal(S(path), *options_);
    if (options_->KnameFlg && !r.karaokePath.empty()) {
        Edit2->setText(Q(r.karaokePath));
        karaokeFromSearch_ = true;
        CheckWaveFile(Edit2->text(), WformLbl2);
        if (r.WeakMatch())
            nameWarning_ = {path, Edit2->text(),
                            WarningText(NameWarning(QFileInfo(Edit2->text()).fileName().toStdString(), CurrentLanguage()))};
    } else if (options_->KnameFlg && karaokeFromSearch_) {
        // What the search found for an earlier original is not this one's
        // karaoke; a karaoke picked by hand stays.
        Edit2->clear();
        WformLbl2->clear();
        karaokeFromSearch_ = false;
    }
    if (options_->VnameFlg) Edit3->setText(Q(r.outputPath));
    ShowWarnings();
}

void TForm1::SelectOriginal(const QString& path) {
    if (CheckWaveFile(path, WformLbl1) == 0) AutoFillFromOriginal(path);
}

void TForm1::SetKaraokeByHand(const QString& path) {
    Edit2->setText(path);
    karaokeFromSearch_ = false;
    CheckWaveFile(path, WformLbl2);
}

QString TForm1::OpenFileName() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Every format the programs read comes first, so it is what the dialog
    // shows at first.
    QStringList filters = Tr(MainText::kOpenFilter).split(";;");
    filters.prepend(Tr(Q(WaveCheckText::kAudioFilter)));
    dialog.setNameFilters(filters);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

void TForm1::BitBtn1Click() {
    const QString path = OpenFileName();
    if (path.isEmpty()) return;
    Edit1->setText(path);
    SelectOriginal(path);
}

void TForm1::BitBtn2Click() {
    const QString path = OpenFileName();
    if (!path.isEmpty()) SetKaraokeByHand(path);
}

void TForm1::BitBtn3Click() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The Start button asks before an existing file is replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(Tr(MainText::kSaveFilter));
    dialog.setDefaultSuffix("wav");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    Edit3->setText(dialog.selectedFiles().first());
}

// Enter in the original's box checks the original again.
void TForm1::Edit1KeyPress() {
    if (!Edit1->text().isEmpty()) SelectOriginal(Edit1->text());
}

void TForm1::Edit2KeyPress() {
    if (!Edit2->text().isEmpty()) CheckWaveFile(Edit2->text(), WformLbl2);
}

void TForm1::DropFile(const QString& path, const QPoint& pos) {
    const int x = pos.x(), y = pos.y();
    if (x < 8 || x >= 457 || y < 8 || y >= 265) return;
    if (!IsAudioExtension(S(path))) {
        UiDialogs::Current().Warning(this, MainText::kNotAudio);
        return;
    }
    if (y < 90) {
        Edit1->setText(path);
        SelectOriginal(path);
    } else if (y < 169) {
        SetKaraokeByHand(path);
    } else {
        Edit3->setText(path);
    }
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        event->acceptProposedAction();
        DropFile(url.toLocalFile(), event->position().toPoint());
        return;
    }
}

// ---------------------------------------------------------------- job control

void TForm1::SetLocked(bool locked) {
    QWidget* controls[] = {SetBitBtn, PlayBtn1, PlayBtn2, PlayBtn3, BitBtn1, BitBtn2,
                           BitBtn3, AboutBtn, Edit1, Edit2, Edit3, HelpBtn};
    for (QWidget* w : controls) w->setEnabled(!locked);
}

void TForm1::StartBtnClick() {
    if (Running) {
        if (UiDialogs::Current().Confirm(this, MainText::kConfirmStop)) VocalMain.Cancel = 1;
        return;
    }
    JobRequest request;
    request.original = S(Edit1->text());
    request.karaoke = S(Edit2->text());
    request.output = S(Edit3->text());
    const std::string typedOutput = request.output;
    request.onChecked = [this](int which, const WaveCheckResult& r) {
        QLabel* label = which == 1 ? WformLbl1 : WformLbl2;
        label->setText(Tr(Q(r.label)));
        label->adjustSize();
    };
    WindowDialogs dialogs(this, [this](double share) { ShowDecoding(share); });
    ClearResult();
    const QString caption = StartBtn->text();
    VocalMain.Cancel = 0; // a Stop is for this job only
    const bool ready = PrepareJob(request, WaveOriginal, WaveKaraoke, WaveOutput, dialogs);
    if (request.output != typedOutput) Edit3->setText(Q(request.output));
    if (Running && !ready) {
        // The decoding ended without a run.
        Running = 0;
        StartBtn->setText(caption);
        SetLocked(false);
        SetStatusText("");
        ProgBar1->setRange(0, 100);
        ProgBar1->setValue(0);
    }
    if (!ready) return;
    QStringList warnings;
    const uint16_t align = WaveOriginal.Format.nBlockAlign;
    if (request.runMode == 0 && align > 0)
        warnings << WarningText(LengthWarning(WaveOriginal.DataBytes / align, WaveKaraoke.DataBytes / align,
                                              int(WaveOriginal.Format.nSamplesPerSec), CurrentLanguage()));

    Running = 1;
    StartBtn->setText(Tr(MainText::kStop));
    SetLocked(true);
    RunPreparedJob(VocalMain, *this, Log, options_, request, WaveOriginal, WaveKaraoke, WaveOutput,
                   [&](int closed) { ReadPicture(closed, request); });
    Running = 0;
    StartBtn->setText(Tr(MainText::kStartAgain));
    SetLocked(false);
    const RunReport& report = VocalMain.LastReport();
    ShowPictureButton(picture_ != nullptr);
    ShowResult(report, QFileInfo(Q(request.karaoke)).fileName());
    warnings << WarningText(RemovalWarning(report, CurrentLanguage()));
    warnings.removeAll(QString());
    runWarnings_ = warnings;
    ShowWarnings();
}

void TForm1::ShowDecoding(double share) {
    constexpr int kSteps = 1000;
    if (!Running) {
        Running = 1;
        StartBtn->setText(Tr(MainText::kStop));
        SetLocked(true);
        SetStatusText(S(MainText::kDecoding));
        ProgBar1->setRange(0, kSteps);
    }
    ProgBar1->setValue(int(std::clamp(share, 0.0, 1.0) * kSteps));
    ProcessMessages();
}

void TForm1::ShowResult(const RunReport& report, const QString& karaokeName) {
    auto line = [&](const QString& name) { return Q(RunSummary(report, S(name), CurrentLanguage())); };
    const QString whole = line(karaokeName);
    const QFontMetrics metrics = ResultLabel->fontMetrics();
    const int room = ResultLabel->contentsRect().width() - 2 * ResultLabel->indent();
    QString shown = whole;
    // What gives way when the line is too long is the file name; the
    // numbers stay.
    const int excess = metrics.horizontalAdvance(whole) - room;
    if (excess > 0) {
        const int nameRoom = std::max(metrics.horizontalAdvance(karaokeName) - excess, metrics.averageCharWidth() * 6);
        shown = line(metrics.elidedText(karaokeName, Qt::ElideMiddle, nameRoom));
        shown = metrics.elidedText(shown, Qt::ElideRight, room);
    }
    ResultLabel->setToolTip(whole);
    ResultLabel->setText(shown);
    ResultLabel->show();
    ResultLabel->raise();
}

void TForm1::ReadPicture(int closed, const JobRequest& request) {
    picture_.reset();
    const RunReport& r = VocalMain.LastReport();
    if (closed != 0 || r.stopped || r.result != 0 || r.framesWritten == 0) return;
    auto picture = std::make_shared<RunPicture>();
    picture->report = r;
    picture->karaokeName = S(QFileInfo(Q(request.karaoke)).fileName());
    TWaveData voice;
    const bool voiceOpen = voice.OpenRead(request.output) == 0;
    ReadRunPictureSpectrograms(*picture, WaveOriginal, voiceOpen ? &voice : nullptr, kPictureColumns);
    picture_ = std::move(picture);
}

void TForm1::ShowPictureButton(bool shown) {
    ResultLabel->setGeometry(8, 270, shown ? PictureBtn->x() - 10 : 553, 17);
    PictureBtn->setVisible(shown);
    if (shown) PictureBtn->raise();
}

void TForm1::PictureBtnClick() {
    if (!picture_) return;
    TPictureForm form(picture_, this);
    const QString original = Edit1->text(), voice = Edit3->text();
    form.playAt = [this, original, voice](double seconds) {
        if (playFile) playFile(voice, original, voice, qint64(std::llround(seconds * 1000)));
    };
    form.exec();
}

void TForm1::ClearResult() {
    picture_.reset();
    ShowPictureButton(false);
    ResultLabel->hide();
    ResultLabel->clear();
    ResultLabel->setToolTip({});
    runWarnings_.clear();
    ShowWarnings();
}

void TForm1::ShowWarnings() {
    QStringList all;
    if (!nameWarning_.text.isEmpty()) {
        if (Edit1->text() == nameWarning_.original && Edit2->text() == nameWarning_.karaoke)
            all << nameWarning_.text;
        else
            nameWarning_ = {};
    }
    all << runWarnings_;
    if (all.isEmpty()) {
        WarnLabel->hide();
        WarnLabel->clear();
        WarnLabel->setToolTip({});
        return;
    }
    // As much as the two lines hold, cut after a word where one ends near
    // (Chinese has no spaces); the whole in the tooltip.
    const QFontMetrics metrics = WarnLabel->fontMetrics();
    const QRect room = WarnLabel->contentsRect();
    auto fits = [&](const QString& t) {
        return metrics.boundingRect(room, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, t).height() <= room.height();
    };
    QString kept = all.join(' '), shown = kept;
    while (!fits(shown) && kept.size() > 1) {
        const qsizetype space = kept.lastIndexOf(' ');
        kept.truncate(space > kept.size() - 16 ? space : kept.size() - 1);
        shown = kept + QStringLiteral("…");
    }
    WarnLabel->setText(shown);
    WarnLabel->setToolTip(all.join('\n'));
    WarnLabel->show();
    WarnLabel->raise();
}

void TForm1::TakeOriginal(const QString& path) {
    const QString whole = QFileInfo(path).absoluteFilePath();
    Edit1->setText(whole);
    SelectOriginal(whole);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_ || event->spontaneous()) return;
    centred_ = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!Running) {
        event->accept();
        return;
    }
    if (!UiDialogs::Current().Confirm(this, MainText::kConfirmClose)) {
        event->ignore();
        return;
    }
    WaveOriginal.Close();
    WaveKaraoke.Close();
    WaveOutput.Close();
    VocalMain.Cancel = 1;
    event->accept();
}

// ------------------------------------------------------- debug switch, help

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DbgPanel && event->type() == QEvent::MouseButtonDblClick) {
        DbgPanelDblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::DbgPanelDblClick() {
    Log.DebugMode = !Log.DebugMode;
    UiDialogs::Current().Warning(this, Log.DebugMode ? MainText::kDebugOn : MainText::kDebugOff);
}

QString TForm1::HelpDocument() const {
    const bool english = CurrentLanguage() == Language::English;
    for (const QString& name : {english ? MainText::kHelpFileEnglish : MainText::kHelpFile,
                                english ? MainText::kHelpFile : MainText::kHelpFileEnglish}) {
        const QString path = helpFolder + "/" + name;
        if (QFile::exists(path)) return path;
    }
    return {};
}

void TForm1::HelpBtnClick() {
    const QString path = HelpDocument();
    if (path.isEmpty()) {
        UiDialogs::Current().Warning(this, MainText::kHelpMissing);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        UiDialogs::Current().Warning(this, MainText::kHelpFailed);
}

// ------------------------------------------------------------- engine host

void TForm1::SetProgressRange(int64_t maximum) {
    // The bar counts in int; halve the units until the maximum fits.
    progressShift_ = 0;
    while ((maximum >> progressShift_) > INT32_MAX) ++progressShift_;
    ProgBar1->setRange(0, int(maximum >> progressShift_));
}

void TForm1::SetProgressPosition(int64_t position) {
    ProgBar1->setValue(int(std::clamp<int64_t>(position >> progressShift_, 0, ProgBar1->maximum())));
}

void TForm1::SetStatusText(const std::string& text) {
    InfoLabel->setText(Tr(Q(text)));
    InfoLabel->repaint();
}

void TForm1::SetTitle(const std::string& title) { setWindowTitle(Q(title)); }

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

void TForm1::ShowWarning(const std::string& text) { UiDialogs::Current().Warning(this, Q(text)); }

void TForm1::StartStatusTimer(int intervalMs, std::function<void()> tick) {
    statusTick_ = std::move(tick);
    if (!statusTimer_) {
        statusTimer_ = new QTimer(this);
        connect(statusTimer_, &QTimer::timeout, this, [this] {
            if (statusTick_) statusTick_();
        });
    }
    statusTimer_->start(intervalMs);
}

void TForm1::StopStatusTimer() {
    if (statusTimer_) statusTimer_->stop();
    statusTick_ = nullptr;
}
