#include "export/textwriters.h"

#include "export/fileio.h"
#include "export/values.h"

#include <QFileInfo>
#include <cstring>

namespace exportfile {

namespace {

void writeText(QFile& f, const QString& text) {
    writeBytes(f, text.toUtf8());
}

// Lines are collected up to this size and written in one piece.
constexpr qsizetype kBufferSize = 1 << 20;

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
    // Read and write: a text that Windows-1252 cannot hold makes the writer turn
    // what it wrote so far into UTF-8.
    openForWriting(m_file, QIODevice::ReadWrite);
    QStringList names;
    for (const auto& c : schema.columns)
        names << quoted(c.name);
    writeBytes(m_file, encoded(names.join(u',') + QStringLiteral("\r\n")));
    m_buffer.reserve(kBufferSize + 64 * 1024);
}

TextWriter::~TextWriter() {
    try {
        finish();
    } catch (...) {
        // The lines written so far stay; nothing more can be done about the file here.
    }
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
    m_buffer += encoded(line + QStringLiteral("\r\n"));
    ++m_rows;
    if (m_buffer.size() >= kBufferSize)
        writeBuffer();
}

void TextWriter::appendCells(const RowView& row, int columns) {
    checkRowWidth(size_t(columns), m_schema.columns.size());
    // The common row: every value one the line can be written from directly. Its longest
    // possible text is reserved once and the line written in place.
    {
        if (m_cells.size() < size_t(columns))
            m_cells.resize(size_t(columns));
        Cell* const cells = m_cells.data();
        qsizetype bound = 2;
        bool direct = true;
        row.cells(cells, columns);
        const bool utf8 = m_utf8;
        for (int i = 0; i < columns && direct; ++i) {
            direct = fitsDirectly(cells[i], m_schema.columns[size_t(i)]);
            bound += 1 + (cells[i].kind == Cell::Text ? 3 * cells[i].text.size() + 2 : kNumberRoom);
        }
        if (direct) {
            const qsizetype at = m_buffer.size();
            m_buffer.resize(at + bound);
            char* const begin = m_buffer.data();
            char* out = begin + at;
            for (int i = 0; i < columns && out; ++i) {
                if (i)
                    *out++ = ',';
                out = writeCell(out, cells[i], utf8);
            }
            if (out) {
                *out++ = '\r';
                *out++ = '\n';
                m_buffer.truncate(out - begin);
                ++m_rows;
                if (m_buffer.size() >= kBufferSize)
                    writeBuffer();
                return;
            }
            m_buffer.truncate(at); // a text the general conversion must encode
        }
    }

    // Value by value, through the general conversion where needed. A text that turns the
    // file into UTF-8 half-way makes the line start again in the new encoding.
    QByteArray line;
    const bool utf8 = m_utf8;
    for (int i = 0; i < columns; ++i) {
        if (m_utf8 != utf8)
            return appendCells(row, columns);
        if (i)
            line += ',';
        const ColumnDef& c = m_schema.columns[size_t(i)];
        const Cell cell = row.cell(i);
        if (fitsDirectly(cell, c)) {
            QByteArray text(cell.kind == Cell::Text ? 3 * cell.text.size() + 2 : kNumberRoom,
                            Qt::Uninitialized);
            if (char* end = writeCell(text.data(), cell, m_utf8)) {
                line.append(text.constData(), end - text.constData());
                continue;
            }
        }
        const QVariant v = row.value(i);
        if (isNull(v))
            continue;
        const QString text = cellText(v, c);
        line += encoded(isTextColumn(c) ? quoted(text) : text);
    }
    if (m_utf8 != utf8)
        return appendCells(row, columns);
    m_buffer += line + "\r\n";
    ++m_rows;
    if (m_buffer.size() >= kBufferSize)
        writeBuffer();
}

bool TextWriter::fitsDirectly(const Cell& cell, const ColumnDef& column) {
    switch (cell.kind) {
    case Cell::Null:
        return true;
    case Cell::Integer:
        return column.type == ColumnType::Integer;
    case Cell::Real:
        return column.type == ColumnType::Float || column.type == ColumnType::Numeric;
    case Cell::Bool:
        return column.type == ColumnType::Bit;
    case Cell::Date:
        return column.type == ColumnType::Date && cell.year >= 1 && cell.year <= 9999;
    case Cell::DateTime:
        return (column.type == ColumnType::DateTime || column.type == ColumnType::Timestamp) &&
               cell.year >= 1 && cell.year <= 9999;
    case Cell::Time:
        return column.type == ColumnType::Time;
    case Cell::Text:
        return isTextColumn(column);
    case Cell::Other:
        return false;
    }
    return false;
}

char* TextWriter::writeCell(char* out, const Cell& cell, bool utf8) {
    switch (cell.kind) {
    case Cell::Null:
    case Cell::Other:
        return out;
    case Cell::Integer:
        return integerText(out, cell.integer);
    case Cell::Real:
        return shortestNumber(out, cell.real);
    case Cell::Bool:
        std::memcpy(out, cell.integer ? "TRUE" : "FALSE", cell.integer ? 4 : 5);
        return out + (cell.integer ? 4 : 5);
    case Cell::Date:
    case Cell::DateTime:
    case Cell::Time:
        if (cell.kind != Cell::Time) {
            out = isoDateText(out, cell.year, cell.month, cell.day);
            if (cell.kind == Cell::DateTime)
                *out++ = ' ';
        }
        if (cell.kind != Cell::Date)
            out = cell.fraction >= 0
                      ? isoTimeText(out, cell.msecs, cell.subMsecTicks, cell.fraction)
                      : isoTimeText(out, cell.msecs);
        return out;
    case Cell::Text: {
        // Inner quotes doubled; a text with surrogates, or one Windows-1252 cannot hold
        // while the file is in it, is left to the general conversion (nullptr).
        *out++ = '"';
        for (const QChar ch : cell.text) {
            const char16_t u = ch.unicode();
            if (u < 0x80) {
                if (u == u'"')
                    *out++ = '"';
                *out++ = char(u);
            } else if (!utf8) {
                const int b = cp1252Byte(u);
                if (b < 0)
                    return nullptr;
                *out++ = char(b);
            } else if (u < 0x800) {
                *out++ = char(0xC0 | (u >> 6));
                *out++ = char(0x80 | (u & 0x3F));
            } else if (ch.isSurrogate()) {
                return nullptr;
            } else {
                *out++ = char(0xE0 | (u >> 12));
                *out++ = char(0x80 | ((u >> 6) & 0x3F));
                *out++ = char(0x80 | (u & 0x3F));
            }
        }
        *out++ = '"';
        return out;
    }
    }
    return out;
}

QByteArray TextWriter::encoded(const QString& text) {
    if (!m_utf8 && !fitsCp1252(text))
        switchToUtf8();
    return m_utf8 ? text.toUtf8() : toCp1252(text);
}

void TextWriter::switchToUtf8() {
    // Everything written so far is Windows-1252; it is read back and written again as
    // UTF-8 after a byte-order mark, and the file goes on in UTF-8.
    writeBuffer();
    flushFile(m_file);
    if (!m_file.seek(0))
        throwWriteError(m_file);
    const QByteArray written = m_file.readAll();
    if (m_file.error() != QFileDevice::NoError)
        throwWriteError(m_file);
    writeBytesAt(m_file, 0, QByteArray(kUtf8Bom) + fromCp1252(written).toUtf8());
    m_utf8 = true;
}

void TextWriter::writeBuffer() {
    if (m_buffer.isEmpty())
        return;
    writeBytes(m_file, m_buffer);
    m_buffer.resize(0); // keeps the capacity
}

void TextWriter::finish() {
    if (!m_file.isOpen())
        return;
    writeBuffer();
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
