#pragma once
// The application object: the one place where an error that no handler caught
// becomes the message box the user reads.

#include <QApplication>
#include <QString>
#include <exception>

// The application title: the caption of every error message box. Set once at
// start-up; kept apart from QGuiApplication::applicationDisplayName, which
// some window systems append to every window caption.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// The default error display's text: the message with a full stop appended
// when its last character has a code above that of "." (so "Fehler" gets one,
// "Fehler." and "Fehler!" do not).
QString messageWithFullStop(const QString& message);

// The text of an exception as the user reads it.
QString exceptionMessage(const std::exception_ptr& error);

// Shows the default error message box: caption "tarnwick 2005", error icon,
// OK, the message with the full-stop rule. Goes through the modal seam.
void showErrorMessage(const QString& message);

// Shows the error currently being handled (call from inside a catch block).
void showCurrentException();

// Installs Qt's German translations, so the stock dialogs and buttons (file
// and print dialogs, "Abbrechen", "Ja") read German like the rest of the
// program. Returns false when the translation file is not installed; the
// program then runs with Qt's English texts.
bool installGermanTranslations(QCoreApplication& app);

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Delivers the event; an exception thrown by any handler ends here and
    // is shown once. The application goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs f and shows any error it throws with the default display. For work
// started outside the event dispatch (the entry point, tests).
template <class F> void runGuarded(F&& f) {
    try {
        f();
    } catch (...) {
        showCurrentException();
    }
}
