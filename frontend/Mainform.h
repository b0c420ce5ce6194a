// The main window: the three file names, Start/Stop, progress, and the
// buttons for settings, preview, help and About.
#pragma once

#include "DebugLog.h"
#include "Host.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
struct CommittedOptions;
struct JobRequest;
struct RunPicture;

namespace MainText {
inline const QString kLabel1 = QStringLiteral("输入WAVE文件（原唱）");
inline const QString kLabel2 = QStringLiteral("输入WAVE文件（伴奏）");
inline const QString kLabel3 = QStringLiteral("输出WAVE文件（路径）");
inline const QString kStartFirst = QStringLiteral("开始生成");
inline const QString kStartAgain = QStringLiteral("开始创建");
inline const QString kStop = QStringLiteral("终止处理");
inline const QString kSettings = QStringLiteral("设定   ");
inline const QString kHelp = QStringLiteral("帮助(&H)");
inline const QString kAboutHint = QStringLiteral("更新信息");
inline const QString kClose = QStringLiteral("退出");
inline const QString kOpenFilter =
    QStringLiteral("WAVE文件\u3000\u3000 (*.wav);;所有文件\u3000\u3000\u3000\u3000 (*.*)");
inline const QString kSaveFilter = QStringLiteral("WAVE文件\u3000\u3000 (*.wav)");
// A dropped file of a kind the programs cannot read.
inline const QString kNotAudio = QStringLiteral("请拖放音频文件：WAVE、FLAC、MP3、AAC/M4A、Ogg Vorbis、Opus 或 AIFF");
inline const QString kConfirmStop = QStringLiteral("确定终止处理过程\u3000\u3000");
// The status while the inputs are decoded before a run.
inline const QString kDecoding = QStringLiteral("解码中…");
inline const QString kConfirmClose = QStringLiteral("是否确定终止处理。\u3000");
inline const QString kDebugOn = QStringLiteral("一个调试模式\u3000 ON");
inline const QString kDebugOff = QStringLiteral("一个调试模式\u3000 OFF");
inline const QString kHelpMissing = QStringLiteral("帮助文件未找到\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000");
inline const QString kHelpFailed = QStringLiteral("在显示帮助时发生错误。\u3000\u3000\u3000\u3000\u3000\u3000");
inline const QString kHelpFile = QStringLiteral("SonveltHelp.pdf");
inline const QString kHelpFileEnglish = QStringLiteral("SonveltHelp-en.pdf");
inline const QString kTitle = QStringLiteral("Sonvelt");
inline const QString kPicture = QStringLiteral("图");
inline const QString kPictureHint = QStringLiteral("运行图：频谱、对齐和每秒去除量");
} // namespace MainText

// The engine shared by the whole program.
extern TVocalMain VocalMain;

class TForm1 : public QWidget, public EngineHost {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The committed options, held by the settings dialog.
    void SetOptions(CommittedOptions* options) { options_ = options; }
    // What the settings, About and preview buttons open.
    std::function<void()> showSettings, showAbout;
    // The file to preview from `startMs`, with the original and the voice for
    // its A/B switch.
    std::function<void(const QString& path, const QString& original, const QString& voice, qint64 startMs)> playFile;
    // Where the help documents are: the program's folder when they are there
    // (a build), else <prefix>/share/sonvelt beside the installed program.
    QString helpFolder;

    // Controls, under the names of the window's layout: Edit1 and WformLbl1
    // the original, Edit2 and WformLbl2 the karaoke, Edit3 the output.
    QFrame *Bevel1, *Bevel2, *Bevel3, *Bevel4;
    QLabel *Label1, *Label2, *Label3, *WformLbl1, *WformLbl2, *InfoLabel;
    // What the last run found and did, over the status area until the next
    // action, with the button that opens the run's picture at its end.
    QLabel* ResultLabel;
    QToolButton* PictureBtn;
    // Below the output box: why the pair may not belong together (a karaoke
    // that shares little of the original's name, from the search; after a
    // run also lengths far apart and a removal that took out almost nothing).
    QLabel* WarnLabel;
    QLineEdit *Edit1, *Edit2, *Edit3;
    QToolButton *BitBtn1, *BitBtn2, *BitBtn3, *PlayBtn1, *PlayBtn2, *PlayBtn3, *AboutBtn;
    QPushButton *StartBtn, *SetBitBtn, *HelpBtn, *CloseBtn;
    QWidget* DbgPanel;
    QProgressBar* ProgBar1;

    int32_t Running = 0;
    class DebugLog Log; // DebugMode, LogFile, LogStart
    TWaveData WaveOriginal, WaveKaraoke, WaveOutput;

    // Handlers, also driven directly by tests.
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void Edit1KeyPress();
    void Edit2KeyPress();
    void StartBtnClick();
    void DbgPanelDblClick();
    void HelpBtnClick();
    // Opens the picture of the last run; a click on a moment in it plays the
    // voice from there.
    void PictureBtnClick();
    // The help document HelpBtnClick opens: the one in the window's
    // language, else the other one; empty when neither is there.
    QString HelpDocument() const;
    int CheckWaveFile(const QString& path, QLabel* label);
    void AutoFillFromOriginal(const QString& path);
    // A drop of `path` at `pos` in client coordinates.
    void DropFile(const QString& path, const QPoint& pos);
    // A file named on the command line: the original recording, checked and
    // with its karaoke searched for.
    void TakeOriginal(const QString& path);
    // The result line of a run with the karaoke file `karaokeName`: shown
    // whole in its tooltip; where it does not fit, the file name is
    // shortened.
    void ShowResult(const RunReport& report, const QString& karaokeName);
    // The result line and the run's warnings go; a name warning stays while
    // the original and the karaoke it was given for are in their boxes.
    void ClearResult();

    // EngineHost
    void SetProgressRange(int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetStatusText(const std::string& text) override;
    void SetTitle(const std::string& title) override;
    void ProcessMessages() override;
    void ShowWarning(const std::string& text) override;
    void DebugLog(const std::string& text) override { Log.Write(text); }
    void LogTimestamp() override { Log.WriteLogTimestamp(); }
    void StartStatusTimer(int intervalMs, std::function<void()> tick) override;
    void StopStatusTimer() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SelectOriginal(const QString& path);
    void SetKaraokeByHand(const QString& path);
    void SetLocked(bool locked);
    // The inputs' decoding before a run, `share` done: the window looks as
    // during a run (Stop works) and handles the user's input.
    void ShowDecoding(double share);
    QString OpenFileName();
    void ShowWarnings();
    // The picture of the run that just ended, read while its original is
    // open; none for a run that was stopped, failed or wrote nothing.
    void ReadPicture(int closed, const JobRequest& request);
    void ShowPictureButton(bool shown);

    // Edit2 holds what the search put there (not a karaoke picked by hand).
    bool karaokeFromSearch_ = false;
    // The search's name warning and the pair it was given for.
    struct {
        QString original, karaoke, text;
    } nameWarning_;
    QStringList runWarnings_; // the last run's, until the next action
    std::shared_ptr<const RunPicture> picture_; // the last run's, while its result line shows

    CommittedOptions* options_ = nullptr;
    QTimer* statusTimer_ = nullptr;
    std::function<void()> statusTick_;
    int progressShift_ = 0; // the bar counts in units of 2^shift bytes
    bool centred_ = false;
};

// The 16 x 16 pictures of the picture buttons, with their disabled look.
QIcon ButtonPicture(const QString& which);
