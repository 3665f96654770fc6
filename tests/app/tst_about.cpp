// About window: fade table and fade runs, closing by a click anywhere, the
// layout and version texts, and the pictures it and the title bar draw.
#include "app/uFMAbout.h"
#include "controls/VelVersionLabel.h"
#include "controls/imagelist.h"
#include "controls/pictures.h"
#include "controls/styledcontrols.h"
#include "controls/versioninfo.h"
#include "modal/modal.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QtTest>

namespace {

constexpr char kBlock[] = "TWVERSIONINFO\t1\n"
                          "FIXED\t4.0.0.25\t4.0.0.25\t0x3F\t0x00\n"
                          "TRANSLATION\t0C07\t04E4\n"
                          "STRING\t0C0704E4\tFileVersion\t4.0.0.25\n";

// Records every opacity a fade sets, per window.
struct OpacityLog {
    QList<int> values;
    OpacityLog() {
        TFMAbout::setOpacityObserver([this](TFMAbout*, int v) { values.append(v); });
    }
    ~OpacityLog() { TFMAbout::setOpacityObserver({}); }
};

QList<int> ramp(int step, int count) {
    QList<int> out;
    for (int i = 0; i <= count; ++i)
        out.append(i * step);
    return out;
}

QList<int> reversed(QList<int> list) {
    std::reverse(list.begin(), list.end());
    return list;
}

bool isOpaqueOrange(QRgb c) {
    return qAlpha(c) == 255 && qRed(c) > 200 && qGreen(c) > 80 && qGreen(c) < 200 && qBlue(c) < 100;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The offscreen platform cannot show opacity; the fade is checked
        // through the values the window sets.
        static QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.contains(QLatin1String("does not support setting window opacity")))
                    previous(type, context, message);
            });
        initStyledControls();
        versioninfo::registerExecutableBlock(kBlock, sizeof kBlock - 1);
    }
    void cleanup() {
        modal::setDialogHandler({});
        TFMAbout::setOpacityObserver({});
    }

    void fadeTable_data() {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<bool>("fades");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("finalOpacity");
        QTest::newRow("3200") << 3200.0 << true << 1 << 255 << 255;
        QTest::newRow("3000 is not above 3000") << 3000.0 << true << 2 << 127 << 254;
        QTest::newRow("2600") << 2600.0 << true << 2 << 127 << 254;
        QTest::newRow("2200") << 2200.0 << true << 3 << 85 << 255;
        QTest::newRow("2000 is not above 2000") << 2000.0 << true << 4 << 63 << 252;
        QTest::newRow("1500.5") << 1500.5 << true << 4 << 63 << 252;
        // The slow machines that still fade end fully opaque.
        QTest::newRow("1500") << 1500.0 << true << 5 << 51 << 255;
        QTest::newRow("1200") << 1200.0 << true << 5 << 51 << 255;
        QTest::newRow("1000.1") << 1000.1 << true << 5 << 51 << 255;
        QTest::newRow("1000") << 1000.0 << false << 0 << 0 << 0;
        QTest::newRow("900") << 900.0 << false << 0 << 0 << 0;
        QTest::newRow("failed measurement") << 500.0 << false << 0 << 0 << 0;
        QTest::newRow("not measured yet") << 0.0 << false << 0 << 0 << 0;
    }
    void fadeTable() {
        QFETCH(double, mhz);
        QFETCH(bool, fades);
        QFETCH(int, step);
        QFETCH(int, count);
        QFETCH(int, finalOpacity);
        int s = -7, c = -7;
        QCOMPARE(fadeForClock(mhz, s, c), fades);
        if (!fades) {
            QCOMPARE(s, -7); // untouched
            QCOMPARE(c, -7);
            return;
        }
        QCOMPARE(s, step);
        QCOMPARE(c, count);
        const std::vector<int> values = fadeInOpacities(s, c);
        QCOMPARE(int(values.size()), count + 1);
        QCOMPARE(values.front(), 0);
        QCOMPARE(values.back(), finalOpacity);
        for (size_t i = 1; i < values.size(); ++i)
            QCOMPARE(values[i] - values[i - 1], step);
    }

    void opacityKeepsLowEightBits() {
        const std::vector<int> values = fadeInOpacities(2, 130);
        QCOMPARE(values[128], 0); // 256 wraps
        QCOMPARE(values[130], 4);
    }

    // The window passes every value of the table in, and the same values back out.
    void fadeRun_data() {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("count");
        QTest::newRow("3200") << 3200.0 << 1 << 255;
        QTest::newRow("2200") << 2200.0 << 3 << 85;
        QTest::newRow("1200") << 1200.0 << 5 << 51;
    }
    void fadeRun() {
        QFETCH(double, mhz);
        QFETCH(int, step);
        QFETCH(int, count);
        OpacityLog log;
        QPointer<TFMAbout> about = new TFMAbout(nullptr, mhz, true);
        QVERIFY(about->transparencyOn());
        QCOMPARE(log.values, QList<int>{0}); // invisible until it fades in
        log.values.clear();

        about->show();
        QTRY_COMPARE(log.values.size(), count + 1);
        QCOMPARE(log.values, ramp(step, count));
        QCOMPARE(about->opacity(), step * count);
        QCOMPARE(qRound(about->windowOpacity() * 255), step * count);

        // Activating again (after another program had the focus) does not fade again.
        about->FormActivate();
        QCOMPARE(log.values.size(), count + 1);

        log.values.clear();
        QTest::mouseClick(about->PAMain, Qt::LeftButton, {}, QPoint(200, 150));
        QCOMPARE(log.values, reversed(ramp(step, count)));
        QVERIFY(about->isHidden());
        QTRY_VERIFY(about.isNull()); // it frees itself once closed
    }

    void noFade_data() {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<bool>("effects");
        QTest::newRow("900 MHz") << 900.0 << true;
        QTest::newRow("no window effects") << 3200.0 << false;
    }
    void noFade() {
        QFETCH(double, mhz);
        QFETCH(bool, effects);
        OpacityLog log;
        QPointer<TFMAbout> about = new TFMAbout(nullptr, mhz, effects);
        QVERIFY(!about->transparencyOn());
        QCOMPARE(about->windowFlags().testFlag(Qt::NoDropShadowWindowHint), !effects);
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        about->FormActivate();
        QCOMPARE(about->windowOpacity(), 1.0);
        QTest::mouseClick(about->PAMain, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(about->isHidden());
        QTRY_VERIFY(about.isNull());
        QVERIFY(log.values.isEmpty());
    }

    // Opening twice in a row fades the same way both times.
    void secondOpeningFadesAlike() {
        OpacityLog log;
        QList<int> first;
        for (int round = 0; round < 2; ++round) {
            log.values.clear();
            QPointer<TFMAbout> about = new TFMAbout(nullptr, 2200, true);
            about->show();
            QTRY_COMPARE(log.values.size(), 87); // the 0 of preparation, then 86 steps
            QTest::mouseClick(about->Label3, Qt::LeftButton);
            QTRY_VERIFY(about.isNull());
            if (round == 0)
                first = log.values;
        }
        QCOMPARE(log.values, first);
        QCOMPARE(first.size(), 87 + 86);
    }

    // A click closing the window during its fade-in stops the fade and
    // fades out from where it got to.
    void clickDuringFadeIn() {
        OpacityLog log;
        QPointer<TFMAbout> about = new TFMAbout(nullptr, 3200, true);
        TFMAbout::setOpacityObserver([&](TFMAbout* w, int v) {
            log.values.append(v);
            if (v == 10)
                QMetaObject::invokeMethod(
                    w, [w] { w->PAMainClick(); }, Qt::QueuedConnection);
        });
        about->show();
        QTRY_VERIFY(about.isNull());
        QVERIFY(!log.values.contains(11));
        QCOMPARE(log.values.last(), 0);
        QVERIFY(log.values.indexOf(10) < log.values.lastIndexOf(9));
    }

    void clickAnywhereCloses_data() {
        QTest::addColumn<QString>("name");
        for (const char* n : {"PAMain", "IMIcon", "IMLogo", "Label2", "VelVersionLabel1",
                              "VelVersionLabel2", "Image1", "Label3"})
            QTest::newRow(n) << QString::fromLatin1(n);
    }
    void clickAnywhereCloses() {
        QFETCH(QString, name);
        QPointer<TFMAbout> about = new TFMAbout(nullptr, 0, false);
        about->show();
        QWidget* target = about->findChild<QWidget*>(name);
        QVERIFY(target);
        // The right button does nothing; a left click closes.
        QTest::mouseClick(target, Qt::RightButton);
        QVERIFY(about->isVisible());
        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(about->isHidden());
        QTRY_VERIFY(about.isNull());
    }

    void escapeClosesAndFrees() {
        QPointer<TFMAbout> about = new TFMAbout(nullptr, 0, false);
        about->show();
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(about.isNull());
    }

    void layout() {
        TFMAbout about(nullptr, 0, false);
        QCOMPARE(about.objectName(), QStringLiteral("FMAbout"));
        QCOMPARE(about.size(), QSize(461, 270));
        QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(about.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(about.PAMain->geometry(), QRect(0, 0, 461, 270));
        QCOMPARE(about.IMIcon->geometry(), QRect(16, 16, 48, 48));
        QCOMPARE(about.IMLogo->geometry(), QRect(83, 40, 155, 18));
        QCOMPARE(about.Image1->geometry(), QRect(295, 196, 150, 20));
        QCOMPARE(about.Label3->geometry(), QRect(188, 220, 257, 41));
        QCOMPARE(about.Label2->pos(), QPoint(84, 60));
        QCOMPARE(about.Label2->text(), QStringLiteral("SQL Server Database Query"));
        QCOMPARE(about.VelVersionLabel1->pos(), QPoint(84, 76));
        QCOMPARE(about.VelVersionLabel1->text(), QStringLiteral("Version: 4.0.0"));
        QCOMPARE(about.VelVersionLabel2->text(), QStringLiteral("Built: 25"));
        QCOMPARE(about.VelVersionLabel2->y(), 76);
        QCOMPARE(about.VelVersionLabel2->geometry().right() + 1, 445);
        // The notice's three lines fit its box without further wrapping.
        QVERIFY(about.Label3->wordWrap());
        QCOMPARE(about.Label3->text().count(QLatin1Char('\n')), 2);
        QVERIFY(about.Label3->heightForWidth(257) <= 41);
        QCOMPARE(about.Label3->heightForWidth(257), about.Label3->heightForWidth(2000));
    }

    // The window made at start-up builds its controls only when it is first
    // shown or asked to; it then looks exactly like one built at once, and a
    // click on it still closes it.
    void controlsBuiltWhenShown() {
        TFMAbout now(nullptr, 0, false);
        QPointer<TFMAbout> later = new TFMAbout(nullptr, 0, false, TFMAbout::Controls::WhenShown);
        QVERIFY(!later->isBuilt());
        later->ensurePolished(); // the main window's show polishes it as a child
        QVERIFY(!later->findChild<QLabel*>(QStringLiteral("Label2")));
        later->ensureBuilt();
        QVERIFY(later->isBuilt());
        QCOMPARE(later->grab().toImage(), now.grab().toImage());
        QCOMPARE(later->findChild<QLabel*>(QStringLiteral("Label2")), later->Label2);

        QPointer<TFMAbout> shown = new TFMAbout(nullptr, 0, false, TFMAbout::Controls::WhenShown);
        shown->show();
        QVERIFY(shown->Label2 && shown->Label2->isVisible());
        QTest::mouseClick(shown->Label2, Qt::LeftButton);
        QTRY_VERIFY(shown.isNull());
        delete later;
    }

    void centredOverOwnerThroughModalSeam() {
        QWidget owner;
        owner.setGeometry(100, 80, 942, 696);
        QPointer<TFMAbout> about = new TFMAbout(&owner, 0, false);
        QRect seen;
        modal::setDialogHandler([&](QDialog* d) {
            seen = d->frameGeometry();
            return int(QDialog::Rejected);
        });
        about->execOver(&owner);
        QCOMPARE(seen.center(), owner.frameGeometry().center());
    }

    // What a person sees: white panel, grey border, the orange emblem,
    // lettering, the two version texts.
    void rendered() {
        TFMAbout about(nullptr, 0, false);
        const QImage img = about.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(img.size(), QSize(461, 270));
        QCOMPARE(QColor(img.pixel(0, 0)), QColor(0x80, 0x80, 0x80));
        QCOMPARE(QColor(img.pixel(460, 269)), QColor(0x80, 0x80, 0x80));
        QCOMPARE(QColor(img.pixel(300, 150)), QColor(Qt::white));
        QVERIFY(isOpaqueOrange(img.pixel(16 + 6, 16 + 24))); // the disc left of the cylinder
        QVERIFY(QColor(img.pixel(16 + 24, 16 + 14)).lightness() > 240); // the white cylinder's top
        int dark = 0;
        for (int x = 83; x < 83 + 155; ++x)
            for (int y = 40; y < 58; ++y)
                dark += QColor(img.pixel(x, y)).lightness() < 128;
        QVERIFY2(dark > 50, "the product lettering is drawn");
    }

    void pictures() {
        const QImage emblem = emblemPixmap(48).toImage();
        QCOMPARE(emblem.size(), QSize(48, 48));
        QCOMPARE(qAlpha(emblem.pixel(0, 0)), 0); // transparent around the disc
        QVERIFY(isOpaqueOrange(emblem.pixel(6, 24)));
        QCOMPARE(productLogoPixmap(Qt::white).size(), QSize(155, 18));
        // Each colour is its own lettering, and asking again gives the same picture.
        QVERIFY(productLogoPixmap(Qt::red).toImage() != productLogoPixmap(Qt::white).toImage());
        QCOMPARE(productLogoPixmap(Qt::red).toImage(), productLogoPixmap(Qt::red).toImage());
        QCOMPARE(makerLogoPixmap().size(), QSize(150, 20));

        ImageList list(QSize(16, 16));
        addWindowButtonImages(list);
        QCOMPARE(list.count(), 9);
        // Every state of every button looks different, and the corners stay see-through.
        QSet<QByteArray> distinct;
        for (int i = 0; i < list.count(); ++i) {
            QImage img = list.image(i).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(img.size(), QSize(16, 16));
            QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
            distinct.insert(
                QByteArray(reinterpret_cast<const char*>(img.constBits()), int(img.sizeInBytes())));
        }
        QCOMPARE(distinct.size(), 9);
        // The close button turns red when hot.
        const QColor hot(list.image(wbCloseHot).toImage().pixel(3, 8));
        QVERIFY(hot.red() > hot.green() + 60);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
