// What a logged column means: its kind from the field name, its name, and its shown value
// in °C or °F, on/off, or minutes and seconds through the timer calibration.

#include "core/field_names.h"
#include "core/settings_record.h"
#include "history/field_meaning.h"

#include <QTest>

using namespace kelvaro;

Q_DECLARE_METATYPE(kelvaro::FieldKind)

class TestFieldMeaning : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fieldKind_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<FieldKind>("kind");
        QTest::newRow("actual temperature")
            << QStringLiteral("Actual Temperature (i16)") << FieldKind::Temperature;
        QTest::newRow("set-point with (P)")
            << QStringLiteral("Setpoint Low (P) (i16)") << FieldKind::Temperature;
        QTest::newRow("hysteresis byte")
            << QStringLiteral("Lower Hysterisis (h08)") << FieldKind::Hysteresis;
        QTest::newRow("relay") << QStringLiteral("Relay Status (h08)") << FieldKind::Relay;
        QTest::newRow("relay time")
            << QStringLiteral("Actual Time Off (u16)") << FieldKind::Duration;
        QTest::newRow("delay") << QStringLiteral("Set. Time Delay (P) (u16)")
                               << FieldKind::Duration;
        QTest::newRow("counter") << QStringLiteral("Counter_2sec (l08)") << FieldKind::Number;
        QTest::newRow("pulse") << QStringLiteral("Pulse Duration NE555 (u16)") << FieldKind::Number;
        QTest::newRow("unnamed column") << QStringLiteral("column 4") << FieldKind::Number;
    }
    void fieldKind()
    {
        QFETCH(QString, name);
        QFETCH(FieldKind, kind);
        QCOMPARE(kelvaro::fieldKind(name), kind);
    }

    void valueFileText_data()
    {
        QTest::addColumn<FieldKind>("kind");
        QTest::addColumn<qint32>("raw");
        QTest::addColumn<bool>("fahrenheit");
        QTest::addColumn<qint32>("calibration");
        QTest::addColumn<QString>("text");
        QTest::newRow("24.68 C") << FieldKind::Temperature << 2468 << false << 10000
                                 << QStringLiteral("24.68");
        QTest::newRow("word 65300 is -2.36 C")
            << FieldKind::Temperature << 65300 << false << 10000 << QStringLiteral("-2.36");
        QTest::newRow("word 65300 in F")
            << FieldKind::Temperature << 65300 << true << 10000 << QStringLiteral("27.75");
        QTest::newRow("-6.00 C word")
            << FieldKind::Temperature << 64936 << false << 10000 << QStringLiteral("-6.00");
        QTest::newRow("23.45 C in F")
            << FieldKind::Temperature << 2345 << true << 10000 << QStringLiteral("74.21");
        QTest::newRow("zero") << FieldKind::Temperature << 0 << false << 10000
                              << QStringLiteral("0.00");
        QTest::newRow("hysteresis 0.50 in F keeps the offset")
            << FieldKind::Hysteresis << 50 << true << 10000 << QStringLiteral("32.90");
        QTest::newRow("hysteresis byte 200 is not signed")
            << FieldKind::Hysteresis << 200 << false << 10000 << QStringLiteral("2.00");
        QTest::newRow("relay on") << FieldKind::Relay << 1 << false << 10000 << QStringLiteral("1");
        QTest::newRow("relay any nonzero is on")
            << FieldKind::Relay << 7 << false << 10000 << QStringLiteral("1");
        QTest::newRow("relay off")
            << FieldKind::Relay << 0 << false << 10000 << QStringLiteral("0");
        QTest::newRow("30 ticks nominal")
            << FieldKind::Duration << 30 << false << 10000 << QStringLiteral("1:00");
        QTest::newRow("30 ticks on a slow clock")
            << FieldKind::Duration << 30 << false << 9677 << QStringLiteral("1:02");
        QTest::newRow("number as logged")
            << FieldKind::Number << 65300 << true << 10000 << QStringLiteral("65300");
    }
    void valueFileText()
    {
        QFETCH(FieldKind, kind);
        QFETCH(qint32, raw);
        QFETCH(bool, fahrenheit);
        QFETCH(qint32, calibration);
        QFETCH(QString, text);
        const ValueUnits units{fahrenheit, calibration};
        QCOMPARE(kelvaro::valueFileText(kind, canonicalValue(kind, raw), units), text);
    }

    // What the chart draws: relay times in real seconds (the words count two-second ticks).
    void displayValue_data()
    {
        QTest::addColumn<FieldKind>("kind");
        QTest::addColumn<double>("canonical");
        QTest::addColumn<qint32>("calibration");
        QTest::addColumn<double>("shown");
        QTest::newRow("duration on an unusable calibration is no number")
            << FieldKind::Duration << 30.0 << 0 << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("30 ticks are 60 seconds") << FieldKind::Duration << 30.0 << 10000 << 60.0;
        QTest::newRow("30 ticks on a slow clock")
            << FieldKind::Duration << 30.0 << 9677 << 30.0 * 2 * 10000 / 9677;
        QTest::newRow("temperature in hundredths")
            << FieldKind::Temperature << 2468.0 << 10000 << 24.68;
    }
    void displayValue()
    {
        QFETCH(FieldKind, kind);
        QFETCH(double, canonical);
        QFETCH(qint32, calibration);
        QFETCH(double, shown);
        const double value = kelvaro::displayValue(kind, canonical, ValueUnits{false, calibration});
        if (std::isnan(shown))
            QVERIFY(std::isnan(value));
        else
            QCOMPARE(value, shown);
    }

    void loggedFieldNames_data()
    {
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("logged");
        const QString actual = QStringLiteral("Actual Temperature (i16)");
        const QString relay = QStringLiteral("Relay Status (h08)");
        QTest::newRow("two fields then None")
            << QStringList{actual, relay, QStringLiteral("None"), actual}
            << QStringList{actual, relay};
        QTest::newRow("unknown name ends the list")
            << QStringList{actual, QStringLiteral("actual temperature (i16)"), relay}
            << QStringList{actual};
        QTest::newRow("same field twice") << QStringList{relay, relay} << QStringList{relay, relay};
        QTest::newRow("nothing chosen") << QStringList{} << QStringList{};
    }
    void loggedFieldNames()
    {
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, logged);
        FieldNameTable names;
        Init_Field_Names(names);
        Settings_Record settings;
        for (int i = 0; i < boxes.size(); ++i)
            settings.Log_Fields[size_t(i)] = LooseValue::text(boxes.at(i));
        QCOMPARE(kelvaro::loggedFieldNames(settings, names), logged);
        QCOMPARE(columnName(logged, int(logged.size())),
                 QStringLiteral("column %1").arg(logged.size() + 1));
    }
};

QTEST_GUILESS_MAIN(TestFieldMeaning)
#include "tst_field_meaning.moc"
