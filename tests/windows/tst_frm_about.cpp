#include "windows/frm_about.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace kelvaro;

class TestFrmAbout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ok_closesAndUnloads();
};

void TestFrmAbout::ok_closesAndUnloads()
{
    QPointer<Frm_About> about = new Frm_About;
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    auto* ok = about->findChild<QPushButton*>(u"Command1"_s);
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QTRY_VERIFY(about.isNull());
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frm_about.moc"
