#include "app/grid/gridcopy.h"

#include "app/grid/cellvalues.h"
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <algorithm>

namespace gridcopy {

QString quoted(const QString& value) {
    bool special = false;
    for (QChar c : value)
        if (c == u'\t' || c == u'\n' || c == u'\r' || c == u'"') {
            special = true;
            break;
        }
    if (!special)
        return value;
    QString q = value;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

namespace {

// The work of one slice on the window's thread, in milliseconds.
constexpr int kSliceMs = 8;

void appendHtmlCell(QString& html, const QString& value, bool title) {
    html += title ? QLatin1String("<th>") : QLatin1String("<td>");
    const bool special = std::any_of(value.begin(), value.end(), [](QChar c) {
        return c == u'<' || c == u'>' || c == u'&' || c == u'"' || c == u'\n' || c == u'\r';
    });
    if (!special) {
        html += value;
        html += title ? QLatin1String("</th>") : QLatin1String("</td>");
        return;
    }
    QString escaped = value.toHtmlEscaped();
    if (escaped.contains(QLatin1Char('\n')) || escaped.contains(QLatin1Char('\r'))) {
        escaped.replace(QLatin1String("\r\n"), QLatin1String("<br>"));
        escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
        escaped.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    }
    html += escaped;
    html += title ? QLatin1String("</th>") : QLatin1String("</td>");
}

} // namespace

CopyJob::CopyJob(Request request, QObject* parent)
    : QObject(parent), m_request(std::move(request)) {
    for (int c : m_request.columns) {
        const data::StorageKind kind =
            m_request.store ? m_request.store->column(c).kind : data::StorageKind::Utf16;
        m_plain.push_back(kind != data::StorageKind::Utf8 && kind != data::StorageKind::Utf16);
    }
    m_html = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table>");
    if (m_request.titles && m_request.store) {
        QStringList names;
        m_html += QLatin1String("<tr>");
        for (int c : m_request.columns) {
            const QString& name = m_request.store->column(c).name;
            names.append(quoted(name));
            appendHtmlCell(m_html, name, true);
        }
        m_html += QLatin1String("</tr>");
        m_text = names.join(QLatin1Char('\t'));
        m_text += QLatin1Char('\n');
    }
}

void CopyJob::appendRow(std::size_t i) {
    const data::ResultStore& store = *m_request.store;
    const qint64 row = m_request.rows[i];
    const bool present = row < store.rowCount(); // a row deleted meanwhile stays empty
    m_html += QLatin1String("<tr>");
    for (std::size_t j = 0; j < m_request.columns.size(); ++j) {
        const bool wanted = present && (!m_request.selected || m_request.selected(i, j));
        const int column = m_request.columns[j];
        const QString value = wanted ? copyText(store, row, column) : QString();
        if (j > 0)
            m_text += QLatin1Char('\t');
        if (m_plain[j]) {
            // Numbers, dates and the like hold nothing to quote or escape.
            m_text += value;
            m_html += QLatin1String("<td>");
            m_html += value;
            m_html += QLatin1String("</td>");
        } else {
            m_text += quoted(value);
            appendHtmlCell(m_html, value, false);
        }
    }
    m_html += QLatin1String("</tr>");
    if (i + 1 < m_request.rows.size())
        m_text += QLatin1Char('\n');
}

bool CopyJob::step(int budgetMs) {
    if (!m_request.store)
        return true;
    QElapsedTimer clock;
    clock.start();
    const std::size_t end = m_request.rows.size();
    // Room for the whole text, judged by the rows so far: once after the
    // first rows, and again after an eighth, when numbers that widen with
    // the rows have mostly reached their width. A text that outgrows its
    // room near the end is copied whole in one slice (tens of
    // milliseconds for a hundred thousand rows); growing it early copies
    // only what is there so far.
    const std::size_t early = 64, later = std::max<std::size_t>(end / 8, early + 1);
    const auto makeRoom = [&] {
        const double scale = double(end) / double(m_next) * 1.1;
        const auto room = [scale](QString& s) {
            const auto want = qsizetype(double(s.size()) * scale);
            if (want > s.capacity())
                s.reserve(want);
        };
        room(m_text);
        room(m_html);
    };
    while (m_next < end) {
        // The clock is read every few rows, not for every cell.
        for (int k = 0; k < 16 && m_next < end; ++k) {
            appendRow(m_next++);
            if (end > early * 4 && (m_next == early || m_next == later))
                makeRoom();
        }
        if (clock.elapsed() >= budgetMs)
            break;
    }
    if (m_next < end)
        return false;
    if (!m_html.endsWith(QLatin1String("</html>")))
        m_html += QLatin1String("</table></body></html>");
    return true;
}

QMimeData* CopyJob::mimeData() const {
    auto* data = new QMimeData;
    data->setText(m_text);
    data->setHtml(m_html);
    return data;
}

void CopyJob::start() {
    QTimer::singleShot(0, this, &CopyJob::slice);
}

void CopyJob::cancel() {
    if (m_cancelled)
        return;
    m_cancelled = true;
    emit finished(false);
}

void CopyJob::slice() {
    if (m_cancelled)
        return;
    // Slices well below what a user notices as a stall. The next slice
    // follows on a timer, not a posted call: posted calls run back to back
    // before due timers and pending paints get their turn, so two slices
    // (and a repaint) would add up to one stall.
    if (!step(kSliceMs)) {
        emit progress(rowsDone(), rowCount());
        QTimer::singleShot(1, Qt::PreciseTimer, this, &CopyJob::slice);
        return;
    }
    QGuiApplication::clipboard()->setMimeData(mimeData());
    m_cancelled = true; // done: a later cancel() changes nothing
    emit finished(true);
}

} // namespace gridcopy
