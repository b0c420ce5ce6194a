// Every message box of the window and its dialogs goes through here, so tests
// can answer them without a display.
#pragma once

#include <QFont>
#include <QString>

class QWidget;

class UiDialogs {
public:
    virtual ~UiDialogs() = default;
    // Warning box, caption "警告", one "OK" button.
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // Confirmation, caption "確認", buttons "はい(&Y)" and "いいえ(&N)"; true
    // only for Yes.
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    // Error box with the stop icon, caption "Sonvelt", one "OK" button.
    virtual void Error(QWidget* parent, const QString& text) = 0;

    // The dialogs in use: the real message boxes unless a test set others.
    static UiDialogs& Current();
    // nullptr restores the real message boxes.
    static void SetCurrent(UiDialogs* dialogs);
};

// The real message boxes.
class MessageBoxDialogs : public UiDialogs {
public:
    void Warning(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
};

// A text of the windows in the language in use: the window's own texts
// through the installed translation, the engine's and the checks' messages
// through LocalisedText(). Unknown texts come back unchanged.
QString Tr(const QString& chinese);

// Installs the translations of the language in use (CurrentLanguage()) into
// the application: English texts for the program, or Qt's own Chinese texts
// for its standard dialogs under the Chinese texts. Installing again replaces
// what was installed before. False when a translation could not be loaded
// (the texts then stay as they are).
bool InstallTranslations();

// The font of every window: the design font at 12 pixels, with CJK fallbacks
// so Chinese text never shows as boxes.
QFont WindowFont(int pixels = 12);
