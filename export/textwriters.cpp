#include "textwriters.h"

#include "fileio.h"
#include "values.h"

#include <QFileInfo>

namespace exportfile {

namespace {

void writeText(QFile& f, const QString& text) {
    writeBytes(f, text.toUtf8());
}

bool isTextColumn(const ColumnDef& c) {
    return c.type == ColumnType::Char || c.type == ColumnType::Memo;
}

} // namespace

QString TextWriter::quoted(const QString& text) {
    QString s = text;
    s.replace(u'"', QStringLiteral("\"\""));
    return u'"' + s + u'"';
}

TextWriter::TextWriter(const TableSchema& schema, const QString& path)
    : m_schema(schema), m_file(path) {
    openForWriting(m_file);
    QStringList names;
    for (const auto& c : schema.columns)
        names << quoted(c.name);
    writeText(m_file, names.join(u',') + QStringLiteral("\r\n"));
}

void TextWriter::appendRow(const std::vector<QVariant>& values) {
    checkRowWidth(values.size(), m_schema.columns.size());
    QString line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            line += u',';
        const ColumnDef& c = m_schema.columns[i];
        if (isNull(values[i]))
            continue;
        const QString text = cellText(values[i], c);
        line += isTextColumn(c) ? quoted(text) : text;
    }
    writeText(m_file, line + QStringLiteral("\r\n"));
    ++m_rows;
}

void TextWriter::finish() {
    flushFile(m_file);
}

QString HtmlWriter::escaped(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case u'&':
            s += QStringLiteral("&amp;");
            break;
        case u'<':
            s += QStringLiteral("&lt;");
            break;
        case u'>':
            s += QStringLiteral("&gt;");
            break;
        case u'"':
            s += QStringLiteral("&quot;");
            break;
        case u'\'':
            s += QStringLiteral("&#39;");
            break;
        default:
            s += ch;
        }
    }
    return s;
}

HtmlWriter::HtmlWriter(const TableSchema& schema, const QString& path)
    : m_schema(schema), m_file(path) {
    openForWriting(m_file);
    QString caption = schema.tableName;
    const QString title = escaped(caption);
    QString head = QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
                                  "<meta charset=\"utf-8\">\r\n<title>%1</title>\r\n"
                                  "<style>td { white-space: pre-wrap; }</style>\r\n"
                                  "</head>\r\n<body>\r\n<table border=\"1\">\r\n"
                                  "<caption>%1</caption>\r\n<thead>\r\n<tr>")
                       .arg(title);
    for (const auto& c : schema.columns)
        head += QStringLiteral("<th>") + escaped(c.name) + QStringLiteral("</th>");
    head += QStringLiteral("</tr>\r\n</thead>\r\n<tbody>\r\n");
    writeText(m_file, head);
    m_tailPos = m_file.pos();
    writeText(m_file, tail());
    m_tailWritten = true;
    flushFile(m_file);
}

QString HtmlWriter::tail() {
    return QStringLiteral("</tbody>\r\n</table>\r\n</body>\r\n</html>\r\n");
}

void HtmlWriter::appendRow(const std::vector<QVariant>& values) {
    checkRowWidth(values.size(), m_schema.columns.size());
    QString line = QStringLiteral("<tr>");
    for (size_t i = 0; i < values.size(); ++i) {
        const ColumnDef& c = m_schema.columns[i];
        const bool number = c.type == ColumnType::Integer || c.type == ColumnType::Float ||
                            c.type == ColumnType::Numeric;
        line += number ? QStringLiteral("<td align=\"right\">") : QStringLiteral("<td>");
        line += escaped(cellText(values[i], c)) + QStringLiteral("</td>");
    }
    // The rows take the place of the closing tags, which finish() writes again after them.
    if (m_tailWritten) {
        if (!m_file.seek(m_tailPos))
            throwWriteError(m_file);
        m_tailWritten = false;
    }
    const QByteArray bytes = (line + QStringLiteral("</tr>\r\n")).toUtf8();
    writeBytes(m_file, bytes);
    m_tailPos += bytes.size();
    ++m_rows;
}

HtmlWriter::~HtmlWriter() {
    try {
        finish();
    } catch (...) {
        // The rows written so far stay; nothing more can be done about the file here.
    }
}

void HtmlWriter::finish() {
    if (!m_file.isOpen())
        return;
    if (!m_tailWritten) {
        writeText(m_file, tail());
        m_tailWritten = true;
    }
    flushFile(m_file);
}

} // namespace exportfile
