#include "app/application.h"

#include "modal/modal.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {
QString& titleStorage() {
    static QString title = QStringLiteral("tarnwick 2005");
    return title;
}
} // namespace

QString applicationTitle() {
    return titleStorage();
}
void setApplicationTitle(const QString& title) {
    titleStorage() = title;
}

QString messageWithFullStop(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString exceptionMessage(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unbekannter Fehler");
    }
}

void showErrorMessage(const QString& message) {
    modal::MessageRequest request;
    request.parent = QApplication::activeWindow();
    request.icon = QMessageBox::Critical;
    request.caption = applicationTitle();
    request.text = messageWithFullStop(message);
    request.buttons = QMessageBox::Ok;
    request.defaultButton = QMessageBox::Ok;
    modal::message(request);
}

void showCurrentException() {
    showErrorMessage(exceptionMessage(std::current_exception()));
}

bool installGermanTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showCurrentException();
        return false;
    }
}
