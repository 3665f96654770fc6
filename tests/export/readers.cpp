#include "readers.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

namespace testreaders {

namespace {
const QString python = QStringLiteral("/usr/bin/python3");
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

quint16 le16(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint16>(b.constData() + pos);
}

quint32 le32(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint32>(b.constData() + pos);
}

quint32 be32(const QByteArray& b, int pos) {
    return qFromBigEndian<quint32>(b.constData() + pos);
}

bool pythonHas(const char* module) {
    if (!QFile::exists(python))
        return false;
    QProcess p;
    p.start(python, {QStringLiteral("-c"), QStringLiteral("import %1").arg(QLatin1String(module))});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QJsonDocument runPython(const QString& script, const QStringList& args) {
    QProcess p;
    p.start(python, QStringList{QStringLiteral("-c"), script} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning("python: %s", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput());
}

QJsonDocument readDbf(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, json, datetime, decimal, dbfread
t = dbfread.DBF(sys.argv[1], char_decode_errors='strict', raw=False)
def conv(v):
    if isinstance(v, (datetime.date, datetime.datetime)): return v.isoformat()
    if isinstance(v, decimal.Decimal): return str(v)
    if isinstance(v, bytes): return v.decode(t.encoding)
    return v
fields = [[f.name, f.type, f.length, f.decimal_count] for f in t.fields]
records, nullflags = [], []
for r in t:
    records.append([conv(v) for k, v in r.items() if k != '_NullFlags'])
    if '_NullFlags' in r: nullflags.append(bytes(r['_NullFlags']).hex())
print(json.dumps({'version': t.header.dbversion, 'encoding': t.encoding, 'fields': fields,
                  'records': records, 'nullflags': nullflags}))
)");
    return runPython(script, {path});
}

QJsonDocument readXls(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, json, datetime, xlrd
b = xlrd.open_workbook(sys.argv[1])
sheets = []
for s in b.sheets():
    rows = []
    for r in range(s.nrows):
        row = []
        for c in range(s.ncols):
            cell = s.cell(r, c)
            v = cell.value
            if cell.ctype == xlrd.XL_CELL_DATE:
                t = xlrd.xldate_as_tuple(v, b.datemode)
                v = '%04d-%02d-%02d %02d:%02d:%02d' % t
            row.append([cell.ctype, v])
        rows.append(row)
    sheets.append({'name': s.name, 'rows': rows})
print(json.dumps({'biff': b.biff_version, 'sheets': sheets}))
)");
    return runPython(script, {path});
}

} // namespace testreaders
