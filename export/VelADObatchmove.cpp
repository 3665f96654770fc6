#include "export/VelADObatchmove.h"

#include "export/desktopprovider.h"
#include "export/fileio.h"
#include "export/mdbprovider.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <exception>
#include <memory>
#include <optional>

namespace {

constexpr const char* extendedProperties[] = {
    "",
    "",
    "dBASE III",
    "dBASE IV",
    "dBASE 5.0",
    "Paradox 3.x",
    "Paradox 4.x",
    "Paradox 5.x",
    "FoxPro 2.0",
    "FoxPro 2.5",
    "FoxPro 2.6",
    "FoxPro 3.0",
    "Excel 3.0",
    "Excel 4.0",
    "Excel 5.0",
    "Excel 8.0",
    "HTML Import",
    "HTML Export",
    "Text",
};

constexpr qint32 localeIdentifiers[kLocaleIdentifierCount] = {
    1033, 2052,  133124, 1028, 197636, 1050, 1029,  1061, 1036, 66615, 66567,
    1038, 66574, 1039,   1041, 66577,  1042, 66578, 1062, 1063, 1071,  1044,
    1045, 1048,  1051,   1060, 1034,   3082, 1053,  1054, 1055, 1058,  1066,
};

constexpr const char* reservedWords[8] = {"memo", "integer",  "float", "bit",
                                          "date", "datetime", "time",  "timestamp"};

// Leading and trailing blanks and control characters go.
QString trimControls(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b).unicode() <= u' ')
        ++b;
    while (e > b && s.at(e - 1).unicode() <= u' ')
        --e;
    return s.mid(b, e - b);
}

} // namespace

QString ExtendedPropertiesText(TDatabaseType type) {
    if (type < dtUndefined || type > dtText)
        return {};
    return QString::fromLatin1(extendedProperties[type]);
}

qint32 LocaleIdentifierValue(TLocaleIdentifier locale) {
    if (locale < 0 || locale >= kLocaleIdentifierCount)
        return localeIdentifiers[liGeneral];
    return localeIdentifiers[locale];
}

QString ProviderNameText(TADOProvider provider) {
    switch (provider) {
    case prJetOLEDB351:
        return QStringLiteral("Microsoft.Jet.OLEDB.3.51");
    case prMSSQL:
        return QStringLiteral("SQLOLEDB.1");
    case prJetOLEDB4:
        break;
    }
    return QStringLiteral("Microsoft.Jet.OLEDB.4.0");
}

bool UsesUniqueFieldNames(TDatabaseType type) {
    switch (type) {
    case dtDBase3:
    case dtDBase4:
    case dtDBase5:
    case dtFox20:
    case dtFox25:
    case dtFox26:
    case dtFox30:
        return true;
    default:
        return false;
    }
}

QString ColumnTypeText(TFieldType type, int size) {
    switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        return QStringLiteral("integer ");
    case ftFloat:
        return QStringLiteral("float ");
    case ftCurrency:
    case ftBCD:
        return QStringLiteral("numeric(15,4) ");
    case ftString:
    case ftWideString:
    case ftFixedChar:
        return QStringLiteral("char(") +
               (size <= 254 ? QString::number(size) : QStringLiteral("254")) + QStringLiteral(") ");
    case ftMemo:
        return QStringLiteral("memo ");
    case ftBoolean:
        return QStringLiteral("bit ");
    case ftDate:
        return QStringLiteral("date ");
    case ftDateTime:
        return QStringLiteral("datetime ");
    case ftTime:
        return QStringLiteral("time ");
    case ftTimeStamp:
        return QStringLiteral("timestamp ");
    default:
        return {};
    }
}

bool AccessDatabaseSupported() {
    return true;
}

void CreateAccessDatabase(const QString& path) {
    // Always a Jet 4 database, whatever the destination provider; written by the export's
    // own writer, as this system has no catalog service for it.
    exportfile::createAccessDatabaseUnlessPresent(path);
}

TVelADObatchmove::TVelADObatchmove(QObject* owner) : QObject(owner) {
    exportfile::registerDesktopFileProvider();
    m_destConnection = new TADOConnection(this);
    m_destConnection->setLoginPrompt(false);
    m_destDataSet = new TADODataSet(this);
    m_destDataSet->setConnection(m_destConnection);
}

TVelADObatchmove::~TVelADObatchmove() {
    m_destDataSet->Close();
    m_destConnection->Close();
}

void TVelADObatchmove::setDestProvider(TADOProvider provider) {
    m_destProvider = provider;
    m_providerName = ProviderNameText(provider);
}

void TVelADObatchmove::setDestLocaleIdentifier(TLocaleIdentifier locale) {
    m_destLocale = locale;
    m_destLocaleValue = LocaleIdentifierValue(locale);
}

void TVelADObatchmove::InitFieldNameList() {
    m_fieldNames.fill(QString());
    for (int i = 0; i < 8; ++i)
        m_fieldNames[size_t(i)] = QString::fromLatin1(reservedWords[i]);
}

bool TVelADObatchmove::IsFieldNameUsed(const QString& name) const {
    const QString upper = name.toUpper();
    for (const QString& slot : m_fieldNames)
        if (slot.toUpper() == upper)
            return true;
    return false;
}

QString TVelADObatchmove::MakeUniqueFieldName(const QString& name) {
    QString candidate = trimControls(name).left(10);
    int counter = 1;
    while (IsFieldNameUsed(candidate)) {
        candidate = candidate.left(8) + QStringLiteral("%1").arg(counter, 2, 10, QLatin1Char('0'));
        ++counter;
    }
    for (QString& slot : m_fieldNames)
        if (slot.isEmpty()) {
            slot = candidate;
            break;
        }
    return candidate;
}

void TVelADObatchmove::processMessages() {
    if (ProcessMessages)
        ProcessMessages();
    else
        QCoreApplication::processEvents();
}

void TVelADObatchmove::Execute() {
    // Only an open source is copied.
    if (!m_source || !m_source->Active())
        return;
    TADOConnection* sourceConnection = m_source->Connection();

    // The destination starts closed.
    m_destConnection->Close();

    // Replacement: an existing destination file may be replaced. It is not deleted up front: the
    // provider stages the new table beside it, and the staged files take its place only
    // when the transfer has succeeded (see "Commit" below). A failure removes them and leaves the
    // old file as it was. The folder name is joined with "/" unless it ends with a
    // separator. Without a folder nothing may be replaced: the joined name would point at
    // the root folder, and the provider refuses a destination without folder anyway.
    // An Access database is itself the destination file: it holds the table.
    std::optional<exportfile::ReplacementPermit> replacement;
    if (m_overwrite == ovADOyes && !m_destDatabaseName.isEmpty()) {
        QString path = m_destDatabaseName;
        if (m_destDatabaseType != dtAccess) {
            if (!path.endsWith(u'/') && !path.endsWith(u'\\'))
                path += u'/';
            path += m_destTableName;
        }
        replacement.emplace(path);
    }
    // A failure closes the destination, so a table the provider holds open for appending is
    // completed (a new table keeps the rows written) or, when staged, released before the
    // staging goes.
    struct CloseOnFailure {
        TADODataSet* dataSet;
        TADOConnection* connection;
        int pending = std::uncaught_exceptions();
        ~CloseOnFailure() {
            if (std::uncaught_exceptions() > pending) {
                dataSet->Close();
                connection->Close();
            }
        }
    } closeOnFailure{m_destDataSet, m_destConnection};

    // The table name as SQL and the provider's extended properties.
    const QString quotedTable = u'[' + m_destTableName + u']';
    const QString extended = ExtendedPropertiesText(m_destDatabaseType);

    // The source's connection state, restored at the end.
    const bool sourceWasConnected = sourceConnection && sourceConnection->Connected();

    // An Access database is created first. The source's connection stays connected
    // meanwhile: dropping it would close every dataset on it, the source included, whose
    // rows the copy reads
    // (and the user's result set with them). The database writer needs no exclusive
    // access to anything the source holds.
    if (m_destDatabaseType == dtAccess) {
        if (!AccessDatabaseSupported())
            throw data::DataError(QStringLiteral("Access-Datenbanken (.mdb) werden noch nicht "
                                                 "unterstützt; bitte ein anderes Format wählen."));
        CreateAccessDatabase(m_destDatabaseName);
    }

    // The source is read through a connected connection.
    if (sourceConnection)
        sourceConnection->setConnected(true);

    // The destination connection: provider, folder or file, locale, format.
    m_destConnection->setProvider(m_providerName);
    m_destConnection->Properties().setValue(QStringLiteral("Data Source"), m_destDatabaseName);
    m_destConnection->Properties().setValue(QStringLiteral("Locale Identifier"),
                                            QVariant::fromValue<qint32>(m_destLocaleValue));
    m_destConnection->Properties().setValue(QStringLiteral("Extended Properties"), extended);
    m_destConnection->Close();
    m_destDataSet->Close();

    // The CREATE TABLE command.
    auto command = std::make_unique<TADOCommand>(this);
    command->setConnection(m_destConnection);
    QString sql = QStringLiteral("CREATE TABLE ") + quotedTable + QStringLiteral(" (");

    // Columns: mapped fields become columns; dBASE and FoxPro names are made unique (for every
    // field, so the names of later fields do not depend on which types are mapped).
    InitFieldNameList();
    bool firstColumn = true;
    const QList<TFieldDef>& defs = m_source->FieldDefs();
    const int fieldCount = m_source->FieldCount();
    std::vector<bool> mapped(size_t(fieldCount), false);
    const bool unique = UsesUniqueFieldNames(m_destDatabaseType);
    for (int i = 0; i < fieldCount; ++i) {
        const TFieldDef& def = defs.at(i);
        const QString columnName = unique ? MakeUniqueFieldName(def.Name) : def.Name;
        // A CLR type's value (geography, hierarchyid) goes as its hex text: no
        // destination type holds its bytes as they are.
        QString typeText =
            def.ClrType ? QStringLiteral("memo ") : ColumnTypeText(def.DataType, def.Size);
        // Text and HTML files write datetime2 and time with every digit the
        // server sent; the other formats keep their own date types.
        const bool exactTime =
            def.TypeName.compare(QLatin1String("datetime2"), Qt::CaseInsensitive) == 0 ||
            def.TypeName.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0;
        if (exactTime && (def.DataType == ftDateTime || def.DataType == ftTime) &&
            (m_destDatabaseType == dtText || m_destDatabaseType == dtHTMLexport ||
             m_destDatabaseType == dtHTMLimport))
            typeText =
                typeText.trimmed() + QStringLiteral("(%1) ").arg(std::clamp(def.Scale, 0, 7));
        if (typeText.isEmpty())
            continue;
        mapped[size_t(i)] = true;
        if (!firstColumn)
            sql += QStringLiteral(", ");
        firstColumn = false;
        sql += columnName + u' ' + typeText;
    }

    // The table is created.
    sql += u')';
    command->setCommandText(sql);
    command->Execute();
    if (command->Connection())
        command->Connection()->Close();
    command.reset();

    // The new table opened for appending, on a server-side cursor.
    m_destDataSet->Close();
    m_destConnection->Close();
    m_destDataSet->setCommandType(cmdTable);
    m_destDataSet->setCommandText(m_destTableName);
    m_destDataSet->setCursorLocation(clUseServer);
    m_destConnection->setCursorLocation(clUseServer);
    m_destDataSet->Open();
    processMessages();

    // Copy: every source row is appended, with progress every 50 rows.
    m_source->First();
    qint32 rows = 0;
    while (!m_source->Eof()) {
        m_destDataSet->Append();
        int position = 0;
        for (int i = 0; i < fieldCount; ++i) {
            if (!mapped[size_t(i)])
                continue;
            const TField source = m_source->Fields(i);
            if (defs.at(i).ClrType)
                m_destDataSet->Fields(position).setValue(
                    source.IsNull() ? QVariant() : QVariant(source.AsString()));
            else
                m_destDataSet->Fields(position).setValue(source);
            ++position;
        }
        m_destDataSet->Post();
        ++rows;
        if (rows % 50 == 0) {
            if (OnProgress)
                OnProgress(rows);
            processMessages();
        }
        m_source->Next();
    }

    // Commit: the replaced file's new version goes in place before the count says it is done.
    m_destDataSet->UpdateBatch();
    if (replacement) {
        try {
            replacement->commit();
        } catch (const exportfile::ExportError& e) {
            throw data::DataError(e.message());
        }
    }
    m_rowsExported = rows;
    m_destDataSet->Close();
    if (sourceConnection)
        sourceConnection->setConnected(sourceWasConnected);
}
