#include "UiDialogs.h"

#include "Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <memory>

namespace {
UiDialogs* g_current = nullptr;
std::unique_ptr<QTranslator> g_program, g_toolkit;

// Every window text is translated in this one context.
constexpr const char* kContext = "Sonvelt";
} // namespace

QString Tr(const QString& chinese) {
    if (CurrentLanguage() == Language::Chinese || chinese.isEmpty()) return chinese;
    const QByteArray source = chinese.toUtf8();
    const QString own = QCoreApplication::translate(kContext, source.constData());
    if (own != chinese) return own;
    return QString::fromStdString(LocalisedText(source.toStdString(), Language::English));
}

bool InstallTranslations() {
    for (auto* t : {&g_program, &g_toolkit}) {
        if (*t) QCoreApplication::removeTranslator(t->get());
        t->reset();
    }
    auto load = [](std::unique_ptr<QTranslator>& slot, const QString& name, const QString& folder) {
        auto t = std::make_unique<QTranslator>();
        if (!t->load(name, folder)) return false;
        QCoreApplication::installTranslator(t.get());
        slot = std::move(t);
        return true;
    };
    if (CurrentLanguage() == Language::English)
        return load(g_program, QStringLiteral("sonvelt_en"), QStringLiteral(":/i18n"));
    // The windows speak Simplified Chinese; so do the toolkit's file dialogs
    // and standard buttons.
    return load(g_toolkit, QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

UiDialogs& UiDialogs::Current() {
    static MessageBoxDialogs real;
    return g_current ? *g_current : real;
}

void UiDialogs::SetCurrent(UiDialogs* dialogs) { g_current = dialogs; }

void MessageBoxDialogs::Warning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, Tr(QStringLiteral("警告")), Tr(text), QMessageBox::NoButton, parent);
    box.addButton(Tr(QStringLiteral("OK")), QMessageBox::AcceptRole);
    box.exec();
}

bool MessageBoxDialogs::Confirm(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, Tr(QStringLiteral("確認")), Tr(text), QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(Tr(QStringLiteral("はい(&Y)")), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Tr(QStringLiteral("いいえ(&N)")), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void MessageBoxDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Sonvelt"), Tr(text), QMessageBox::NoButton, parent);
    box.addButton(Tr(QStringLiteral("OK")), QMessageBox::AcceptRole);
    box.exec();
}

QFont WindowFont(int pixels) {
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    f.setPixelSize(pixels);
    return f;
}
