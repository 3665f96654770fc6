// The settings dialog: values shown on opening, what OK and Cancel keep, and
// the printer choices that take effect at once.

#include "structure/globals.h"
#include "structure/printerobject.h"
#include "structure/setup.h"
#include "structure/stringgrid.h"

#include "modal/modal.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

class TestSetup : public QObject {
    Q_OBJECT
    TFMsetup* m_dialog = nullptr;
    TShortcutTexts m_texts;
    QList<int> m_applied;

    // Opens the dialog through the settings action; `user` plays the user
    // on the shown dialog and returns true to press OK, false to cancel.
    bool run(const std::function<bool(TFMsetup&)>& user) {
        modal::setDialogHandler([&](QDialog* d) {
            d->show();
            auto* dlg = static_cast<TFMsetup*>(d);
            if (user(*dlg))
                dlg->Button1->click();
            else
                dlg->Button2->click();
            return d->result();
        });
        return ACSetupExecute(*m_dialog, m_texts, [this](int t) { m_applied << t; });
    }

private slots:
    void init() {
        printerobject::setPrinterSource({});
        printerobject::setOrientation(QPageLayout::Portrait);
        PrintFontSize = 10;
        QueryTimeout = 0;
        m_texts = {};
        m_applied.clear();
        m_dialog = new TFMsetup;
    }

    void cleanup() {
        delete m_dialog;
        modal::setDialogHandler({});
        modal::setPrintHandler({});
    }

    void layoutAndTexts() {
        QCOMPARE(m_dialog->objectName(), QStringLiteral("FMsetup"));
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Einstellungen"));
        QCOMPARE(m_dialog->size(), QSize(305, 265));
        QTabWidget* pages = m_dialog->PageControl1;
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0), QStringLiteral("Drucken"));
        QCOMPARE(pages->tabText(1), QStringLiteral("Tastaturkürzel"));
        QCOMPARE(pages->tabText(2), QStringLiteral("ADO"));
        const QList<QPair<const char*, QString>> texts = {{"Button1", "OK"},
                                                          {"Button2", "&Abbrechen"},
                                                          {"Button3", "&Hilfe"},
                                                          {"Button4", "&Eigenschaften"},
                                                          {"RBPortrait", "Hochformat"},
                                                          {"RBLandscape", "Querformat"}};
        for (const auto& [name, text] : texts) {
            auto* b = m_dialog->findChild<QAbstractButton*>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text(), text);
        }
        QStringList labels;
        for (QLabel* l : m_dialog->findChildren<QLabel*>())
            labels << l->text();
        for (const char* t : {"Drucker:", "Optionen:", "Ausrichtung:", "Schriftgröße:", "ADO:",
                              "Timeout für Suchanfrage (in Sek.)"})
            QVERIFY2(labels.contains(QString::fromUtf8(t)), t);
        QVERIFY(m_dialog->Button1->isDefault());
        QCOMPARE(m_dialog->DRSize->minimum(), 4);
        QCOMPARE(m_dialog->DRSize->maximum(), 14);
        QCOMPARE(m_dialog->DRSize->value(), 10);
        QCOMPARE(m_dialog->EDADOTimeout->text(), QStringLiteral("0"));
        QCOMPARE(m_dialog->STGShortCut->rowCount(), 11);
        QCOMPARE(m_dialog->STGShortCut->columnCount(), 2);
    }

    void confirmedValuesTakeEffect() {
        m_texts[2] = QStringLiteral("SELECT 3");
        QueryTimeout = 7;
        const bool ok = run([](TFMsetup& d) {
            StringGrid* g = d.STGShortCut;
            for (int row = 1; row <= 10; ++row)
                if (g->cells(0, row) != QStringLiteral("F%1").arg(row))
                    return false;
            if (g->cells(1, 3) != QStringLiteral("SELECT 3") || g->cells(0, 0) != QString() ||
                d.EDADOTimeout->text() != QStringLiteral("7"))
                return false;
            g->setCells(1, 3, QStringLiteral("sp_who"));
            g->setCells(1, 10, QStringLiteral("F10 text"));
            d.DRSize->setValue(12);
            d.EDADOTimeout->setText(QStringLiteral("30"));
            return true;
        });
        QVERIFY(ok);
        QCOMPARE(m_texts[2], QStringLiteral("sp_who"));
        QCOMPARE(m_texts[9], QStringLiteral("F10 text"));
        QCOMPARE(PrintFontSize, 12);
        QCOMPARE(QueryTimeout, 30);
        QCOMPARE(m_applied, QList<int>{30});
    }

    // The dialog made at start-up builds its controls only when it is run:
    // it then shows the current values and keeps what OK confirms, and looks
    // as one built at once.
    void controlsBuiltWhenRun() {
        delete m_dialog;
        m_dialog = new TFMsetup(nullptr, TFMsetup::Controls::WhenShown);
        m_dialog->ensurePolished();
        QVERIFY(!m_dialog->isBuilt());
        QVERIFY(!m_dialog->findChild<QSpinBox*>());
        QCOMPARE(m_dialog->fontSizeValue(), 10);

        m_texts[0] = QStringLiteral("SELECT 1");
        QString shown;
        QVERIFY(run([&](TFMsetup& d) {
            shown = d.STGShortCut->cells(1, 1);
            d.DRSize->setValue(13);
            return true;
        }));
        QCOMPARE(shown, QStringLiteral("SELECT 1"));
        QCOMPARE(PrintFontSize, 13);

        TFMsetup later(nullptr, TFMsetup::Controls::WhenShown);
        later.ensureBuilt();
        TFMsetup now;
        QCOMPARE(later.grab().toImage(), now.grab().toImage());
    }

    void cancelKeepsValuesButNotFontField() {
        m_texts[0] = QStringLiteral("old");
        QueryTimeout = 5;
        QVERIFY(!run([](TFMsetup& d) {
            d.STGShortCut->setCells(1, 1, QStringLiteral("new"));
            d.EDADOTimeout->setText(QStringLiteral("99"));
            d.DRSize->setValue(6);
            d.PageControl1->setCurrentIndex(2);
            return false;
        }));
        QCOMPARE(m_texts[0], QStringLiteral("old"));
        QCOMPARE(QueryTimeout, 5);
        QCOMPARE(PrintFontSize, 10);
        QVERIFY(m_applied.isEmpty());
        // Next opening: texts and time-out from the values, font size and page
        // as the user left them.
        QString shown, timeout;
        int size = 0, page = -1;
        QVERIFY(run([&](TFMsetup& d) {
            shown = d.STGShortCut->cells(1, 1);
            timeout = d.EDADOTimeout->text();
            size = d.DRSize->value();
            page = d.PageControl1->currentIndex();
            return true;
        }));
        QCOMPARE(shown, QStringLiteral("old"));
        QCOMPARE(timeout, QStringLiteral("5"));
        QCOMPARE(size, 6);
        QCOMPARE(page, 2);
        QCOMPARE(PrintFontSize, 6);
    }

    void timeoutText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("timeout");
        QTest::newRow("number") << "45" << 45;
        QTest::newRow("blanks around") << " 12 " << 12;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("fraction") << "1.5" << 0;
        QTest::newRow("trailing letters") << "10s" << 0;
        QTest::newRow("negative passed on") << "-3" << -3;
    }

    void timeoutText() {
        QFETCH(QString, text);
        QFETCH(int, timeout);
        QueryTimeout = 77;
        QVERIFY(run([&](TFMsetup& d) {
            d.EDADOTimeout->setText(text);
            return true;
        }));
        QCOMPARE(QueryTimeout, timeout);
        QCOMPARE(m_applied, QList<int>{timeout});
    }

    void fontSizeWithoutNumberCountsAsFour() {
        QVERIFY(run([](TFMsetup& d) {
            d.DRSize->findChild<QLineEdit*>()->clear();
            return true;
        }));
        QCOMPARE(PrintFontSize, 4);
        QCOMPARE(m_dialog->DRSize->value(), 4);
    }

    void editorTextIsTakenOnOk() {
        QVERIFY(run([](TFMsetup& d) {
            StringGrid* g = d.STGShortCut;
            g->setCurrentCell(4, 1);
            g->editItem(g->item(4, 1));
            auto* editor = g->findChild<QLineEdit*>();
            if (!editor)
                return false;
            editor->setText(QStringLiteral("typed"));
            return true;
        }));
        QCOMPARE(m_texts[3], QStringLiteral("typed"));
    }

    void printerChoiceAppliesAtOnce() {
        printerobject::setPrinterSource({[] {
                                             return QStringList{"Laser", "Tinte", "Etiketten"};
                                         },
                                         [] { return QString("Tinte"); }});
        int shownIndex = -1;
        QStringList shownNames;
        QVERIFY(!run([&](TFMsetup& d) {
            for (int i = 0; i < d.CBDrucker->count(); ++i)
                shownNames << d.CBDrucker->itemText(i);
            shownIndex = d.CBDrucker->currentIndex();
            d.CBDrucker->setCurrentIndex(2);
            d.CBDrucker->activated(2);
            d.RBLandscape->click();
            return false; // cancelled: the choices stay all the same
        }));
        QCOMPARE(shownNames, QStringList({"Laser", "Tinte", "Etiketten"}));
        QCOMPARE(shownIndex, 1);
        QCOMPARE(printerobject::printerIndex(), 2);
        QCOMPARE(printerobject::orientation(), QPageLayout::Landscape);
        bool landscapeShown = false;
        QVERIFY(run([&](TFMsetup& d) {
            landscapeShown = d.RBLandscape->isChecked() && !d.RBPortrait->isChecked();
            shownIndex = d.CBDrucker->currentIndex();
            d.RBPortrait->click();
            d.CBDrucker->setCurrentIndex(0); // taken on OK
            return true;
        }));
        QVERIFY(landscapeShown);
        QCOMPARE(shownIndex, 2);
        QCOMPARE(printerobject::printerIndex(), 0);
        QCOMPARE(printerobject::orientation(), QPageLayout::Portrait);
    }

    void propertiesDialogRefillsFromPrinter() {
        QList<modal::PrintKind> asked;
        modal::setPrintHandler([&](modal::PrintKind kind, QPrinter* p, QWidget*) {
            asked << kind;
            p->setPageOrientation(QPageLayout::Landscape);
            return false; // whatever the result, the dialog refills
        });
        bool landscapeShown = false;
        QVERIFY(run([&](TFMsetup& d) {
            d.Button4->click();
            landscapeShown = d.RBLandscape->isChecked();
            return true;
        }));
        QCOMPARE(asked, QList<modal::PrintKind>{modal::PrintKind::PageSetup});
        QVERIFY(landscapeShown);
    }

    void noPrinterInstalledKeepsTheRest() {
        printerobject::setPrinterSource({[] { return QStringList(); }, [] { return QString(); }});
        m_texts[0] = QStringLiteral("a");
        int count = -1;
        QVERIFY(run([&](TFMsetup& d) {
            count = d.CBDrucker->count();
            d.STGShortCut->setCells(1, 1, QStringLiteral("b"));
            d.EDADOTimeout->setText(QStringLiteral("3"));
            return true;
        }));
        QCOMPARE(count, 0);
        QCOMPARE(printerobject::printerIndex(), -1);
        QCOMPARE(m_texts[0], QStringLiteral("b"));
        QCOMPARE(QueryTimeout, 3);
    }
};

QTEST_MAIN(TestSetup)
#include "tst_setup.moc"
