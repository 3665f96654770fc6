#pragma once
// Helpers of the export tests: raw file access and the independent readers (Python's
// dbfread and xlrd from Debian, its csv and html.parser) that read back what the writers wrote.

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

namespace testreaders {

QByteArray readFile(const QString& path);
quint16 le16(const QByteArray& b, int pos);
quint32 le32(const QByteArray& b, int pos);
quint32 be32(const QByteArray& b, int pos);

// True when the system's Python 3 can import the module.
bool pythonHas(const char* module);
// Runs a Python script with the arguments and returns what it printed as JSON; an invalid
// document when the script failed (its error output is printed as a warning).
QJsonDocument runPython(const QString& script, const QStringList& args);

// dbfread's view of a table: {"version", "encoding", "fields": [[name, type, length, decimals]],
// "records": [[value, ...]], "nullflags": [hex per record]}; dates as ISO texts, decimals as
// texts, memos as texts.
QJsonDocument readDbf(const QString& path);
// xlrd's view of a workbook: {"biff", "sheets": [{"name", "rows": [[[type, value], ...]]}]};
// date cells as ISO texts.
QJsonDocument readXls(const QString& path);
// Python's csv module's rows of a UTF-8 text file, byte-order mark or not: [[field, ...], ...].
QJsonDocument readCsv(const QString& path);
// Python's html.parser's view of a page's table: {"charset", "caption", "rows": [[cell, ...]]},
// character references resolved.
QJsonDocument readHtmlTable(const QString& path);

} // namespace testreaders
