#include "app/editor/findbar.h"

#include "controls/textpane.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

namespace editor {

namespace {

const QColor kMarkColor(0xFF, 0xE0, 0x80);

QLabel* addLabel(QHBoxLayout* row, const QString& text, QWidget* buddy, int width) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    label->setMinimumWidth(width);
    row->addWidget(label);
    row->addWidget(buddy, 1);
    return label;
}

// A row of the bar: a label and its line edit, the rest added by the caller.
QHBoxLayout* addRow(QVBoxLayout* rows, QWidget*& row, QLineEdit*& edit, const char* name,
                    const QString& label, int labelWidth) {
    row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    addLabel(layout, label, edit, labelWidth);
    rows->addWidget(row);
    return layout;
}

QPushButton* addButton(QHBoxLayout* row, const char* name, const QString& text) {
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    row->addWidget(button);
    return button;
}

} // namespace

FindBar::FindBar(TextPane* editor) : QWidget(editor), m_editor(editor) {
    setObjectName(QStringLiteral("PAFind"));
    setAccessibleName(QStringLiteral("Suchen und Ersetzen"));
    setAutoFillBackground(true);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("Ersetzen durch: "));

    QHBoxLayout* find =
        addRow(rows, m_findRow, m_find, "EDFind", QStringLiteral("Suchen:"), labelWidth);
    m_case = new QCheckBox(QStringLiteral("Groß-/Kleinschreibung"));
    m_case->setObjectName(QStringLiteral("CHBMatchCase"));
    m_word = new QCheckBox(QStringLiteral("Ganzes Wort"));
    m_word->setObjectName(QStringLiteral("CHBWholeWord"));
    m_regex = new QCheckBox(QStringLiteral("Regulärer Ausdruck"));
    m_regex->setObjectName(QStringLiteral("CHBRegex"));
    for (QCheckBox* box : {m_case, m_word, m_regex}) {
        find->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this] { m_remark.start(0); });
    }
    connect(addButton(find, "BTFindNext", QStringLiteral("Weitersuchen")), &QPushButton::clicked,
            this, [this] { findNext(true); });
    connect(addButton(find, "BTFindPrevious", QStringLiteral("Zurücksuchen")),
            &QPushButton::clicked, this, [this] { findNext(false); });
    connect(addButton(find, "BTCloseFind", QStringLiteral("Schließen")), &QPushButton::clicked,
            this, &FindBar::close);

    QHBoxLayout* replace = addRow(rows, m_replaceRow, m_replace, "EDReplace",
                                  QStringLiteral("Ersetzen durch:"), labelWidth);
    connect(addButton(replace, "BTReplace", QStringLiteral("Ersetzen")), &QPushButton::clicked,
            this, &FindBar::replaceOne);
    connect(addButton(replace, "BTReplaceAll", QStringLiteral("Alle ersetzen")),
            &QPushButton::clicked, this, &FindBar::replaceAll);

    QHBoxLayout* line =
        addRow(rows, m_lineRow, m_line, "EDGotoLine", QStringLiteral("Gehe zu Zeile:"), labelWidth);
    m_line->setValidator(new QIntValidator(1, INT_MAX, m_line));
    connect(addButton(line, "BTGotoLine", QStringLiteral("Gehe zu")), &QPushButton::clicked, this,
            [this] { gotoLine(m_line->text().toInt()); });

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("LBFindStatus"));
    rows->addWidget(m_status);

    for (QLineEdit* edit : {m_find, m_replace, m_line})
        edit->installEventFilter(this);
    m_remark.setSingleShot(true);
    connect(&m_remark, &QTimer::timeout, this, &FindBar::remark);
    connect(m_find, &QLineEdit::textChanged, this, [this] { m_remark.start(0); });
    connect(editor, &TextPane::textChanged, this, [this] {
        m_textStale = true;
        if (isVisible())
            m_remark.start(150);
    });
    hide();
    editor->setBottomPanel(this);
}

void FindBar::open(Mode mode) {
    m_mode = mode;
    m_findRow->setVisible(mode != GotoLine);
    m_replaceRow->setVisible(mode == Replace);
    m_lineRow->setVisible(mode == GotoLine);
    m_status->clear();
    if (mode == GotoLine) {
        m_line->setText(QString::number(m_editor->textCursor().blockNumber() + 1));
        show();
        m_line->setFocus(Qt::ShortcutFocusReason);
        m_line->selectAll();
        m_editor->setMarks({}, kMarkColor);
        return;
    }
    // A selection within one line is what to look for.
    const QString selected = m_editor->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
        m_find->setText(selected);
    show();
    m_find->setFocus(Qt::ShortcutFocusReason);
    m_find->selectAll();
    remark();
}

void FindBar::close() {
    hide();
    m_remark.stop();
    m_editor->setMarks({}, kMarkColor);
    m_editor->setFocus(Qt::ShortcutFocusReason);
}

SearchOptions FindBar::options() const {
    return {m_find->text(), m_case->isChecked(), m_word->isChecked(), m_regex->isChecked()};
}

const QString& FindBar::text() const {
    if (m_textStale) {
        m_text = m_editor->toPlainText();
        m_textStale = false;
    }
    return m_text;
}

void FindBar::showStatus(const QString& text) {
    m_status->setText(text);
}

bool FindBar::usable(const TextSearch& search) {
    if (!search.isValid())
        showStatus(search.errorText().isEmpty()
                       ? QString()
                       : QStringLiteral("Ungültiger Ausdruck: ") + search.errorText());
    return search.isValid();
}

bool FindBar::findNext(bool forward) {
    const TextSearch search(options());
    if (!usable(search))
        return false;
    const QTextCursor current = m_editor->textCursor();
    const int from = forward ? current.selectionEnd() : current.selectionStart();
    const TextSearch::Match m = search.find(text(), from, forward);
    if (m.first < 0) {
        showStatus(QStringLiteral("Nicht gefunden."));
        return false;
    }
    m_editor->setSelection(m.first, m.first + m.second);
    return true;
}

bool FindBar::replaceOne() {
    const TextSearch search(options());
    if (!usable(search))
        return false;
    QTextCursor cursor = m_editor->textCursor();
    if (cursor.hasSelection() &&
        search.matchesExactly(text(), cursor.selectionStart(),
                              cursor.selectionEnd() - cursor.selectionStart())) {
        const TextSearch::Match m{cursor.selectionStart(),
                                  cursor.selectionEnd() - cursor.selectionStart()};
        // In an edit block, where the cursor does not lay out its line.
        cursor.beginEditBlock();
        cursor.insertText(search.replacementFor(text(), m, m_replace->text()));
        cursor.endEditBlock();
        m_editor->setTextCursor(cursor);
    }
    return findNext(true);
}

int FindBar::replaceAll() {
    const TextSearch search(options());
    if (!usable(search))
        return 0;
    const QString& all = text();
    const QList<TextSearch::Match> matches = search.findAll(all);
    if (matches.isEmpty()) {
        showStatus(QStringLiteral("Nicht gefunden."));
        return 0;
    }
    // One step of undo: the first line's edit block opens it, each later
    // one joins it. Within a line only the matches themselves are replaced,
    // from the last, so earlier positions hold: the document then takes in
    // the replacements alone, not a copy of all the text between them, and
    // tells of the line's change once, when its block ends, so the editor
    // breaks and colours each line edited once. The lines are edited from
    // the last as well; no line break is removed and made again.
    QTextDocument* doc = m_editor->document();
    QTextCursor cursor(doc);
    const QString replacement = m_replace->text();
    bool first = true;
    qsizetype last = matches.size();
    while (last > 0) {
        const QTextBlock block = doc->findBlock(matches[last - 1].first);
        qsizetype begin = last - 1;
        while (begin > 0 && matches[begin - 1].first >= block.position())
            --begin;
        if (first)
            cursor.beginEditBlock();
        else
            cursor.joinPreviousEditBlock();
        first = false;
        for (qsizetype i = last; i-- > begin;) {
            const TextSearch::Match& m = matches[i];
            cursor.setPosition(m.first);
            cursor.setPosition(m.first + m.second, QTextCursor::KeepAnchor);
            cursor.insertText(search.replacementFor(all, m, replacement));
        }
        cursor.endEditBlock();
        last = begin;
    }
    m_editor->setTextCursor(cursor);
    const int count = int(matches.size());
    showStatus(QStringLiteral("%1 Stellen ersetzt.").arg(count));
    return count;
}

void FindBar::gotoLine(int line) {
    QTextDocument* doc = m_editor->document();
    const int number = std::clamp(line, 1, doc->blockCount()) - 1;
    const int start = doc->findBlockByNumber(number).position();
    m_editor->setSelection(start, start);
    m_editor->centerCursor();
    if (m_mode == GotoLine)
        close();
}

int FindBar::markedCount() const {
    return int(m_editor->marks().size());
}

void FindBar::remark() {
    if (isHidden() || m_mode == GotoLine) {
        m_editor->setMarks({}, kMarkColor);
        return;
    }
    const TextSearch search(options());
    if (!usable(search)) {
        m_editor->setMarks({}, kMarkColor);
        return;
    }
    QList<TextPane::Mark> marks = search.findAll(text(), kMaxMarks);
    const int count = int(marks.size());
    m_editor->setMarks(std::move(marks), kMarkColor);
    showStatus(count ? QStringLiteral("%1 Treffer").arg(count) : QStringLiteral("Nicht gefunden."));
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // Escape closes the bar here, whatever else it is bound to.
        auto* e = static_cast<QKeyEvent*>(event);
        if (e->key() == Qt::Key_Escape) {
            e->accept();
            return true;
        }
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* e = static_cast<QKeyEvent*>(event);
    if (e->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    if (e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter)
        return QWidget::eventFilter(watched, event);
    if (watched == m_line)
        gotoLine(m_line->text().toInt());
    else if (watched == m_replace)
        replaceOne();
    else
        findNext(!(e->modifiers() & Qt::ShiftModifier));
    return true;
}

} // namespace editor
