#include "calibration/thermistor.h"

#include <QTest>

Q_DECLARE_METATYPE(kelvaro::ThermistorInput)

using namespace kelvaro;

namespace {

// The board's design: T0 4850 us, R0 4540 ohm, B 4300, R25 10000 ohm.
ThermistorInput designInput(double minTh = -6, double maxTh = 46)
{
    return {4850, 4540, 4300, 10000, minTh, maxTh};
}

// B = 0 makes R(t) = R25 at every temperature, so P = (R0 + R25) * T0 / R0 exactly.
ThermistorInput flatInput(double T0, double R0, double R25, double minTh = 20, double maxTh = 20)
{
    return {T0, R0, 0, R25, minTh, maxTh};
}

ThermistorTable table(const ThermistorInput& input)
{
    const Outcome<ThermistorTable> result = calibrateThermistor(input);
    if (!result)
        qFatal("refused: %s", qPrintable(result.reason()));
    return result.value();
}

} // namespace

class TestThermistor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void designValues_reproduceBoardTable();
    void limits_roundedHalfToEven_data();
    void limits_roundedHalfToEven();
    void entries_roundedHalfToEven_data();
    void entries_roundedHalfToEven();
    void domain_data();
    void domain();
};

void TestThermistor::designValues_reproduceBoardTable()
{
    const ThermistorTable t = table(designInput());
    QCOMPARE(QString::number(t.k, 'f', 6), QStringLiteral("1.068282"));
    QCOMPARE(t.rowCount, 53);
    QCOMPARE(t.entries.size(), std::size_t(53));
    QCOMPARE(std::vector<qint32>(t.entries.begin(), t.entries.begin() + 5),
             (std::vector<qint32>{61903, 58575, 55464, 52555, 49832}));
    QCOMPARE(std::vector<qint32>(t.entries.end() - 5, t.entries.end()),
             (std::vector<qint32>{9753, 9546, 9349, 9161, 8982}));
    // 25 degrees is T = 298 K, where R = R25.
    QCOMPARE(t.points[31].celsius, 25);
    QCOMPARE(QString::number(t.points[31].pulseUs, 'f', 1), QStringLiteral("15532.8"));
    QCOMPARE(t.entries[31], 15533);
    QVERIFY(t.curveText.startsWith(QStringLiteral("61903, 58575, 55464, 52555, 49832, ")));
    QVERIFY(t.curveText.endsWith(QStringLiteral(", 9753, 9546, 9349, 9161, 8982")));
    QCOMPARE(t.curveText.split(QStringLiteral(", ")).size(), 53);
}

void TestThermistor::limits_roundedHalfToEven_data()
{
    QTest::addColumn<double>("minTh");
    QTest::addColumn<double>("maxTh");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("text"); // the whole text, or its start
    QTest::newRow("one temperature: no separator") << 20.0 << 20.0 << 20 << 20 << "18516";
    QTest::newRow("-6.5 starts at -6, 45.5 ends at 46") << -6.5 << 45.5 << -6 << 46 << "61903, ";
    QTest::newRow("-7.5 starts at -8") << -7.5 << 46.0 << -8 << 46 << "69276, ";
    QTest::newRow("minimum above 0 keeps own temperatures")
        << 10.0 << 12.0 << 10 << 12 << "27803, 26607, 25482";
}

void TestThermistor::limits_roundedHalfToEven()
{
    QFETCH(double, minTh);
    QFETCH(double, maxTh);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QString, text);
    const ThermistorTable t = table(designInput(minTh, maxTh));
    QCOMPARE(t.points.size(), std::size_t(last - first + 1));
    QCOMPARE(t.points.front().celsius, first);
    QCOMPARE(t.points.back().celsius, last);
    QVERIFY2(t.curveText.startsWith(text), qPrintable(t.curveText));
    QCOMPARE(t.curveText.split(QStringLiteral(", ")).size(), last - first + 1);
}

void TestThermistor::entries_roundedHalfToEven_data()
{
    QTest::addColumn<double>("R25");
    QTest::addColumn<double>("pulse");
    QTest::addColumn<QString>("text");
    // T0 / R0 = 0.5 / 1, so P = (1 + R25) / 2 carries an exact half.
    QTest::newRow("12345.5 up to 12346") << 24690.0 << 12345.5 << "12346";
    QTest::newRow("12346.5 down to 12346") << 24692.0 << 12346.5 << "12346";
    QTest::newRow("0.5 down to 0") << 0.0 << 0.5 << "0";
}

void TestThermistor::entries_roundedHalfToEven()
{
    QFETCH(double, R25);
    QFETCH(double, pulse);
    QFETCH(QString, text);
    const ThermistorTable t = table(flatInput(0.5, 1, R25));
    QCOMPARE(t.points.at(0).pulseUs, pulse);
    QCOMPARE(t.curveText, text);
}

void TestThermistor::domain_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<ThermistorInput>("input");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("R0 of 0") << flatInput(4850, 0, 10000) << false;
    QTest::newRow("minimum above maximum") << designInput(20.2, 20.1) << false;
    QTest::newRow("minimum -273") << flatInput(4850, 4540, 10000, -273, 0) << false;
    QTest::newRow("minimum -272.6 rounds to -273")
        << flatInput(4850, 4540, 10000, -272.6, 0) << false;
    QTest::newRow("minimum -272 is 1 K") << flatInput(4850, 4540, 10000, -272, 0) << true;
    QTest::newRow("32767 rows") << flatInput(4850, 4540, 10000, 0, 32766) << true;
    QTest::newRow("32768 rows") << flatInput(4850, 4540, 10000, 0, 32767) << false;
    QTest::newRow("maximum 1e300") << designInput(-6, 1e300) << false;
    QTest::newRow("B not a number") << ThermistorInput{4850, 4540, nan, 10000, -6, 46} << false;
    QTest::newRow("R25 infinite") << ThermistorInput{4850, 4540, 4300, inf, -6, 46} << false;
    QTest::newRow("resistance overflows")
        << ThermistorInput{4850, 4540, 1e6, 10000, -6, 46} << false;
    QTest::newRow("pulse beyond 32 bits") << flatInput(1e6, 1, 1e6) << false;
}

void TestThermistor::domain()
{
    QFETCH(ThermistorInput, input);
    QFETCH(bool, accepted);
    const Outcome<ThermistorTable> result = calibrateThermistor(input);
    QCOMPARE(bool(result), accepted);
    if (!accepted)
        QVERIFY(!result.reason().isEmpty());
}

QTEST_GUILESS_MAIN(TestThermistor)
#include "tst_thermistor.moc"
