#include "data/adodataset.h"

#include <QElapsedTimer>

namespace {
data::QueryOptions optionsOf(int timeout, int maxRecords) {
    data::QueryOptions o;
    o.commandTimeout = timeout;
    o.maxRecords = maxRecords < 0 ? 0 : maxRecords;
    return o;
}
} // namespace

// --- TField -----------------------------------------------------------------

QString TField::FieldName() const {
    return m_dataSet->FieldDefs().at(m_index).Name;
}

TFieldType TField::DataType() const {
    return m_dataSet->FieldDefs().at(m_index).DataType;
}

int TField::Size() const {
    return m_dataSet->FieldDefs().at(m_index).Size;
}

bool TField::IsNull() const {
    const data::ResultStore* s = m_dataSet->storeForRead();
    return !s || s->isNull(m_dataSet->currentRow(), m_index);
}

QVariant TField::Value() const {
    const data::ResultStore* s = m_dataSet->storeForRead();
    return s ? s->value(m_dataSet->currentRow(), m_index) : QVariant();
}

QString TField::AsString() const {
    const data::ResultStore* s = m_dataSet->storeForRead();
    return s ? s->text(m_dataSet->currentRow(), m_index) : QString();
}

qint64 TField::AsLargeInt() const {
    const data::ResultStore* s = m_dataSet->storeForRead();
    if (!s)
        return 0;
    const auto kind = s->column(m_index).kind;
    if (kind == data::StorageKind::Decimal || kind == data::StorageKind::Double ||
        data::isVariable(kind))
        return qint64(s->real(m_dataSet->currentRow(), m_index));
    return s->integer(m_dataSet->currentRow(), m_index);
}

double TField::AsFloat() const {
    const data::ResultStore* s = m_dataSet->storeForRead();
    return s ? s->real(m_dataSet->currentRow(), m_index) : 0.0;
}

bool TField::AsBoolean() const {
    return AsLargeInt() != 0;
}

void TField::setValue(const QVariant& value) const {
    const_cast<TADODataSet*>(m_dataSet)->setFieldValue(m_index, value);
}

void TField::setValue(const TField& source) const {
    const_cast<TADODataSet*>(m_dataSet)->setFieldFrom(m_index, source);
}

// --- TADODataSet ------------------------------------------------------------

TADODataSet::TADODataSet(QObject* parent) : QObject(parent) {}

TADODataSet::~TADODataSet() {
    if (m_fetching && m_connection)
        m_connection->waitIdle();
    if (m_connection)
        m_connection->detach(this);
}

void TADODataSet::setConnection(TADOConnection* connection) {
    if (m_connection == connection)
        return;
    Close();
    if (m_connection)
        m_connection->detach(this);
    m_connection = connection;
}

void TADODataSet::setCommandText(const QString& text) {
    Close();
    m_commandText = text;
}

void TADODataSet::setActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

void TADODataSet::Open() {
    if (Active())
        return;
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    TADOConnection& conn = *m_connection;
    conn.beginOperation();
    data::MessageList messages, all;
    std::shared_ptr<data::ResultStore> store;
    bool complete = true;
    dropResults();
    try {
        data::ProviderConnection& session = conn.session();
        conn.beginOperation(); // the open's own messages (database change) are not this one's
        data::QueryOptions options = optionsOf(m_commandTimeout, m_maxRecords);
        options.message = [&all](const data::DiagRecord& r) { all.append(r); };
        if (m_commandType == cmdTable || m_commandType == cmdTableDirect) {
            store = session.openTable(m_commandText, options, messages);
            m_tableName = m_commandText;
        } else {
            // The first result set is kept also when an error follows its rows.
            options.resultEnded = [&](const std::shared_ptr<data::ResultStore>& result,
                                      bool whole) {
                if (!store) {
                    store = result;
                    complete = whole;
                }
            };
            store = session.query(m_commandText, options, messages);
            m_tableName.clear();
        }
    } catch (const data::DataError& e) {
        conn.setMessages(all);
        conn.handleFailure(e);
        if (store)
            becomeActive(std::move(store), !complete);
        throw;
    }
    conn.endOperation(messages);
    conn.setMessages(all);
    if (!store)
        throw data::NoResultSetError();
    becomeActive(std::move(store), !complete);
}

void TADODataSet::becomeActive(std::shared_ptr<data::ResultStore> store, bool incomplete) {
    m_store = std::move(store);
    m_incomplete = incomplete;
    m_connection->attach(this);
    buildFieldDefs();
    m_recordSize = 25 + 16 * int(m_fieldDefs.size());
    m_firstUnsentRow = m_store->rowCount();
    m_writer.reset();
    m_notUpdatable.clear();
    m_changed.clear();
    m_state = dsBrowse;
    m_row = m_store->rowCount() > 0 ? 0 : -1;
    m_bof = true;
    m_eof = m_store->rowCount() == 0;
    emit activeChanged(true);
    if (!ControlsDisabled())
        emit dataChanged();
    if (AfterOpen)
        AfterOpen(this);
}

namespace {
// Rows go from the worker to the dataset at most this often (besides the
// first rows, sent at once, and the last).
constexpr qint64 kPublishIntervalMs = 100;
} // namespace

void TADODataSet::OpenAsync(Finished finished) {
    openAsync({}, nullptr, std::move(finished));
}

void TADODataSet::OpenScriptAsync(const QList<data::ScriptStep>& steps, data::ScriptEvents events,
                                  Finished finished) {
    openAsync(steps, std::make_shared<const data::ScriptEvents>(std::move(events)),
              std::move(finished));
}

void TADODataSet::openAsync(const QList<data::ScriptStep>& steps,
                            std::shared_ptr<const data::ScriptEvents> events, Finished finished) {
    if (Active() || m_fetching)
        throw data::StateError(QStringLiteral("Die Datenmenge ist bereits geöffnet"));
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    const bool table = m_commandType == cmdTable || m_commandType == cmdTableDirect;
    const QString text = m_commandText;
    const data::QueryOptions options = optionsOf(m_commandTimeout, m_maxRecords);
    const int generation = ++m_generation;
    m_tableName = table ? text : QString();
    // The worker tells whether the text produced a result set.
    auto produced = std::make_shared<bool>(false);
    // The dataset waits for its worker before it goes; calls still queued
    // then find it gone.
    QPointer<TADODataSet> self(this);
    // Rows go through the connection's hand-off, in order with the
    // statement's messages and its end: the end never overtakes rows.
    data::Handoff* handoff = &m_connection->handoff();
    auto work = [self, handoff, generation, table, text, options, produced, steps,
                 events](data::ProviderConnection& session, const std::atomic<bool>& cancelled,
                         data::MessageList& messages, const TADOConnection::Reporter& report) {
        int index = 0;                              // of the result set being read
        const data::ResultStore* current = nullptr; // its store, once rows came
        bool first = true;                          // nothing of it handed over yet
        QElapsedTimer since;
        // Hands the rows fetched since the last time to the dataset's thread;
        // the worker never touches them again.
        // The block still being filled goes along as a copy only when no
        // complete block does (the first rows, and rows that trickle in):
        // while rows stream in, only whole blocks move and nothing is copied.
        auto publish = [&](data::ResultStore& store, bool last, bool complete) {
            if (&store != current) {
                current = &store;
                first = true;
            }
            Arrival arrival;
            arrival.index = index;
            arrival.chunk = store.takeNewRows(last, first || !store.completeBlocksPending());
            arrival.ended = last;
            arrival.complete = complete;
            if (!arrival.chunk && !first && !last)
                return;
            // The run's first rows are shown at once; what follows them is
            // picked up at the hand-off's pace.
            const bool firstOfRun = first && index == 0;
            if (first)
                arrival.columns = store.columns();
            first = false;
            since.start();
            auto deliver = [self, generation, arrival] {
                if (self)
                    self->receiveRows(generation, arrival);
            };
            if (firstOfRun)
                handoff->postNow(std::move(deliver));
            else
                handoff->post(std::move(deliver));
        };
        data::QueryOptions o = options;
        o.cancelled = &cancelled;
        o.message = report;
        o.progress = [&](data::ResultStore& store) {
            if (&store != current || first || since.elapsed() >= kPublishIntervalMs)
                publish(store, false, true);
        };
        // Runs one text; the result sets of every text of a script count on
        // from those before, each a dataset of its own after the first.
        auto runOne = [&](const QString& one) {
            bool ended = false; // a result set of this text was handed over
            o.resultEnded = [&](const std::shared_ptr<data::ResultStore>& store, bool complete) {
                *produced = true;
                ended = true;
                publish(*store, true, complete);
                ++index;
                current = nullptr;
            };
            // A provider that hands over only the first result (or a table)
            // returns it without calling resultEnded.
            const std::shared_ptr<data::ResultStore> store =
                table ? session.openTable(one, o, messages) : session.query(one, o, messages);
            if (store && !ended) {
                *produced = true;
                publish(*store, true, !cancelled.load());
                ++index;
                current = nullptr;
            }
        };
        if (events)
            data::runScriptSteps(*handoff, steps, events, cancelled, runOne);
        else
            runOne(text);
    };
    auto done = [self, generation, produced, finished,
                 events](std::exception_ptr error, bool cancelled, data::MessageList messages) {
        if (!self || self->m_generation != generation) {
            if (finished)
                finished(error, cancelled);
            return;
        }
        TADODataSet& ds = *self;
        ds.m_fetching = false;
        if (ds.m_store)
            ds.m_firstUnsentRow = ds.m_store->rowCount();
        if (error) {
            try {
                std::rethrow_exception(error);
            } catch (const data::DataError& e) {
                if (ds.m_connection)
                    ds.m_connection->handleFailure(e);
            } catch (...) {
            }
        } else {
            if (ds.m_connection)
                ds.m_connection->endOperation(messages);
            // A script's texts need not return rows.
            if (!*produced && !cancelled && !events)
                error = std::make_exception_ptr(data::NoResultSetError());
        }
        if (finished)
            finished(error, cancelled);
    };
    dropResults();
    m_fetching = true;
    try {
        m_connection->runAsync(std::move(work), std::move(done));
    } catch (...) {
        m_fetching = false;
        throw;
    }
}

void TADODataSet::receiveRows(int generation, const Arrival& arrival) {
    if (!m_fetching || generation != m_generation)
        return;
    if (arrival.index == 0) {
        takeRows(arrival);
        return;
    }
    const int i = arrival.index - 1;
    if (i < m_results.size()) {
        m_results.at(i)->takeRows(arrival);
        return;
    }
    if (i != m_results.size() || arrival.columns.isEmpty())
        return; // results arrive in order, each first with its columns
    // A further result set: a dataset of its own over the same connection.
    auto* result = new TADODataSet(this);
    result->setObjectName(objectName() + QStringLiteral("_Result%1").arg(arrival.index + 1));
    result->m_connection = m_connection;
    result->m_commandTimeout = m_commandTimeout;
    result->m_maxRecords = m_maxRecords;
    result->m_cursorLocation = m_cursorLocation;
    result->m_cursorType = m_cursorType;
    result->m_lockType = m_lockType;
    m_results.append(result);
    result->takeRows(arrival);
    emit resultAdded(result, arrival.index);
}

void TADODataSet::takeRows(const Arrival& arrival) {
    if (!m_store) {
        auto store = std::make_shared<data::ResultStore>(arrival.columns);
        if (arrival.chunk)
            store->appendChunk(*arrival.chunk);
        becomeActive(std::move(store), arrival.ended && !arrival.complete);
    } else if (arrival.chunk) {
        const qint64 before = m_store->rowCount();
        m_store->appendChunk(*arrival.chunk);
        const qint64 after = m_store->rowCount();
        if (arrival.ended)
            m_incomplete = !arrival.complete; // before the signals below
        const bool firstRow = m_row < 0 && after > 0;
        if (firstRow)
            m_eof = false;
        if (!ControlsDisabled() && after > before)
            emit rowsAppended(before, after);
        // A result that opened empty gets its current row with its first
        // rows, and says so like every other move.
        if (firstRow)
            moveTo(0);
    }
    if (arrival.ended) {
        m_incomplete = !arrival.complete;
        m_firstUnsentRow = m_store->rowCount();
    }
}

int TADODataSet::ResultCount() const {
    return Active() ? 1 + int(m_results.size()) : 0;
}

TADODataSet* TADODataSet::Result(int i) {
    if (i == 0 && Active())
        return this;
    if (i < 1 || i > m_results.size())
        throw data::StateError(QStringLiteral("Ergebnismenge %1 existiert nicht").arg(i + 1));
    return m_results.at(i - 1);
}

void TADODataSet::dropResults() {
    const QList<TADODataSet*> results = std::exchange(m_results, {});
    for (TADODataSet* r : results) {
        r->Close();
        r->deleteLater(); // a view may still hold it while this signal is delivered
    }
}

void TADODataSet::buildFieldDefs() {
    m_fieldDefs.clear();
    const auto& cols = m_store->columns();
    for (int i = 0; i < cols.size(); ++i) {
        const data::ColumnInfo& c = cols.at(i);
        TFieldDef def;
        def.Name = c.name;
        def.DataType = c.type;
        def.Size = c.size;
        def.FieldNo = i + 1;
        def.Precision = c.precision;
        def.Scale = c.scale;
        def.TypeName = c.typeName;
        def.ClrType = c.clrType;
        m_fieldDefs.append(def);
    }
}

namespace {

QString bracketed(const QString& name) {
    return u'[' + QString(name).replace(u']', QStringLiteral("]]")) + u']';
}

} // namespace

QString TADODataSet::ServerTypeName(int index) {
    requireActive();
    if (index < 0 || index >= m_fieldDefs.size())
        return {};
    TFieldDef& def = m_fieldDefs[index];
    const data::ColumnInfo& c = m_store->column(index);
    if (!def.TypeName.isEmpty() || !def.ClrType || c.baseTable.isEmpty() ||
        c.baseColumn.isEmpty() || !m_connection)
        return def.TypeName;
    if (m_fetching)
        m_connection->waitIdle(); // one statement at a time on the connection
    QString object;
    for (const QString& part : {c.baseCatalog, c.baseSchema})
        if (!part.isEmpty())
            object += bracketed(part) + u'.';
    if (!c.baseCatalog.isEmpty() && c.baseSchema.isEmpty())
        object += u'.';
    object += bracketed(c.baseTable);
    auto literal = [](QString s) {
        return QStringLiteral("N'") + s.replace(u'\'', QStringLiteral("''")) + u'\'';
    };
    const QString catalogPrefix =
        c.baseCatalog.isEmpty() ? QString() : bracketed(c.baseCatalog) + u'.';
    const QString sql =
        QStringLiteral("SELECT t.name FROM %1sys.columns c JOIN %1sys.types t ON "
                       "t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID(%2) "
                       "AND c.name = %3")
            .arg(catalogPrefix, literal(object), literal(c.baseColumn));
    try {
        data::MessageList messages;
        const auto result =
            m_connection->session().query(sql, optionsOf(m_commandTimeout, 1), messages);
        if (result && result->rowCount() > 0 && !result->isNull(0, 0))
            def.TypeName = result->text(0, 0);
    } catch (const data::DataError&) {
        // No name is no error: the field is still shown as what it holds.
    }
    return def.TypeName;
}

void TADODataSet::Close() {
    if (m_fetching && m_connection)
        m_connection->waitIdle(); // the statement ends before its rows go
    dropResults();
    if (!Active())
        return;
    m_store.reset();
    m_writer.reset();
    m_notUpdatable.clear();
    m_changed.clear();
    m_fieldDefs.clear();
    m_row = -1;
    m_eof = m_bof = true;
    m_state = dsInactive;
    if (m_connection)
        m_connection->detach(this);
    emit activeChanged(false);
    if (!ControlsDisabled())
        emit dataChanged();
}

void TADODataSet::requireActive() const {
    if (!Active())
        throw data::StateError(
            QStringLiteral("Operation bei geschlossener Datenmenge nicht ausführbar"));
}

void TADODataSet::moveTo(qint64 row) {
    m_row = row;
    if (!ControlsDisabled())
        emit currentRowChanged(row);
}

void TADODataSet::First() {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    const bool empty = m_store->rowCount() == 0;
    m_bof = true;
    m_eof = empty;
    moveTo(empty ? -1 : 0);
}

void TADODataSet::Next() {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    m_bof = false;
    if (m_row + 1 >= m_store->rowCount()) {
        m_eof = true;
        return;
    }
    moveTo(m_row + 1);
}

void TADODataSet::Prior() {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    m_eof = false;
    if (m_row <= 0) {
        m_bof = true;
        return;
    }
    moveTo(m_row - 1);
}

void TADODataSet::Last() {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    const qint64 n = m_store->rowCount();
    m_eof = true;
    m_bof = n == 0;
    moveTo(n - 1);
    m_eof = n == 0;
}

bool TADODataSet::Eof() const {
    return !Active() || m_eof;
}

bool TADODataSet::Bof() const {
    return !Active() || m_bof;
}

qint64 TADODataSet::RecordCount() const {
    return Active() ? m_store->rowCount() : 0;
}

void TADODataSet::setRecNo(qint64 recNo) {
    requireActive();
    if (recNo < 1 || recNo > m_store->rowCount())
        throw data::StateError(QStringLiteral("Datensatz %1 existiert nicht").arg(recNo));
    // Leaving an edited row posts it; posting keeps the rows where they are,
    // so recNo still names the target.
    if (m_state != dsBrowse && recNo - 1 != m_row)
        Post();
    m_bof = m_eof = false;
    moveTo(recNo - 1);
}

void TADODataSet::refuseField(int i) const {
    requireActive();
    throw data::StateError(QStringLiteral("Feldindex %1 außerhalb des gültigen Bereichs").arg(i));
}

int TADODataSet::FieldIndex(const QString& name) const {
    return m_store ? m_store->columnIndex(name) : -1;
}

TField TADODataSet::FieldByName(const QString& name) const {
    requireActive();
    const int i = FieldIndex(name);
    if (i < 0)
        throw data::StateError(QStringLiteral("Feld '%1' nicht gefunden").arg(name));
    return TField(this, i);
}

void TADODataSet::setState(TDataSetState state) {
    if (m_state == state)
        return;
    m_state = state;
    if (!ControlsDisabled())
        emit stateChanged(state);
}

const data::RowWriter& TADODataSet::writer() {
    requireActive();
    if (!m_writer) {
        if (!m_notUpdatable.isEmpty())
            throw data::NotUpdatableError(m_notUpdatable);
        if (!m_connection)
            throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
        try {
            m_writer = std::make_unique<data::RowWriter>(
                m_connection->session().writeTarget(*m_store), m_store->columns());
        } catch (const data::NotUpdatableError& e) {
            m_notUpdatable = e.message();
            throw;
        } catch (const data::DataError& e) {
            m_connection->handleFailure(e);
            throw;
        }
    }
    return *m_writer;
}

QString TADODataSet::notUpdatableReason() {
    try {
        writer();
    } catch (const data::DataError& e) {
        return e.message();
    }
    return {};
}

bool TADODataSet::Modified() const {
    return m_state != dsBrowse && m_changed.contains(true);
}

void TADODataSet::Edit() {
    requireActive();
    if (m_state != dsBrowse)
        return;
    if (m_row < 0)
        throw data::StateError(QStringLiteral("Kein aktueller Datensatz"));
    if (!writesBack()) {
        if (m_row < m_firstUnsentRow)
            throw data::StateError(QStringLiteral("Datensätze der Ergebnismenge können hier nicht "
                                                  "geändert werden"));
        setState(dsEdit);
        return;
    }
    writer();
    m_editOrigin = m_store->beginRowChange(m_row);
    m_changed = QList<bool>(FieldCount(), false);
    setState(dsEdit);
}

void TADODataSet::insertAt(qint64 row) {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    writer();
    const qint64 at = m_store->insertRow(row);
    m_changed = QList<bool>(FieldCount(), false);
    m_bof = m_eof = false;
    m_row = at;
    setState(dsInsert);
    if (!ControlsDisabled())
        emit rowInserted(at);
    moveTo(at);
}

void TADODataSet::Insert() {
    requireActive();
    if (!writesBack()) {
        Append();
        return;
    }
    if (m_state != dsBrowse)
        Post();
    insertAt(m_row < 0 ? 0 : m_row);
}

void TADODataSet::Append() {
    requireActive();
    if (writesBack()) {
        if (m_state != dsBrowse)
            Post();
        insertAt(m_store->rowCount());
        return;
    }
    if (m_state != dsBrowse)
        Post();
    m_store->appendRows(1);
    m_state = dsInsert;
    m_bof = m_eof = false;
    moveTo(m_store->rowCount() - 1);
}

void TADODataSet::setFieldFrom(int index, const TField& source) {
    // Rows appended for a provider take the value store to store; everything
    // else (editing a query result) goes the way of a variant.
    requireActive();
    const data::ResultStore* from = source.m_dataSet->storeForRead();
    const qint64 fromRow = source.m_dataSet->currentRow();
    if (writesBack() || !m_store || !from || m_row < 0 || fromRow < 0 || source.m_index < 0 ||
        source.m_index >= from->columnCount() || index < 0 || index >= m_store->columnCount() ||
        (m_state == dsBrowse && m_row < m_firstUnsentRow)) {
        setFieldValue(index, source.Value());
        return;
    }
    m_store->copyValue(m_row, index, *from, fromRow, source.m_index);
    if (m_state == dsBrowse)
        m_state = dsEdit;
}

void TADODataSet::setFieldValue(int index, const QVariant& value) {
    requireActive();
    if (m_row < 0)
        throw data::StateError(QStringLiteral("Kein aktueller Datensatz"));
    if (!writesBack()) {
        if (m_state == dsBrowse && m_row < m_firstUnsentRow)
            throw data::StateError(QStringLiteral("Datensätze der Ergebnismenge können hier nicht "
                                                  "geändert werden"));
        m_store->setValue(m_row, index, value);
        if (m_state == dsBrowse)
            m_state = dsEdit;
        return;
    }
    if (index < 0 || index >= FieldCount())
        throw data::StateError(
            QStringLiteral("Feldindex %1 außerhalb des gültigen Bereichs").arg(index));
    if (m_state == dsBrowse)
        Edit();
    m_store->setCell(m_row, index, value);
    m_changed[index] = true;
    if (!ControlsDisabled())
        emit rowChanged(m_row);
}

QVariant TADODataSet::paramValue(data::ResultStore::RowSource source, int col) const {
    // Decimals go as their exact digits; a double could miss the stored value.
    if (m_store->column(col).kind == data::StorageKind::Decimal) {
        const QString digits = m_store->sourceText(source, col);
        return digits.isEmpty() ? QVariant() : QVariant(digits);
    }
    // datetime2 and time past milliseconds go as text with every digit (ISO
    // 8601 with a T, which the server reads the same under every date format);
    // a QDateTime would cut them to milliseconds and miss the row.
    const data::ColumnInfo& info = m_store->column(col);
    if ((info.kind == data::StorageKind::DateTime || info.kind == data::StorageKind::Time) &&
        info.scale > 3) {
        QString text = m_store->sourceText(source, col);
        if (info.kind == data::StorageKind::DateTime && text.size() > 10)
            text[10] = QLatin1Char('T');
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    return m_store->sourceValue(source, col);
}

data::ChangeResult TADODataSet::runChange(const data::SqlStatement& statement, bool atMostOne) {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    try {
        return m_connection->session().executeChange(statement.text, statement.params, atMostOne);
    } catch (const data::DataError& e) {
        m_connection->handleFailure(e);
        throw;
    }
}

namespace {
const char* const kConflictText =
    "Der Datensatz wurde nicht gespeichert: er wurde seit dem Lesen auf dem Server geändert "
    "oder gelöscht. Die Änderungen bleiben erhalten; mit Esc werden sie verworfen";
}

void TADODataSet::postEdit() {
    QList<int> changed;
    for (int c = 0; c < m_changed.size(); ++c)
        if (m_changed.at(c))
            changed.append(c);
    if (!changed.isEmpty()) {
        const data::RowWriter& w = writer();
        const data::ResultStore::RowSource origin = m_editOrigin;
        const data::ResultStore::RowSource now = m_store->rowSource(m_row);
        const data::SqlStatement st = w.update(
            changed, [&](int c) { return paramValue(origin, c); },
            [&](int c) { return paramValue(now, c); });
        if (runChange(st, !w.byKey()).rowsAffected == 0)
            throw data::UpdateConflictError(QString::fromUtf8(kConflictText));
    }
    m_changed.clear();
    setState(dsBrowse);
    if (!ControlsDisabled())
        emit rowChanged(m_row);
}

void TADODataSet::postInsert() {
    const data::RowWriter& w = writer();
    QList<int> assigned;
    for (int c = 0; c < m_changed.size(); ++c)
        if (m_changed.at(c))
            assigned.append(c);
    const data::ResultStore::RowSource now = m_store->rowSource(m_row);
    const data::ChangeResult inserted =
        runChange(w.insert(assigned, [&](int c) { return paramValue(now, c); }), false);
    if (inserted.rowsAffected == 0)
        throw data::UpdateConflictError(QStringLiteral("Der Datensatz wurde nicht eingefügt"));
    // Read back what the server filled in: the identity, then the whole row
    // (defaults) when its key is known. The row is in the table either way,
    // so a failure to read it back is not an error of the insert.
    const int identity = w.identityColumn();
    if (identity >= 0 && inserted.rows && inserted.rows->rowCount() > 0 &&
        !inserted.rows->isNull(0, 0))
        m_store->setCell(m_row, identity, inserted.rows->value(0, 0));
    const data::ResultStore::RowSource after = m_store->rowSource(m_row);
    const data::SqlStatement reread = w.reread([&](int c) { return paramValue(after, c); });
    if (!reread.text.isEmpty()) {
        try {
            const data::ChangeResult row = runChange(reread, false);
            if (row.rows && row.rows->rowCount() == 1 &&
                row.rows->columnCount() == m_store->columnCount())
                for (int c = 0; c < m_store->columnCount(); ++c)
                    m_store->setCell(m_row, c, row.rows->value(0, c));
        } catch (const data::ConnectionError&) {
            throw;
        } catch (const data::DataError&) {
        }
    }
    m_changed.clear();
    setState(dsBrowse);
    if (!ControlsDisabled())
        emit rowChanged(m_row);
}

void TADODataSet::Post() {
    requireActive();
    if (!writesBack()) {
        m_state = dsBrowse;
        if (m_cursorLocation == clUseServer &&
            m_store->rowCount() - m_firstUnsentRow >= kServerCursorBlock)
            sendAppendedRows();
        if (!ControlsDisabled())
            emit dataChanged();
        return;
    }
    if (m_state == dsEdit)
        postEdit();
    else if (m_state == dsInsert)
        postInsert();
}

void TADODataSet::Cancel() {
    requireActive();
    if (!writesBack()) {
        if (m_state == dsInsert && m_row == m_store->rowCount() - 1) {
            // An appended row that was never posted disappears again.
            m_store->removeLastRow();
            const qint64 keep = m_store->rowCount();
            m_row = keep - 1;
        }
        m_state = dsBrowse;
        if (!ControlsDisabled())
            emit dataChanged();
        return;
    }
    if (m_state == dsEdit) {
        m_store->restoreRow(m_row, m_editOrigin);
        m_changed.clear();
        setState(dsBrowse);
        if (!ControlsDisabled())
            emit rowChanged(m_row);
    } else if (m_state == dsInsert) {
        const qint64 gone = m_row;
        m_store->removeRow(gone);
        m_changed.clear();
        m_state = dsBrowse;
        const qint64 n = m_store->rowCount();
        m_row = std::min(gone, n - 1);
        m_bof = m_row <= 0;
        m_eof = n == 0;
        if (!ControlsDisabled()) {
            emit rowRemoved(gone);
            emit stateChanged(dsBrowse);
        }
        moveTo(m_row);
    }
}

void TADODataSet::Delete() {
    requireActive();
    if (!writesBack())
        throw data::StateError(QStringLiteral("Datensätze können hier nicht gelöscht werden"));
    if (m_state == dsInsert) {
        Cancel();
        return;
    }
    if (m_state == dsEdit)
        Cancel();
    if (m_row < 0)
        throw data::StateError(QStringLiteral("Kein aktueller Datensatz"));
    const data::RowWriter& w = writer();
    const data::ResultStore::RowSource origin = m_store->rowSource(m_row);
    const data::SqlStatement st = w.remove([&](int c) { return paramValue(origin, c); });
    if (runChange(st, !w.byKey()).rowsAffected == 0)
        throw data::UpdateConflictError(QStringLiteral(
            "Der Datensatz wurde nicht gelöscht: er wurde seit dem Lesen auf dem Server geändert "
            "oder gelöscht"));
    const qint64 gone = m_row;
    m_store->removeRow(gone);
    const qint64 n = m_store->rowCount();
    m_row = std::min(gone, n - 1);
    m_bof = m_row <= 0;
    m_eof = n == 0;
    if (!ControlsDisabled())
        emit rowRemoved(gone);
    moveTo(m_row);
}

void TADODataSet::UpdateBatch() {
    requireActive();
    if (m_state != dsBrowse)
        Post();
    if (m_firstUnsentRow < m_store->rowCount())
        sendAppendedRows();
    if (m_tableName.isEmpty() || !m_connection)
        return;
    try {
        m_connection->session().endAppend(m_tableName);
    } catch (const data::DataError& e) {
        m_connection->handleFailure(e);
        throw;
    }
}

void TADODataSet::sendAppendedRows() {
    if (!m_connection)
        throw data::StateError(QStringLiteral("Die Eigenschaft Connection ist nicht gesetzt"));
    try {
        if (m_cursorLocation == clUseServer && m_firstUnsentRow == 0)
            m_connection->session().takeRows(m_tableName, *m_store);
        else
            m_connection->session().appendRows(m_tableName, *m_store, m_firstUnsentRow);
    } catch (const data::DataError& e) {
        m_connection->handleFailure(e);
        throw;
    }
    m_firstUnsentRow = m_store->rowCount();
    if (m_cursorLocation != clUseServer)
        return;
    // The provider has the rows now; the dataset starts the next block empty.
    m_store->clear();
    m_firstUnsentRow = 0;
    m_row = -1;
    m_bof = m_eof = true;
}

void TADODataSet::DisableControls() {
    ++m_disableCount;
}

void TADODataSet::EnableControls() {
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0)
        emit dataChanged();
}

// --- TDataSource ------------------------------------------------------------

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

void TDataSource::setDataSet(TADODataSet* dataSet) {
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        disconnect(m_dataSet, nullptr, this, nullptr);
    m_dataSet = dataSet;
    if (dataSet) {
        connect(dataSet, &TADODataSet::dataChanged, this, &TDataSource::dataSetChanged);
        connect(dataSet, &TADODataSet::currentRowChanged, this, &TDataSource::currentRowChanged);
        connect(dataSet, &TADODataSet::rowInserted, this, &TDataSource::rowInserted);
        connect(dataSet, &TADODataSet::rowRemoved, this, &TDataSource::rowRemoved);
        connect(dataSet, &TADODataSet::rowChanged, this, &TDataSource::rowChanged);
        connect(dataSet, &TADODataSet::rowsAppended, this, &TDataSource::rowsAppended);
        connect(dataSet, &TADODataSet::stateChanged, this, [this](TDataSetState) {
            emit rowChanged(m_dataSet ? m_dataSet->currentRow() : -1);
        });
    }
    emit dataSetChanged();
}
