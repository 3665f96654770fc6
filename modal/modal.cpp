#include "modal/modal.h"

#include <QDialog>
#include <QFileDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>

namespace modal {
namespace {
MessageHandler& messageHandler() {
    static MessageHandler h;
    return h;
}
FileHandler& fileHandler() {
    static FileHandler h;
    return h;
}
DialogHandler& dialogHandler() {
    static DialogHandler h;
    return h;
}
PrintHandler& printHandler() {
    static PrintHandler h;
    return h;
}
} // namespace

QMessageBox::StandardButton message(const MessageRequest& r) {
    if (messageHandler())
        return messageHandler()(r);
    QMessageBox box(r.icon, r.caption, r.text, r.buttons, r.parent);
    if (r.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(r.defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString fileName(const FileRequest& r) {
    if (fileHandler())
        return fileHandler()(r);
    QFileDialog dlg(r.parent, r.caption, r.directory, r.filter);
    setUpFileDialog(dlg, r);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    if (r.selectedFilter)
        *r.selectedFilter = dlg.selectedNameFilter();
    return dlg.selectedFiles().first();
}

void setUpFileDialog(QFileDialog& dlg, const FileRequest& r) {
    dlg.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name the dialog does not check reaches the caller, whose own error
    // then tells why the file cannot be opened.
    dlg.setFileMode(r.save || !r.mustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (r.save && !r.confirmOverwrite)
        dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!r.defaultSuffix.isEmpty())
        dlg.setDefaultSuffix(r.defaultSuffix);
    if (r.selectedFilter && !r.selectedFilter->isEmpty())
        dlg.selectNameFilter(*r.selectedFilter);
}

int exec(QDialog* dialog) {
    if (dialogHandler())
        return dialogHandler()(dialog);
    return dialog->exec();
}

bool print(PrintKind kind, QPrinter* printer, QWidget* parent) {
    if (printHandler())
        return printHandler()(kind, printer, parent);
    if (kind == PrintKind::PageSetup) {
        QPageSetupDialog dlg(printer, parent);
        return dlg.exec() == QDialog::Accepted;
    }
    QPrintDialog dlg(printer, parent);
    return dlg.exec() == QDialog::Accepted;
}

void setMessageHandler(MessageHandler h) {
    messageHandler() = std::move(h);
}
void setFileHandler(FileHandler h) {
    fileHandler() = std::move(h);
}
void setDialogHandler(DialogHandler h) {
    dialogHandler() = std::move(h);
}
void setPrintHandler(PrintHandler h) {
    printHandler() = std::move(h);
}

} // namespace modal
