#include "tests/export/readers.h"

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

QJsonDocument readCsv(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, json, csv
with open(sys.argv[1], newline='', encoding='utf-8-sig', errors='strict') as f:
    print(json.dumps(list(csv.reader(f))))
)");
    return runPython(script, {path});
}

QJsonDocument readHtmlTable(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, json, html.parser
class Table(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.cell, self.charset, self.caption = [], None, None, None
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == 'meta' and 'charset' in a: self.charset = a['charset']
        if tag == 'tr': self.rows.append([])
        if tag in ('td', 'th', 'caption'): self.cell = ''
    def handle_endtag(self, tag):
        if tag in ('td', 'th'): self.rows[-1].append(self.cell)
        if tag == 'caption': self.caption = self.cell
        if tag in ('td', 'th', 'caption'): self.cell = None
    def handle_data(self, data):
        if self.cell is not None: self.cell += data
p = Table()
p.feed(open(sys.argv[1], encoding='utf-8', errors='strict').read())
p.close()
print(json.dumps({'charset': p.charset, 'caption': p.caption, 'rows': p.rows}))
)");
    return runPython(script, {path});
}

} // namespace testreaders
