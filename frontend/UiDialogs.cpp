#include "UiDialogs.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
UiDialogs* g_current = nullptr;
}

UiDialogs& UiDialogs::Current() {
    static MessageBoxDialogs real;
    return g_current ? *g_current : real;
}

void UiDialogs::SetCurrent(UiDialogs* dialogs) { g_current = dialogs; }

void MessageBoxDialogs::Warning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::NoButton, parent);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

bool MessageBoxDialogs::Confirm(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void MessageBoxDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Sonvelt"), text, QMessageBox::NoButton, parent);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

QFont WindowFont(int pixels) {
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    f.setPixelSize(pixels);
    return f;
}
