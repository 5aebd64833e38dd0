#include "core/field_names.h"
#include "core/register_image.h"

#include <QTest>

using namespace kelvaro;

class TestRegisterImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { Init_Field_Names(m_names); }
    void updateParam_buildsWordsLowByteFirst_data();
    void updateParam_buildsWordsLowByteFirst();
    void byteHalves_data();
    void byteHalves();
    void fieldPosition_followsTheWidthTags_data();
    void fieldPosition_followsTheWidthTags();
    void fieldPosition_namesOutsideTheTableMapToNoWord_data();
    void fieldPosition_namesOutsideTheTableMapToNoWord();
    void fieldPositions_coverTheWholeBlockOnce();

private:
    FieldNameTable m_names;
};

void TestRegisterImage::updateParam_buildsWordsLowByteFirst_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("expected");
    QTest::newRow("all 0xFF gives 65535, also in i16 word 1")
        << QByteArray(40, '\xFF') << 1 << 65535;
    QTest::newRow("all 0xFF, i16 word 17") << QByteArray(40, '\xFF') << 17 << 65535;
    QByteArray b(40, '\0');
    b[2] = '\x34';
    b[3] = '\x12';
    QTest::newRow("0x34 0x12 at 2,3 gives word 1 = 4660") << b << 1 << 4660;
    QTest::newRow("neighbours untouched") << b << 0 << 0;
    QByteArray last(40, '\0');
    last[38] = '\x02';
    last[39] = '\x01';
    QTest::newRow("last word from bytes 38,39") << last << 19 << 0x0102;
}

void TestRegisterImage::updateParam_buildsWordsLowByteFirst()
{
    QFETCH(QByteArray, block);
    QFETCH(int, word);
    QFETCH(int, expected);
    RegisterImage image;
    image.Reg_Words.fill(-1);
    std::copy(block.begin(), block.end(), image.Rx_Bytes.begin());
    image.Update_Param();
    QCOMPARE(image.Reg_Words[word], expected);
}

void TestRegisterImage::byteHalves_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("0x0181 = 385") << 385 << 129 << 1;
    QTest::newRow("0x0080, high byte never rounded") << 128 << 128 << 0;
    QTest::newRow("0xFFFF") << 65535 << 255 << 255;
    QTest::newRow("0x01C8") << 0x01C8 << 200 << 1;
}

void TestRegisterImage::byteHalves()
{
    QFETCH(int, word);
    QFETCH(int, low);
    QFETCH(int, high);
    QCOMPARE(lowByte(word), low);
    QCOMPARE(highByte(word), high);
}

void TestRegisterImage::fieldPosition_followsTheWidthTags_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("part");
    const int low = int(FieldPart::LowByte), high = int(FieldPart::HighByte),
              whole = int(FieldPart::Word);
    QTest::newRow("counter") << "Counter_2sec (l08)" << 0 << low;
    QTest::newRow("relay") << "Relay Status (h08)" << 0 << high;
    QTest::newRow("actual temperature") << "Actual Temperature (i16)" << 1 << whole;
    QTest::newRow("automatic mode") << "Automatic Mode (l08)" << 2 << low;
    QTest::newRow("manual mode") << "Manual Mode (h08)" << 2 << high;
    QTest::newRow("sp3") << "Sp3 (u16)" << 3 << whole;
    QTest::newRow("sp4 low") << "Sp4 (l08)" << 4 << low;
    QTest::newRow("sp4 high") << "Sp4 (h08)" << 4 << high;
    QTest::newRow("pulse") << "Pulse Duration NE555 (u16)" << 5 << whole;
    QTest::newRow("average temperature") << "Average Temperature (i16)" << 8 << whole;
    QTest::newRow("measure period") << "Measure Period Duration (l08)" << 10 << low;
    QTest::newRow("hysteresis") << "Lower Hysterisis (h08)" << 10 << high;
    QTest::newRow("setpoint low (P), two parentheses") << "Setpoint Low (P) (i16)" << 17 << whole;
    QTest::newRow("time delay") << "Set. Time Delay (P) (u16)" << 18 << whole;
    QTest::newRow("operation modes, byte 38") << "Operation Modes (l08)" << 19 << low;
    QTest::newRow("sp19, byte 39") << "Sp19 (h08)" << 19 << high;
}

void TestRegisterImage::fieldPosition_followsTheWidthTags()
{
    QFETCH(QString, name);
    QFETCH(int, word);
    QFETCH(int, part);
    const auto position = fieldPosition(m_names, name);
    QVERIFY(position.has_value());
    QCOMPARE(position->word, word);
    QCOMPARE(int(position->part), part);
}

void TestRegisterImage::fieldPosition_namesOutsideTheTableMapToNoWord_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("None") << "None";
    QTest::newRow("empty") << "";
    QTest::newRow("unknown") << "Room Temperature (i16)";
    QTest::newRow("case differs") << "relay status (h08)";
    QTest::newRow("trailing blank") << "Relay Status (h08) ";
}

void TestRegisterImage::fieldPosition_namesOutsideTheTableMapToNoWord()
{
    QFETCH(QString, name);
    QCOMPARE(fieldPosition(m_names, name), std::nullopt);
}

void TestRegisterImage::fieldPositions_coverTheWholeBlockOnce()
{
    // Every byte of the 40-byte block belongs to exactly one field.
    std::array<int, BlockSize> owners{};
    for (int entry = 1; entry < FieldNameCount; ++entry) {
        const auto p = fieldPosition(m_names, m_names[entry]);
        QVERIFY2(p.has_value(), qPrintable(m_names[entry]));
        if (p->part != FieldPart::HighByte)
            ++owners[2 * p->word];
        if (p->part != FieldPart::LowByte)
            ++owners[2 * p->word + 1];
    }
    for (int i = 0; i < BlockSize; ++i)
        QCOMPARE(owners[i], 1);

    std::array<qint32, RegisterCount> words{};
    words[0] = 385;
    QCOMPARE(fieldValue(*fieldPosition(m_names, m_names[1]), words), 129);
    QCOMPARE(fieldValue(*fieldPosition(m_names, m_names[2]), words), 1);
}

QTEST_GUILESS_MAIN(TestRegisterImage)
#include "tst_register_image.moc"
