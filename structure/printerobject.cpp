#include "structure/printerobject.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <memory>

namespace printerobject {
namespace {

PrinterSource& source() {
    static PrinterSource s;
    return s;
}

std::unique_ptr<QPrinter>& instance() {
    static std::unique_ptr<QPrinter> p;
    return p;
}

// Name of the printer the user selected; empty until one was selected, which
// means the default printer.
QString& selectedName() {
    static QString name;
    return name;
}

QString defaultPrinterName() {
    if (source().defaultName)
        return source().defaultName();
    return QPrinterInfo::defaultPrinterName();
}

} // namespace

QPrinter& printer() {
    auto& p = instance();
    if (!p)
        p = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *p;
}

QStringList printers() {
    if (source().names)
        return source().names();
    return QPrinterInfo::availablePrinterNames();
}

int printerIndex() {
    const QStringList names = printers();
    if (names.isEmpty())
        return -1;
    QString name = selectedName();
    if (name.isEmpty() || !names.contains(name))
        name = defaultPrinterName();
    const int index = names.indexOf(name);
    return index >= 0 ? index : 0;
}

void setPrinterIndex(int index) {
    const QStringList names = printers();
    if (index < 0 || index >= names.size())
        return;
    selectedName() = names.at(index);
    // Only a printer the print system knows can drive the QPrinter; a name
    // from a test source is remembered without touching it.
    if (!QPrinterInfo::printerInfo(names.at(index)).isNull())
        printer().setPrinterName(names.at(index));
}

QPageLayout::Orientation orientation() {
    return printer().pageLayout().orientation();
}

void setOrientation(QPageLayout::Orientation orientation) {
    printer().setPageOrientation(orientation);
}

void recover() {
    auto& p = instance();
    if (!p)
        return;
    auto fresh = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!p->printerName().isEmpty())
        fresh->setPrinterName(p->printerName());
    fresh->setOutputFormat(p->outputFormat());
    fresh->setOutputFileName(p->outputFileName());
    fresh->setResolution(p->resolution());
    fresh->setPageLayout(p->pageLayout());
    p = std::move(fresh);
}

void setPrinterSource(PrinterSource s) {
    source() = std::move(s);
    selectedName().clear();
}

} // namespace printerobject
