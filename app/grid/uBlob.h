#pragma once
// The cell viewer "FMBlob": shows the whole text or the picture of one large
// object cell of the result grid. One window lives for the whole run; its
// two controls are bound to a field only while it is shown.

#include "controls/textpane.h"
#include "data/adodataset.h"
#include <QDialog>
#include <QLabel>
#include <QPointer>

// The binding of a data-aware control: a data source and the field of its
// dataset's current row that the control shows.
class DataFieldLink {
public:
    void setDataSource(TDataSource* source) { m_source = source; }
    TDataSource* DataSource() const { return m_source; }
    QString DataField() const { return m_dataField; }
    // Binds the control to the field with this name at this position in the
    // dataset (an empty name unbinds). The position tells apart fields that
    // share a name, as joined tables' columns often do.
    void setDataField(const QString& name, int index = -1) {
        m_dataField = name;
        m_fieldIndex = name.isEmpty() ? -1 : index;
    }

protected:
    // The bound field's value in the current row; invalid when unbound,
    // closed or null.
    QVariant currentValue() const;

private:
    QPointer<TDataSource> m_source;
    QString m_dataField;
    int m_fieldIndex = -1;
};

// A picture control; the content is loaded only by LoadPicture (no
// automatic display).
class TDBImage : public QLabel, public DataFieldLink {
    Q_OBJECT
public:
    explicit TDBImage(QWidget* parent = nullptr);
    // Loads the field's bytes as a Windows bitmap; anything else raises
    // "Bitmap ist ungültig".
    void LoadPicture();
    // A picture pasted (Ctrl+V) or removed (Del) since LoadPicture, and its
    // bytes as a Windows bitmap (empty when removed).
    bool Modified() const { return m_modified; }
    QByteArray PictureBytes() const { return m_bytes; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_modified = false;
    QByteArray m_bytes;
};

// A multi-line text control; LoadMemo loads the field's text.
class TDBMemo : public TextPane, public DataFieldLink {
    Q_OBJECT
public:
    explicit TDBMemo(QWidget* parent = nullptr);
    void LoadMemo();
    // Shows the text, unwrapped unless a line is too wide for that (below).
    void showText(const QString& text);
    // Whether a line of the text is too wide to show unwrapped: one screen
    // line of tens of millions of pixels cannot be read by scrolling
    // sideways, and every paint measures such a line up to the shown part.
    bool tooWideUnwrapped(const QString& text) const;
};

class TFMBlob : public QDialog {
    Q_OBJECT
public:
    // When the two controls are built: at once, or when the viewer is first
    // shown or a grid cell is first clicked (or ensureBuilt is called). The viewer made
    // hidden at start-up leaves them until then.
    enum class Controls { Now, WhenShown };

    explicit TFMBlob(TDataSource* source, QWidget* parent = nullptr,
                     Controls controls = Controls::Now);

    // Builds the controls if they are not built yet; the pointers below are
    // set from then on.
    void ensureBuilt();
    bool isBuilt() const { return DBImage != nullptr; }
    void setVisible(bool visible) override;

    TDBImage* DBImage = nullptr;
    TDBMemo* DBMemo = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<TDataSource> m_source; // for controls built later
};

// The grid's cell click: for a large-object column, binds the matching
// control of the viewer to the field, loads the current row's content and
// shows the viewer modally; before and after, both controls are hidden and
// unbound. Binary, graphic and typed binary fields use the picture control,
// the other large-object kinds the text control; other columns open nothing.
void DBGridQueryCellClick(TFMBlob& viewer, TADODataSet* dataSet, int column);
