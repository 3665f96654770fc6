#pragma once
// The dataset: runs its command text (or opens a table by name) on its
// connection and holds the whole result client-side in a ResultStore, with a
// current row that First/Next/Eof walk. TDataSource binds a dataset to the
// grid and the cell viewer.

#include "data/adoconnection.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include "data/rowwriter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <exception>
#include <functional>
#include <memory>

class TADODataSet;

struct TFieldDef {
    QString Name;
    TFieldType DataType = ftUnknown;
    int Size = 0; // characters, bytes, or digits after the point (BCD); 0 for fixed kinds and blobs
    int FieldNo = 0;      // 1-based position
    int Precision = 0;    // digits (numeric kinds)
    int Scale = 0;        // digits after the point; fraction digits of datetime2 and time
    QString TypeName;     // the server's name of the type, when the driver gave it
    bool ClrType = false; // a CLR type (geography, hierarchyid, ...): bytes shown in hex
};

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// A field of the dataset's current row. Cheap to copy; valid while the
// dataset stays open.
class TField {
public:
    TField(const TADODataSet* dataSet, int index) : m_dataSet(dataSet), m_index(index) {}

    int Index() const { return m_index; }
    QString FieldName() const;
    TFieldType DataType() const;
    int Size() const;
    bool IsNull() const;
    QVariant Value() const;    // invalid QVariant for null
    QString AsString() const;  // "" for null; see ResultStore::text
    qint64 AsLargeInt() const; // 0 for null
    double AsFloat() const;    // 0 for null
    bool AsBoolean() const;    // false for null
    // Sets the value in the current row; on a browsed row of a query result
    // this starts editing it (see TADODataSet::Edit).
    void setValue(const QVariant& value) const;
    // Sets the value in the current row to the source field's current value,
    // the same as setValue(source.Value()).
    void setValue(const TField& source) const;

private:
    friend class TADODataSet;
    const TADODataSet* m_dataSet;
    int m_index;
};

class TADODataSet : public QObject {
    Q_OBJECT
public:
    explicit TADODataSet(QObject* parent = nullptr);
    ~TADODataSet() override;

    TADOConnection* Connection() const { return m_connection; }
    void setConnection(TADOConnection* connection);

    QString CommandText() const { return m_commandText; }
    void setCommandText(const QString& text); // closes the dataset first
    TCommandType CommandType() const { return m_commandType; }
    void setCommandType(TCommandType type) { m_commandType = type; }
    int CommandTimeout() const { return m_commandTimeout; } // seconds, 0: none; 30 default
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
    int MaxRecords() const { return m_maxRecords; } // 0: no limit
    void setMaxRecords(int maxRecords) { m_maxRecords = maxRecords; }
    TCursorLocation CursorLocation() const { return m_cursorLocation; }
    void setCursorLocation(TCursorLocation location) { m_cursorLocation = location; }
    TCursorType CursorType() const { return m_cursorType; }
    void setCursorType(TCursorType type) { m_cursorType = type; }
    TADOLockType LockType() const { return m_lockType; }
    void setLockType(TADOLockType type) { m_lockType = type; }

    // Runs the command text on the connection (opening the connection with its
    // connection string when it is closed) and fetches the first result set
    // whole. Raises NoResultSetError when the text produced none. AfterOpen
    // runs once the dataset is open.
    void Open();
    void Close(); // never raises
    // Opens the dataset like Open, but runs the statement and fetches the
    // rows on the connection's worker thread and returns at once. The
    // dataset becomes active with the first rows (AfterOpen runs then), and
    // rows fetched later are appended as they arrive (rowsAppended).
    // `finished` runs once the statement has ended: with its error (the
    // errors Open raises; NoResultSetError when there was no result set),
    // or cancelled, when the connection's Cancel stopped it, keeping the
    // rows read until then.
    //
    // Every result set of the text arrives: this dataset holds the first,
    // each further one a dataset of its own (Result(i), resultAdded), owned
    // by this one and closed and freed with it. An error does not drop what
    // was read: the rows before it stay, the result it cut short is
    // Incomplete(), and `finished` gets the error; the connection's
    // Messages() hold it in order with the other messages.
    using Finished = std::function<void(std::exception_ptr error, bool cancelled)>;
    void OpenAsync(Finished finished);
    // Opens the dataset with the texts of a script run one after the other
    // on the worker (each as often as it repeats), without waiting for this
    // thread between them. Every result set of every text arrives as with
    // OpenAsync: the first in this dataset, each further one a dataset of its
    // own. `events` tells when each text starts and ends (with its error; an
    // error ends that text only). `finished` runs once the script has ended:
    // with a lost session's error, or cancelled; a script that returned no
    // rows is no error.
    void OpenScriptAsync(const QList<data::ScriptStep>& steps, data::ScriptEvents events,
                         Finished finished);
    // The result sets of the last open: 1 + the further ones (0 while none
    // has arrived). Result(0) is this dataset.
    int ResultCount() const;
    TADODataSet* Result(int i);
    // An error or a cancel ended this result before its last row; the rows
    // read before stay.
    bool Incomplete() const { return m_incomplete; }
    bool Fetching() const { return m_fetching; }
    bool Active() const { return m_store != nullptr; }
    void setActive(bool active);
    TDataSetState State() const { return m_state; }

    // Navigation over the fetched rows.
    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const;
    bool Bof() const;
    qint64 RecordCount() const;
    qint64 RecNo() const { return m_row + 1; } // 1-based; 0 when there is no current row
    void setRecNo(qint64 recNo);

    int FieldCount() const { return int(m_fieldDefs.size()); }
    // The server's name of a field's type ("geography"). Where the driver gave
    // none for a CLR type, the catalog is asked by the field's base table and
    // column (once; the answer is kept); "" when neither tells.
    QString ServerTypeName(int index);
    const QList<TFieldDef>& FieldDefs() const { return m_fieldDefs; }
    TField Fields(int i) const {
        if (!m_store || i < 0 || i >= FieldCount())
            refuseField(i);
        return TField(this, i);
    }
    TField FieldByName(const QString& name) const; // StateError when there is no such field
    // Index of the field with that name (case-insensitive), -1 when absent.
    int FieldIndex(const QString& name) const;

    // 25 + 16 per field, fixed when the dataset opens, kept after closing; 0
    // when it was never opened.
    int RecordSize() const { return m_recordSize; }

    // Editing. A dataset opened on a table by name (command type table)
    // collects appended rows: Append adds an empty row, Post completes it,
    // UpdateBatch hands all posted rows to the provider and tells it the batch
    // is complete. With a server-side
    // cursor the rows live at the provider: every kServerCursorBlock posted
    // rows go to it and leave the dataset, so appending any number of rows
    // holds one block here (the rows sent are no longer navigable).
    //
    // A query result writes each row back to its base table when the row is
    // posted: Edit starts changing the current row (setting a field value
    // does too), Insert adds an empty row before the current one, Append one
    // at the end; Post writes the changed or new row (moving to another row
    // posts too), Cancel drops the changes, Delete deletes the current row on
    // the server at once. A result that cannot be written back raises
    // NotUpdatableError on Edit, Insert, Append and Delete. A row that
    // changed or vanished on the server in between raises
    // UpdateConflictError, and the edit stays as it is.
    void Edit();
    void Insert();
    void Append();
    void Post();
    void Cancel();
    void Delete();
    void UpdateBatch();
    static constexpr qint64 kServerCursorBlock = 16384;
    // True while the current row has changes that are not posted.
    bool Modified() const;
    // Why the rows cannot be written back, or "" when they can (asks the
    // server once per opening).
    QString notUpdatableReason();

    // Suspension of bound controls; the count never goes below zero.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }
    int DisableCount() const { return m_disableCount; }

    // Runs after every successful open.
    std::function<void(TADODataSet*)> AfterOpen;

    // The fetched rows, for readers that take values directly (grid, export).
    std::shared_ptr<const data::ResultStore> store() const { return m_store; }
    qint64 currentRow() const { return m_row; } // 0-based, -1 when none

    // Used by TField.
    const data::ResultStore* storeForRead() const { return m_store.get(); }
    void setFieldValue(int index, const QVariant& value);
    void setFieldFrom(int index, const TField& source);
    [[noreturn]] void refuseField(int i) const;

signals:
    void activeChanged(bool active);
    // The current row moved or the data changed; not sent while controls are
    // disabled (EnableControls to zero sends dataChanged instead).
    void currentRowChanged(qint64 row);
    void dataChanged();
    // Single rows: inserted at, removed from, or changed in place (values or
    // state); not sent while controls are disabled.
    void rowInserted(qint64 row);
    void rowRemoved(qint64 row);
    void rowChanged(qint64 row);
    void stateChanged(TDataSetState state);
    // Rows [from, to) arrived while the dataset is being fetched; not sent
    // while controls are disabled.
    void rowsAppended(qint64 from, qint64 to);
    // A further result set of the running text arrived (index >= 1); its
    // dataset is active with its first rows, more follow through its own
    // rowsAppended.
    void resultAdded(TADODataSet* result, int index);

private:
    void openAsync(const QList<data::ScriptStep>& steps,
                   std::shared_ptr<const data::ScriptEvents> events, Finished finished);
    // Opens on `store`; `incomplete` is in place before anyone hears of it
    // (AfterOpen's handler may run the event loop, and the run's end with it).
    void becomeActive(std::shared_ptr<data::ResultStore> store, bool incomplete = false);
    struct Arrival {
        int index = 0;                   // of the result set
        QList<data::ColumnInfo> columns; // with its first rows
        std::shared_ptr<data::ResultStore::Chunk> chunk;
        bool ended = false;   // the last rows of the result set
        bool complete = true; // when ended: read to its end
    };
    void receiveRows(int generation, const Arrival& arrival);
    void takeRows(const Arrival& arrival);
    void dropResults();
    void requireActive() const;
    void moveTo(qint64 row);
    void buildFieldDefs();
    bool writesBack() const { return m_tableName.isEmpty(); }
    const data::RowWriter& writer();
    void insertAt(qint64 row);
    void setState(TDataSetState state);
    data::ChangeResult runChange(const data::SqlStatement& statement, bool atMostOne);
    QVariant paramValue(data::ResultStore::RowSource source, int col) const;
    void postEdit();
    void postInsert();
    void sendAppendedRows();

    QPointer<TADOConnection> m_connection;
    QString m_commandText;
    TCommandType m_commandType = cmdText;
    int m_commandTimeout = 30;
    int m_maxRecords = 0;
    TCursorLocation m_cursorLocation = clUseClient;
    TCursorType m_cursorType = ctKeyset;
    TADOLockType m_lockType = ltOptimistic;

    std::shared_ptr<data::ResultStore> m_store;
    QList<TFieldDef> m_fieldDefs;
    qint64 m_row = -1;
    bool m_eof = true;
    bool m_bof = true;
    int m_recordSize = 0;
    int m_disableCount = 0;
    bool m_fetching = false;
    bool m_incomplete = false;
    QList<TADODataSet*> m_results; // the further result sets, in order
    int m_generation = 0;          // of the last OpenAsync: rows of an earlier one are dropped
    TDataSetState m_state = dsInactive;
    qint64 m_firstUnsentRow = 0; // rows from here on were appended and not yet sent
    QString m_tableName;         // for cmdTable: the table rows are appended to
    // Writing back (query results).
    std::unique_ptr<data::RowWriter> m_writer;
    QString m_notUpdatable;                    // why not, once known
    data::ResultStore::RowSource m_editOrigin; // the row as read, while editing
    QList<bool> m_changed;                     // fields set since Edit/Insert
};

// Binds a dataset to data-aware views.
class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr);
    TADODataSet* DataSet() const { return m_dataSet; }
    void setDataSet(TADODataSet* dataSet);

signals:
    // The bound dataset changed, opened, closed or resumed its controls.
    void dataSetChanged();
    void currentRowChanged(qint64 row);
    void rowInserted(qint64 row);
    void rowRemoved(qint64 row);
    void rowChanged(qint64 row);
    void rowsAppended(qint64 from, qint64 to);
    // A further result set of the running text arrived (index >= 1); its
    // dataset is active with its first rows, more follow through its own
    // rowsAppended.
    void resultAdded(TADODataSet* result, int index);

private:
    QPointer<TADODataSet> m_dataSet;
};
