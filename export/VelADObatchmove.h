#pragma once

// TVelADObatchmove: copies an open result set into a new table of a desktop database.
// Execute creates the destination table with a CREATE TABLE statement built from the source's
// field types and appends every source row through the destination provider.

#include "data/adocommand.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>

enum TDatabaseType {
    dtUndefined,
    dtAccess,
    dtDBase3,
    dtDBase4,
    dtDBase5,
    dtParadox3,
    dtParadox4,
    dtParadox5,
    dtFox20,
    dtFox25,
    dtFox26,
    dtFox30,
    dtExcel3,
    dtExcel4,
    dtExcel5,
    dtExcel8,
    dtHTMLimport,
    dtHTMLexport,
    dtText,
};

enum TADOProvider { prJetOLEDB351, prJetOLEDB4, prMSSQL };

enum TLocaleIdentifier {
    liGeneral,
    liChinesePunct,
    liChineseStroke,
    liChineseStrokeTaiwan,
    liChineseBopomofo,
    liCroatian,
    liCzech,
    liEstonian,
    liFrench,
    liGeorgian,
    liGermanPhone,
    liHungarian,
    liHungarianTech,
    liIcelandic,
    liJapanese,
    liJapaneseUni,
    liKorean,
    liKoreanUni,
    liLatvian,
    liLithuanian,
    liFYROMacedonian,
    liNorwegianDanish,
    liPolish,
    liRomanian,
    liSlovak,
    liSlovenian,
    liSpanishTrad,
    liSpanisch,
    liSchwedishFinnish,
    liThai,
    liTurkish,
    liUkrainian,
    liVietnamese,
};
inline constexpr int kLocaleIdentifierCount = 33;

enum TADOBatchMode { batADOCopy, batADOAppend };
enum TADOOverwriteMode { ovADOyes, ovADOno };

// The Extended Properties text of a destination type ("dBASE III", ...; empty for
// dtUndefined and dtAccess).
QString ExtendedPropertiesText(TDatabaseType type);
// The Windows locale identifier of a sort locale (1033 for liGeneral, ...).
qint32 LocaleIdentifierValue(TLocaleIdentifier locale);
// The provider name of a destination provider.
QString ProviderNameText(TADOProvider provider);
// True for the types whose column names are made unique and at most 10 characters long.
bool UsesUniqueFieldNames(TDatabaseType type);
// The column type text of a field ("integer ", "char(40) ", ...; every text ends with a
// blank), or an empty string for a type that gets no column.
QString ColumnTypeText(TFieldType type, int size);

// Creates an Access database file at path unless a file exists there.
void CreateAccessDatabase(const QString& path);
// Whether CreateAccessDatabase can create a database on this system.
bool AccessDatabaseSupported();

class TVelADObatchmove : public QObject {
    Q_OBJECT
public:
    static constexpr int kFieldNameSlots = 100;

    explicit TVelADObatchmove(QObject* owner = nullptr);
    ~TVelADObatchmove() override;

    TADODataSet* ADODataset() const { return m_source; }
    void setADODataset(TADODataSet* dataSet) { m_source = dataSet; }
    TADODataSet* DestADODataset() const { return m_destDataSetRef; }
    void setDestADODataset(TADODataSet* dataSet) { m_destDataSetRef = dataSet; }
    QString DestTableName() const { return m_destTableName; }
    void setDestTableName(const QString& name) { m_destTableName = name; }
    QString DestDatabaseName() const { return m_destDatabaseName; }
    void setDestDatabaseName(const QString& name) { m_destDatabaseName = name; }
    TDatabaseType DestDatabaseType() const { return m_destDatabaseType; }
    void setDestDatabaseType(TDatabaseType type) { m_destDatabaseType = type; }
    TADOProvider DestProvider() const { return m_destProvider; }
    void setDestProvider(TADOProvider provider); // also sets the provider name
    TLocaleIdentifier DestLocaleIdentifier() const { return m_destLocale; }
    void setDestLocaleIdentifier(TLocaleIdentifier locale); // also sets the value
    qint32 DestLocaleIdentifierValue() const { return m_destLocaleValue; }
    void setDestLocaleIdentifierValue(qint32 value) { m_destLocaleValue = value; }
    TADOBatchMode Mode() const { return m_mode; }
    void setMode(TADOBatchMode mode) { m_mode = mode; }
    TADOOverwriteMode OverwriteExisting() const { return m_overwrite; }
    void setOverwriteExisting(TADOOverwriteMode mode) { m_overwrite = mode; }
    qint32 RowsExported() const { return m_rowsExported; }
    // The export command sets the count of an export that did not go through Execute.
    void setRowsExported(qint32 rows) { m_rowsExported = rows; }

    // The provider name text the destination connection is given.
    QString ProviderName() const { return m_providerName; }

    // Runs one transfer; failures reach the caller. See the class comment.
    void Execute();

    // The field name list: slots 1 to 100.
    void InitFieldNameList();
    bool IsFieldNameUsed(const QString& name) const;
    QString MakeUniqueFieldName(const QString& name);
    QString FieldNameSlot(int slot) const { return m_fieldNames.at(size_t(slot - 1)); }

    // The destination objects the component owns.
    TADOConnection* DestConnection() const { return m_destConnection; }
    TADODataSet* DestDataSet() const { return m_destDataSet; }

    // Lets pending window messages be processed; called after the destination opens and
    // after every 50 rows. The default processes the application's events; the GUI may add
    // progress display, tests record the calls.
    std::function<void()> ProcessMessages;
    // Called with the row count after every 50 rows, before ProcessMessages.
    std::function<void(qint32 rows)> OnProgress;

private:
    void processMessages();

    TADODataSet* m_source = nullptr;
    TADODataSet* m_destDataSetRef = nullptr;
    QString m_destTableName;
    QString m_destDatabaseName;
    TDatabaseType m_destDatabaseType = dtUndefined;
    TADOProvider m_destProvider = prJetOLEDB4;
    TLocaleIdentifier m_destLocale = liGeneral;
    qint32 m_destLocaleValue = 1033;
    TADOBatchMode m_mode = batADOCopy;
    TADOOverwriteMode m_overwrite = ovADOyes;
    qint32 m_rowsExported = 0;

    QString m_providerName = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    TADOConnection* m_destConnection = nullptr;
    TADODataSet* m_destDataSet = nullptr;
    std::array<QString, kFieldNameSlots> m_fieldNames;
};
