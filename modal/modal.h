#pragma once
// Every modal interaction of the program (message boxes, file dialogs, print
// dialogs, modal windows) goes through these functions. In normal use they
// show the real thing; a test installs a handler and answers without a
// blocking event loop, recording what would have been shown.

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QFileDialog;
class QPrinter;
class QWidget;

namespace modal {

struct MessageRequest {
    QWidget* parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

struct FileRequest {
    QWidget* parent = nullptr;
    bool save = false;
    QString caption;
    QString directory;     // initial folder or file
    QString filter;        // Qt filter text, ";;"-separated
    QString defaultSuffix; // without dot
    QString* selectedFilter = nullptr;
    bool confirmOverwrite = true; // save: ask before replacing an existing file
    bool mustExist = true;        // open: accept only the name of an existing file
};

enum class PrintKind { PrintDialog, PageSetup };

using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
using FileHandler = std::function<QString(const FileRequest&)>; // "" = cancelled
using DialogHandler = std::function<int(QDialog*)>;             // QDialog::DialogCode
using PrintHandler = std::function<bool(PrintKind, QPrinter*, QWidget*)>;

QMessageBox::StandardButton message(const MessageRequest& request);
QString fileName(const FileRequest& request);
int exec(QDialog* dialog);
bool print(PrintKind kind, QPrinter* printer, QWidget* parent);

// Sets up a file dialog as the request asks (what fileName shows).
void setUpFileDialog(QFileDialog& dialog, const FileRequest& request);

// Install a handler; an empty function restores the real dialogs.
void setMessageHandler(MessageHandler handler);
void setFileHandler(FileHandler handler);
void setDialogHandler(DialogHandler handler);
void setPrintHandler(PrintHandler handler);

} // namespace modal
