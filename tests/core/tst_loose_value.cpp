#include "core/loose_value.h"

#include <QTest>

using namespace kelvaro;

class TestLooseValue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void unsetComparesEqualToZeroAndEmptyText();
    void plainNumberText_usesDotAndNoPointForWholeNumbers_data();
    void plainNumberText_usesDotAndNoPointForWholeNumbers();
};

void TestLooseValue::unsetComparesEqualToZeroAndEmptyText()
{
    const LooseValue unset;
    QVERIFY(unset.isUnset());
    QVERIFY(unset.equalsNumber(0));
    QVERIFY(!unset.equalsNumber(1));
    QVERIFY(unset.equalsText(QString()));
    QVERIFY(LooseValue::number(1).equalsNumber(1));
    QVERIFY(!LooseValue::text(QStringLiteral("1")).equalsNumber(1));
    QVERIFY(!LooseValue::number(0).equalsText(QStringLiteral("0")));
    QVERIFY(LooseValue() != LooseValue::number(0)); // kinds differ
}

void TestLooseValue::plainNumberText_usesDotAndNoPointForWholeNumbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 4540.0 << "4540";
    QTest::newRow("negative whole") << -6.0 << "-6";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("fraction") << -6.5 << "-6.5";
    QTest::newRow("shortest round trip") << 0.1 << "0.1";
    QTest::newRow("small, no exponent") << 0.00001 << "0.00001";
    QTest::newRow("large, no exponent") << 1e20 << "100000000000000000000";
}

void TestLooseValue::plainNumberText_usesDotAndNoPointForWholeNumbers()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(plainNumberText(value), text);
    QCOMPARE(text.toDouble(), value);
    QLocale::setDefault(QLocale::c());
}

QTEST_GUILESS_MAIN(TestLooseValue)
#include "tst_loose_value.moc"
