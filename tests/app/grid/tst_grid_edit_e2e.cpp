// Editing in the result grid and the cell viewer, written back to a test
// server: typed cells, Enter at the row's end, leaving the row, the Insert
// key and the append row, Ctrl+Del with its question, conflicts and results
// that cannot be changed.

#include "app/grid/DBBGrid.h"
#include "app/grid/uBlob.h"
#include "tests/support/testserver_fixture.h"

#include "data/adocommand.h"
#include "data/adodataset.h"
#include "data/dataerror.h"
#include "modal/modal.h"
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

class TestGridEdit : public QObject {
    Q_OBJECT
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TADOConnection> m_conn;
    std::unique_ptr<TADODataSet> m_query;
    std::unique_ptr<TDataSource> m_source;
    std::unique_ptr<TDBBGrid> m_grid;
    QStringList m_errors;
    QList<modal::MessageRequest> m_questions;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;

    QString adoString() const {
        return QStringLiteral(
                   "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;Password=%2;"
                   "Initial Catalog=Musterfirma;Data Source=127.0.0.1,%3")
            .arg(QString::fromStdString(m_server->user()),
                 QString::fromStdString(m_server->password()))
            .arg(m_server->port());
    }

    void exec(const QString& sql) {
        TADOCommand cmd;
        cmd.setConnection(m_conn.get());
        cmd.setCommandText(sql);
        cmd.Execute();
    }

    // What another user of the server reads.
    QString serverValue(const QString& sql) {
        TADOConnection other;
        other.setConnectionString(adoString());
        TADODataSet ds;
        ds.setConnection(&other);
        ds.setCommandText(sql);
        ds.Open();
        return ds.Eof()                ? QStringLiteral("<none>")
               : ds.Fields(0).IsNull() ? QStringLiteral("<null>")
                                       : ds.Fields(0).AsString();
    }

    void openGrid(const QString& sql) {
        m_query->Close();
        m_query->setCommandText(sql);
        m_query->Open();
        m_grid->setCurrentIndex(m_grid->model()->index(0, 0));
    }

    // The cell editor that is open now (closed ones linger until deleted).
    QLineEdit* openEditor() const {
        for (QLineEdit* e : m_grid->findChildren<QLineEdit*>())
            if (e->isVisible())
                return e;
        return nullptr;
    }

    // Opens the cell's editor, types `text` and ends with `key`.
    void typeInto(int row, int column, const QString& text) {
        const QModelIndex index = m_grid->model()->index(row, column);
        m_grid->setCurrentIndex(index);
        m_grid->edit(index);
        QLineEdit* editor = openEditor();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TestServer>();
        m_conn = std::make_unique<TADOConnection>();
        m_conn->setConnectionString(adoString());
        m_query = std::make_unique<TADODataSet>();
        m_query->setConnection(m_conn.get());
        m_source = std::make_unique<TDataSource>();
        m_source->setDataSet(m_query.get());
        modal::setMessageHandler([this](const modal::MessageRequest& r) {
            m_questions.append(r);
            return m_answer;
        });
    }

    void cleanupTestCase() {
        modal::setMessageHandler({});
        m_grid.reset();
        m_source.reset();
        m_query.reset();
        m_conn.reset();
        m_server.reset();
    }

    void init() {
        exec(QStringLiteral("IF OBJECT_ID('GeKunden') IS NOT NULL DROP TABLE GeKunden"));
        exec(
            QStringLiteral("CREATE TABLE GeKunden (Nr int NOT NULL PRIMARY KEY, Name nvarchar(30), "
                           "Menge int NULL, Notiz ntext NULL)"));
        exec(QStringLiteral("INSERT INTO GeKunden VALUES (1, N'Anna', 5, N'kurz')"));
        exec(QStringLiteral("INSERT INTO GeKunden VALUES (2, N'Bert', NULL, NULL)"));
        m_grid = std::make_unique<TDBBGrid>();
        m_grid->setErrorHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                m_errors << QString::fromUtf8(x.what());
            }
        });
        m_grid->setDataSource(m_source.get());
        m_grid->resize(500, 300);
        m_grid->show();
        m_errors.clear();
        m_questions.clear();
        m_answer = QMessageBox::Ok;
        openGrid(QStringLiteral("SELECT Nr, Name, Menge FROM GeKunden ORDER BY Nr"));
    }

    void typedCellIsPostedWhenLeavingTheRow() {
        typeInto(0, 1, QStringLiteral("Anja"));
        QCOMPARE(m_query->State(), dsEdit);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Anja"));
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("Anna"));
        QTest::keyClick(m_grid.get(), Qt::Key_Down);
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(m_grid->currentIndex().row(), 1);
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("Anja"));
        QVERIFY(m_errors.isEmpty());
    }

    void enterInTheLastFieldPostsAndEmptyMeansNull() {
        typeInto(0, 2, QString()); // Menge emptied: NULL
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(serverValue(QStringLiteral("SELECT Menge FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("<null>"));
        typeInto(1, 2, QStringLiteral("12"));
        QCOMPARE(serverValue(QStringLiteral("SELECT Menge FROM GeKunden WHERE Nr = 2")),
                 QStringLiteral("12"));
    }

    void textThatIsNoValueIsRefused() {
        typeInto(0, 2, QStringLiteral("viele"));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.first().contains(QStringLiteral("viele")), qPrintable(m_errors.first()));
        QCOMPARE(m_grid->model()->index(0, 2).data().toString(), QStringLiteral("5"));
        QCOMPARE(serverValue(QStringLiteral("SELECT Menge FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("5"));
    }

    void insertKeyAndTheAppendRow() {
        m_grid->setCurrentIndex(m_grid->model()->index(1, 0));
        QTest::keyClick(m_grid.get(), Qt::Key_Insert);
        QCOMPARE(m_query->State(), dsInsert);
        QCOMPARE(m_grid->model()->rowCount(), 3);
        QCOMPARE(m_grid->currentIndex().row(), 1);
        typeInto(1, 0, QStringLiteral("7"));
        typeInto(1, 1, QStringLiteral("Neu"));
        QCOMPARE(m_query->State(), dsInsert);
        typeInto(1, 2, QStringLiteral("3")); // Enter at the row's end posts
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 7")),
                 QStringLiteral("Neu"));

        // Down from the last row opens an append row; leaving it untouched drops it.
        m_grid->setCurrentIndex(m_grid->model()->index(2, 1));
        QTest::keyClick(m_grid.get(), Qt::Key_Down);
        QCOMPARE(m_query->State(), dsInsert);
        QCOMPARE(m_grid->model()->rowCount(), 4);
        QCOMPARE(m_grid->currentIndex().row(), 3);
        QTest::keyClick(m_grid.get(), Qt::Key_Up);
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(m_grid->model()->rowCount(), 3);
        QCOMPARE(serverValue(QStringLiteral("SELECT COUNT(*) FROM GeKunden")), QStringLiteral("3"));

        // Escape drops a typed new row too.
        QTest::keyClick(m_grid.get(), Qt::Key_Insert);
        typeInto(m_grid->currentIndex().row(), 1, QStringLiteral("weg"));
        QTest::keyClick(m_grid.get(), Qt::Key_Escape);
        QCOMPARE(m_grid->model()->rowCount(), 3);
        QCOMPARE(m_query->State(), dsBrowse);
        QVERIFY(m_errors.isEmpty());
    }

    // Return in the next-to-last field moves on and leaves the row open:
    // the queued close of its editor must not post it, so Escape still
    // takes the edit back.
    void returnBeforeTheLastFieldKeepsTheRowOpen() {
        typeInto(0, 1, QStringLiteral("Anja"));
        QTest::qWait(20); // the editor's close comes queued
        QCOMPARE(m_query->State(), dsEdit);
        QCOMPARE(m_grid->currentIndex().column(), 2);
        QTest::keyClick(m_grid.get(), Qt::Key_Escape);
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Anna"));
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("Anna"));
    }

    // The row shows "I" from the first key typed into a cell, before the
    // cell is committed.
    void typingMarksTheRowAsEdited() {
        const QModelIndex cell = m_grid->model()->index(0, 1);
        m_grid->setCurrentIndex(cell);
        auto mark = [this] {
            QWidget* header = m_grid->rowHeader();
            const int top = header->height() - m_grid->viewport()->height();
            return header->grab().toImage().copy(
                0, top, header->width(), m_grid->visualRect(m_grid->model()->index(0, 0)).height());
        };
        const QImage browsing = mark();
        m_grid->edit(cell);
        QLineEdit* editor = openEditor();
        QVERIFY(editor);
        QCOMPARE(mark(), browsing); // an editor alone changes nothing
        QTest::keyClick(editor, Qt::Key_X);
        QCOMPARE(m_query->State(), dsBrowse);
        QVERIFY(mark() != browsing);
        QTest::keyClick(editor, Qt::Key_Escape);
    }

    // A new row nothing was typed into is dropped when the focus leaves
    // the grid; one with values stays.
    void untouchedInsertIsDroppedWhenFocusLeaves() {
        QWidget window;
        auto* other = new QLineEdit(&window);
        m_grid->setParent(&window);
        auto restore = qScopeGuard([this] {
            m_grid->setParent(nullptr);
            m_grid->show();
        });
        window.show();
        QApplication::setActiveWindow(&window);
        m_grid->setFocus();
        QTest::keyClick(m_grid.get(), Qt::Key_Insert);
        QCOMPARE(m_query->State(), dsInsert);
        QCOMPARE(m_grid->model()->rowCount(), 3);
        other->setFocus();
        QTRY_COMPARE(m_query->State(), dsBrowse);
        QCOMPARE(m_grid->model()->rowCount(), 2);
        QVERIFY(m_errors.isEmpty());
    }

    // Sorted on the client, an edited row is written to the row it came
    // from; a row inserted while sorted shows where the current row was.
    void editingASortedResult() {
        TDBBGridModel* model = m_grid->gridModel();
        QSignalSpy sorted(model, &TDBBGridModel::sorted);
        m_grid->sortByColumn(1);
        m_grid->sortByColumn(1); // by Name, descending: Bert, Anna
        QTRY_VERIFY(!model->sorting() && sorted.size() >= 1);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Bert"));
        typeInto(0, 2, QStringLiteral("7")); // Return in the last field posts
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(serverValue(QStringLiteral("SELECT Menge FROM GeKunden WHERE Nr = 2")),
                 QStringLiteral("7"));
        QCOMPARE(serverValue(QStringLiteral("SELECT Menge FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("5"));
        QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("7"));

        m_grid->setCurrentIndex(model->index(1, 0)); // Anna
        QTest::keyClick(m_grid.get(), Qt::Key_Insert);
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(m_grid->currentIndex().row(), 1);
        QCOMPARE(model->index(2, 1).data().toString(), QStringLiteral("Anna"));
        typeInto(1, 0, QStringLiteral("3"));
        typeInto(1, 1, QStringLiteral("Cora"));
        typeInto(1, 2, QStringLiteral("1"));
        QCOMPARE(m_query->State(), dsBrowse);
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 3")),
                 QStringLiteral("Cora"));
        QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("Cora"));
        QVERIFY(m_errors.isEmpty());
    }

    void ctrlDeleteAsksFirst() {
        m_grid->setCurrentIndex(m_grid->model()->index(0, 1));
        m_answer = QMessageBox::Cancel;
        QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_questions.size(), 1);
        QCOMPARE(m_questions.first().text, QStringLiteral("Datensatz löschen?"));
        QCOMPARE(m_questions.first().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(m_grid->model()->rowCount(), 2);
        QCOMPARE(serverValue(QStringLiteral("SELECT COUNT(*) FROM GeKunden")), QStringLiteral("2"));

        m_answer = QMessageBox::Ok;
        QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_questions.size(), 2);
        QCOMPARE(m_grid->model()->rowCount(), 1);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Bert"));
        QCOMPARE(serverValue(QStringLiteral("SELECT COUNT(*) FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("0"));
    }

    // By keyboard alone: F2 opens the cell's editor, Escape leaves it
    // without a change, Enter takes the text and moving on posts the row.
    void keyboardEditing() {
        m_grid->setCurrentIndex(m_grid->model()->index(0, 1));
        QTest::keyClick(m_grid.get(), Qt::Key_F2);
        QLineEdit* editor = openEditor();
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("xyz"));
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(!openEditor());
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Anna"));
        QCOMPARE(m_query->State(), dsBrowse);
        QTest::keyClick(m_grid.get(), Qt::Key_F2);
        editor = openEditor();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("Anne"));
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Anne"));
        QTest::keyClick(m_grid.get(), Qt::Key_Down);
        QCOMPARE(m_grid->currentIndex().row(), 1);
        QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("Anne"));
    }

    void conflictKeepsTheEditAndTheRow() {
        typeInto(0, 1, QStringLiteral("Meins"));
        exec(QStringLiteral("DELETE FROM GeKunden WHERE Nr = 1")); // someone else, in between
        QVERIFY_THROWS_EXCEPTION(data::UpdateConflictError,
                                 QTest::keyClick(m_grid.get(), Qt::Key_Down));
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QCOMPARE(m_query->State(), dsEdit);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Meins"));
        // A click on another row fails the same way and does not move.
        const QRect other = m_grid->visualRect(m_grid->model()->index(1, 1));
        QVERIFY_THROWS_EXCEPTION(
            data::UpdateConflictError,
            QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, other.center()));
        QCOMPARE(m_grid->currentIndex().row(), 0);
        // A move asked any other way goes to the dataset, which refuses it:
        // the error is reported and the grid never left the row.
        QSignalSpy moved(m_grid->selectionModel(), &QItemSelectionModel::currentChanged);
        m_grid->setCurrentIndex(m_grid->model()->index(1, 2));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(moved.isEmpty());
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QCOMPARE(m_query->RecNo(), 1);
        QTest::keyClick(m_grid.get(), Qt::Key_Escape);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), QStringLiteral("Anna"));
        QCOMPARE(m_query->State(), dsBrowse);
    }

    void resultThatCannotBeChangedRefusesEdits() {
        openGrid(QStringLiteral("SELECT Nr, Name + N'!' AS Ruf FROM GeKunden"));
        const QModelIndex cell = m_grid->model()->index(0, 1);
        m_grid->setCurrentIndex(cell);
        m_grid->edit(cell);
        QVERIFY(!openEditor());
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.first().contains(QStringLiteral("Ruf")), qPrintable(m_errors.first()));
        QVERIFY_THROWS_EXCEPTION(
            data::NotUpdatableError,
            QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier));
        QVERIFY(m_questions.isEmpty()); // refused before asking
        QVERIFY_THROWS_EXCEPTION(data::NotUpdatableError,
                                 QTest::keyClick(m_grid.get(), Qt::Key_Insert));
        // Down from the last row only moves.
        m_grid->setCurrentIndex(m_grid->model()->index(1, 0));
        QTest::keyClick(m_grid.get(), Qt::Key_Down);
        QCOMPARE(m_grid->model()->rowCount(), 2);
        QCOMPARE(m_query->State(), dsBrowse);
    }

    void viewerEditChangesTheCurrentRecord() {
        openGrid(QStringLiteral("SELECT Nr, Notiz FROM GeKunden ORDER BY Nr"));
        TFMBlob viewer(m_source.get());
        modal::setDialogHandler([](QDialog* d) {
            auto* v = static_cast<TFMBlob*>(d);
            v->DBMemo->selectAll();
            QTest::keyClicks(v->DBMemo, QStringLiteral("lang und neu"));
            return int(QDialog::Rejected);
        });
        m_query->setRecNo(1);
        DBGridQueryCellClick(viewer, m_query.get(), 1);
        modal::setDialogHandler({});
        QCOMPARE(m_query->State(), dsEdit);
        QCOMPARE(m_query->Fields(1).AsString(), QStringLiteral("lang und neu"));
        m_query->Post();
        QCOMPARE(serverValue(QStringLiteral("SELECT Notiz FROM GeKunden WHERE Nr = 1")),
                 QStringLiteral("lang und neu"));

        // A picture pasted into the picture control goes into the record too.
        exec(QStringLiteral("IF OBJECT_ID('GeBilder') IS NOT NULL DROP TABLE GeBilder"));
        exec(QStringLiteral("CREATE TABLE GeBilder (Nr int PRIMARY KEY, Bild image NULL)"));
        exec(QStringLiteral("INSERT INTO GeBilder VALUES (1, NULL)"));
        openGrid(QStringLiteral("SELECT Nr, Bild FROM GeBilder"));
        QImage red(5, 3, QImage::Format_RGB32);
        red.fill(Qt::red);
        QGuiApplication::clipboard()->setImage(red);
        modal::setDialogHandler([](QDialog* d) {
            auto* v = static_cast<TFMBlob*>(d);
            QTest::keyClick(v->DBImage, Qt::Key_V, Qt::ControlModifier);
            return int(QDialog::Rejected);
        });
        DBGridQueryCellClick(viewer, m_query.get(), 1);
        modal::setDialogHandler({});
        QCOMPARE(m_query->State(), dsEdit);
        QImage stored;
        QVERIFY(stored.loadFromData(m_query->Fields(1).Value().toByteArray(), "BMP"));
        QCOMPARE(stored.size(), QSize(5, 3));
        m_query->Post();
        QVERIFY(serverValue(QStringLiteral("SELECT DATALENGTH(Bild) FROM GeBilder")).toInt() > 54);
        openGrid(QStringLiteral("SELECT Nr, Notiz FROM GeKunden ORDER BY Nr"));

        // Viewing without typing changes nothing.
        modal::setDialogHandler([](QDialog*) { return int(QDialog::Rejected); });
        DBGridQueryCellClick(viewer, m_query.get(), 1);
        modal::setDialogHandler({});
        QCOMPARE(m_query->State(), dsBrowse);
    }
};

QTEST_MAIN(TestGridEdit)
#include "tst_grid_edit_e2e.moc"
