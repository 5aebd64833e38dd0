#include "windows/frm_splash.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

using namespace kelvaro;

class TestFrmSplash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void clickOrTick_asksForMainWindowOnce_data();
    void clickOrTick_asksForMainWindowOnce();

private:
    QPointer<Frm_Splash> m_splash;
};

void TestFrmSplash::init()
{
    m_splash = new Frm_Splash;
    m_splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_splash));
}

void TestFrmSplash::cleanup()
{
    delete m_splash;
}

void TestFrmSplash::clickOrTick_asksForMainWindowOnce_data()
{
    // Events in order: 'c' a click on the picture, 't' a tick of the timer.
    QTest::addColumn<QString>("events");
    QTest::newRow("click") << "c";
    QTest::newRow("tick") << "t";
    QTest::newRow("two clicks") << "cc";
    QTest::newRow("click then tick") << "ct";
    QTest::newRow("tick then click") << "tc";
}

void TestFrmSplash::clickOrTick_asksForMainWindowOnce()
{
    QFETCH(QString, events);
    QSignalSpy requests(m_splash.data(), &Frm_Splash::showMainWindow);
    QTimer* timer = m_splash->timer();
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 10000);
    auto* picture = m_splash->findChild<QWidget*>(u"Image1"_s);
    QVERIFY(picture);

    for (const QChar event : events) {
        if (event == QLatin1Char('c')) {
            QTest::mouseClick(picture, Qt::LeftButton);
        } else if (timer->isActive()) {
            timer->start(1); // the ten seconds, shortened
            QTRY_COMPARE(requests.count(), 1);
        } else {
            // A stopped timer cannot tick; make it run again as a late tick would.
            timer->start(1);
            QTest::qWait(20);
        }
        QCOMPARE(requests.count(), 1);
        QVERIFY(!timer->isActive());
    }
}

QTEST_MAIN(TestFrmSplash)
#include "tst_frm_splash.moc"
