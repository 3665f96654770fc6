// The messages page's wording: error headings as the server's tools print
// them, row counts, the editor line an error points at, run summaries.

#include "app/logic/messagetext.h"

#include <QtTest>

class TestMessageText : public QObject {
    Q_OBJECT
private slots:
    void headings() {
        QCOMPARE(errorHeading({208, 16, 1, 3, {}}),
                 QStringLiteral("Meldung 208, Ebene 16, Status 1, Zeile 3"));
        QCOMPARE(errorHeading({50000, 16, 1, 5, QStringLiteral("byroyalty")}),
                 QStringLiteral("Meldung 50000, Ebene 16, Status 1, Prozedur byroyalty, Zeile 5"));
        // What the server did not send is left out; a client error has none.
        QCOMPARE(errorHeading({245, 16, -1, 0, {}}), QStringLiteral("Meldung 245, Ebene 16"));
        QCOMPARE(errorHeading({0, -1, -1, 0, {}}), QString());
    }
    void rowCounts() {
        QCOMPARE(rowsAffectedText(1), QStringLiteral("(1 Zeile betroffen)"));
        QCOMPARE(rowsAffectedText(0), QStringLiteral("(0 Zeilen betroffen)"));
        QCOMPARE(rowsAffectedText(23), QStringLiteral("(23 Zeilen betroffen)"));
    }
    void editorLines() {
        // Line 1 of a batch that starts at script line 10 (0-based) of a
        // selection starting at editor line 4: editor line 14.
        QCOMPARE(editorLineOf(1, 10, 4), 14);
        QCOMPARE(editorLineOf(3, 0, 0), 2);
        QCOMPARE(editorLineOf(0, 10, 4), -1);
    }
    void summaries() {
        QCOMPARE(runSummaryText(1, true, false, 250), QStringLiteral("1 Datensatz in 0,25 s"));
        QCOMPARE(runSummaryText(12345, true, true, 1500),
                 QStringLiteral("12.345 Datensätze (unvollständig) in 1,50 s"));
        QCOMPARE(runSummaryText(0, false, false, 20), QStringLiteral("Ausgeführt in 0,02 s"));
        QCOMPARE(failedBatchesText(1, 76),
                 QStringLiteral("1 von 76 Batches ist fehlgeschlagen. Die Fehler stehen auf der "
                                "Seite \"Nachrichten\"."));
        QCOMPARE(failedBatchesText(3, 76).left(36),
                 QStringLiteral("3 von 76 Batches sind fehlgeschlagen"));
        QCOMPARE(failedBatchLine(2, 9),
                 QStringLiteral("Batch 2 (ab Zeile 10) ist fehlgeschlagen."));
    }
};

QTEST_MAIN(TestMessageText)
#include "tst_messagetext.moc"
