#include "app/grid/uBlob.h"

#include "data/adodataset.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include "modal/modal.h"
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <algorithm>
#include <stdexcept>

namespace {

// Hides and unbinds both controls however the viewer's use ends.
struct UnbindOnExit {
    TFMBlob& viewer;
    ~UnbindOnExit() {
        viewer.DBImage->hide();
        viewer.DBImage->setDataField(QString());
        viewer.DBImage->clear();
        viewer.DBMemo->hide();
        viewer.DBMemo->setDataField(QString());
        viewer.DBMemo->clear();
    }
};

} // namespace

QVariant DataFieldLink::currentValue() const {
    TADODataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || !ds->Active() || ds->currentRow() < 0 || m_dataField.isEmpty())
        return {};
    if (m_fieldIndex >= 0 && m_fieldIndex < ds->FieldCount() &&
        ds->Fields(m_fieldIndex).FieldName() == m_dataField)
        return ds->Fields(m_fieldIndex).Value();
    return ds->FieldByName(m_dataField).Value();
}

TDBImage::TDBImage(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setScaledContents(false);
}

void TDBImage::LoadPicture() {
    const QVariant value = currentValue();
    const QByteArray bytes = value.toByteArray();
    QPixmap picture;
    // An empty field is an empty picture; any other content must be a bitmap file.
    if (!bytes.isEmpty() && !picture.loadFromData(bytes, "BMP"))
        throw std::runtime_error("Bitmap ist ungültig");
    setPixmap(picture);
    m_modified = false;
    m_bytes.clear();
}

void TDBImage::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        const QImage image = QGuiApplication::clipboard()->image();
        if (image.isNull())
            return;
        // Stored as the bitmap file the field holds.
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
        setPixmap(QPixmap::fromImage(image));
        m_bytes = bytes;
        m_modified = true;
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        setPixmap(QPixmap());
        m_bytes.clear();
        m_modified = true;
        return;
    }
    QLabel::keyPressEvent(event);
}

TDBMemo::TDBMemo(QWidget* parent) : TextPane(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(TextPane::NoWrap);
}

void TDBMemo::LoadMemo() {
    const QVariant value = currentValue();
    showText(value.isValid() ? value.toString() : QString());
}

bool TDBMemo::tooWideUnwrapped(const QString& text) const {
    // Some sixteen million pixels, measured with the widest letter of the font.
    constexpr qint64 kWidestLine = 16'000'000;
    const qint64 longest = kWidestLine / std::max(1, fontMetrics().maxWidth());
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        if (end - start > longest)
            return true;
        start = end + 1;
    }
    return false;
}

void TDBMemo::showText(const QString& text) {
    // Wrapped at the control's width, such a line is drawn as it is; the
    // horizontal scroll bar stays but has nothing to scroll.
    setLineWrapMode(tooWideUnwrapped(text) ? TextPane::WidgetWidth : TextPane::NoWrap);
    setPlainText(text);
}

TFMBlob::TFMBlob(TDataSource* source, QWidget* parent, Controls controls)
    : QDialog(parent), m_source(source) {
    setObjectName(QStringLiteral("FMBlob"));
    setWindowTitle(QStringLiteral("FMBlob"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setSizeGripEnabled(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    resize(381, 313);
    if (controls == Controls::Now)
        ensureBuilt();
}

void TFMBlob::ensureBuilt() {
    if (isBuilt())
        return;
    TDataSource* source = m_source.data();
    DBImage = new TDBImage(this);
    DBImage->setObjectName(QStringLiteral("DBImage"));
    DBImage->setGeometry(8, 8, 357, 269);
    DBImage->setDataSource(source);
    DBImage->hide();

    // Edits of the text change the current record like an edit in the grid
    // (see DBGridQueryCellClick); a result that cannot be changed shows it
    // read only.
    DBMemo = new TDBMemo(this);
    DBMemo->setObjectName(QStringLiteral("DBMemo"));
    DBMemo->setGeometry(8, 8, 357, 269);
    DBMemo->setDataSource(source);
    DBMemo->hide();
}

void TFMBlob::setVisible(bool visible) {
    // Made before the viewer shows, so they show along with it.
    if (visible)
        ensureBuilt();
    QDialog::setVisible(visible);
}

void TFMBlob::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the main window.
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void DBGridQueryCellClick(TFMBlob& viewer, TADODataSet* dataSet, int column) {
    // From the first click on, the viewer's controls exist, opened or not.
    viewer.ensureBuilt();
    if (!dataSet || !dataSet->Active() || column < 0 || column >= dataSet->FieldCount())
        return;
    const TField field = dataSet->Fields(column);
    const TFieldType type = field.DataType();
    if (!isBlobFieldType(type))
        return;
    UnbindOnExit unbind{viewer};
    if (type == ftBlob || type == ftGraphic || type == ftTypedBinary) {
        viewer.DBImage->setDataField(field.FieldName(), column);
        viewer.DBImage->LoadPicture();
        const bool editable = dataSet->notUpdatableReason().isEmpty();
        viewer.DBImage->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
        viewer.DBImage->show();
        modal::exec(&viewer);
        // A pasted or removed picture goes into the current record.
        if (editable && viewer.DBImage->Modified()) {
            const QByteArray bytes = viewer.DBImage->PictureBytes();
            dataSet->Fields(column).setValue(bytes.isEmpty() ? QVariant() : QVariant(bytes));
        }
        return;
    }
    viewer.DBMemo->setDataField(field.FieldName(), column);
    viewer.DBMemo->LoadMemo();
    viewer.DBMemo->setReadOnly(!dataSet->notUpdatableReason().isEmpty());
    viewer.DBMemo->document()->setModified(false);
    viewer.DBMemo->show();
    modal::exec(&viewer);
    // The changed text goes into the current record, which is then being
    // edited and is posted when the user leaves the row.
    if (!viewer.DBMemo->isReadOnly() && viewer.DBMemo->document()->isModified())
        dataSet->Fields(column).setValue(viewer.DBMemo->toPlainText());
}
