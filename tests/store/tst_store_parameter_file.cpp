#include "store/parameter_file.h"
#include "store/test_files.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::test;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kelvaro::RegisterWords)

namespace {

RegisterWords sampleWords()
{
    RegisterWords w{};
    for (int k = 0; k < RegisterCount; ++k)
        w[static_cast<std::size_t>(k)] = 100 * k + 7;
    w[0] = 0;
    w[1] = 65535;
    w[2] = -1;
    w[3] = 2147483647;
    w[4] = -2147483647 - 1;
    w[6] = 300;
    return w;
}

// Sample file lines, label and value given separately, without line ends.
QByteArray fileOf(const QByteArrayList& lines)
{
    return lines.join("\r\n") + "\r\n";
}

QByteArrayList sampleLines(const char* labelPattern = "\"Param%1\"")
{
    QByteArrayList lines;
    const RegisterWords w = sampleWords();
    for (int k = 0; k < RegisterCount; ++k)
        lines.append(QString::fromLatin1(labelPattern).arg(k).toLatin1() + ',' +
                     QByteArray::number(w[static_cast<std::size_t>(k)]));
    return lines;
}

} // namespace

class TestParameterFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void save_writesExactBytesAndReplacesOldFile();
    void load_data();
    void load();
    void emptyValue_readsAsZero_data();
    void emptyValue_readsAsZero();
    void missingFile_keepsWordsAndSaysWhy();
    void endlessFile_isRefusedQuickly();
};

void TestParameterFile::save_writesExactBytesAndReplacesOldFile()
{
    const QByteArray expected = "\"Param0\",0\r\n\"Param1\",65535\r\n\"Param2\",-1\r\n"
                                "\"Param3\",2147483647\r\n\"Param4\",-2147483648\r\n"
                                "\"Param5\",507\r\n\"Param6\",300\r\n\"Param7\",707\r\n"
                                "\"Param8\",807\r\n\"Param9\",907\r\n\"Param10\",1007\r\n"
                                "\"Param11\",1107\r\n\"Param12\",1207\r\n\"Param13\",1307\r\n"
                                "\"Param14\",1407\r\n\"Param15\",1507\r\n\"Param16\",1607\r\n"
                                "\"Param17\",1707\r\n\"Param18\",1807\r\n\"Param19\",1907\r\n";
    QTemporaryDir dir;
    QVERIFY(SaveParameters(RegisterWords{}, dir.path())); // an older, different file
    const FileResult saved = SaveParameters(sampleWords(), dir.path());
    QVERIFY2(saved, qPrintable(saved.reason()));
    QCOMPARE(readBytes(dir.filePath(ParametersFileName)), expected);
}

void TestParameterFile::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("reasonPart"); // when it does not load

    const QByteArrayList lines = sampleLines();
    const auto withLine = [&](int lineNumber, const QByteArray& text) {
        QByteArrayList copy = lines;
        copy[lineNumber - 1] = text;
        return fileOf(copy);
    };

    QTest::newRow("as saved") << parametersFileBytes(sampleWords()) << true << QString();
    QTest::newRow("labels all the same, unquoted")
        << fileOf(sampleLines("Label")) << true << QString();
    QTest::newRow("labels edited, blanks around items")
        << fileOf(sampleLines("  \"Wort %1\"  ")).replace(",", ",  ") << true << QString();
    QTest::newRow("LF line ends, none after the last line")
        << lines.join('\n') << true << QString();
    QTest::newRow("21 lines: only the first twenty are read")
        << fileOf(lines + QByteArrayList{"\"Param20\",garbage"}) << true << QString();

    QTest::newRow("empty file") << QByteArray() << false << u"empty"_s;
    QTest::newRow("short file") << fileOf(lines.mid(0, 19)) << false << u"after 19"_s;
    QTest::newRow("letters for a value") << withLine(7, "\"Param6\",abc") << false << u"Line 7"_s;
    QTest::newRow("quoted number: the number")
        << withLine(7, "\"Param6\",\"300\"") << true << QString();
    QTest::newRow("quoted number with blanks")
        << withLine(7, "\"Param6\",\" 300 \"") << true << QString();
    QTest::newRow("quoted text") << withLine(7, "\"Param6\",\"abc\"") << false << u"Line 7"_s;
    QTest::newRow("no comma") << withLine(7, "\"Param6\" 300") << false << u"Line 7"_s;
    QTest::newRow("empty line") << withLine(20, "") << false << u"Line 20"_s;
    QTest::newRow("value beyond 32 bits")
        << withLine(7, "\"Param6\",2147483648") << false << u"line 7"_s;
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xFF,\x01\r\n\xFE\x00zz\r\n", 12) << false << u"after 2"_s;
    QTest::newRow("binary garbage, twenty lines")
        << QByteArray("\xC3\x00,\xFF\r\n", 6).repeated(20) << false << u"Line 1"_s;
    QTest::newRow("overlong line")
        << withLine(3, "\"Param2\"," + QByteArray(100000, '1')) << false << u"Line 3"_s;
}

void TestParameterFile::load()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    QFETCH(QString, reasonPart);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(ParametersFileName), file));
    RegisterWords words;
    words.fill(42);

    const FileResult result = LoadParameters(words, dir.path());
    QCOMPARE(bool(result), loads);
    if (loads) {
        QCOMPARE(words, sampleWords());
    } else {
        RegisterWords untouched;
        untouched.fill(42);
        QCOMPARE(words, untouched);
        QVERIFY2(result.reason().contains(reasonPart), qPrintable(result.reason()));
    }
}

void TestParameterFile::emptyValue_readsAsZero_data()
{
    QTest::addColumn<QByteArray>("line7");
    QTest::newRow("nothing after the comma") << QByteArray("\"Param6\",");
    QTest::newRow("blanks after the comma") << QByteArray("\"Param6\",   ");
    QTest::newRow("empty quotes") << QByteArray("\"Param6\",\"\"");
}

void TestParameterFile::emptyValue_readsAsZero()
{
    QFETCH(QByteArray, line7);
    QByteArrayList lines = sampleLines();
    lines[6] = line7;
    const Outcome<RegisterWords> words = parseParameters(fileOf(lines));
    QVERIFY2(words, qPrintable(words.reason()));
    RegisterWords expected = sampleWords();
    expected[6] = 0;
    QCOMPARE(*words, expected);
}

void TestParameterFile::missingFile_keepsWordsAndSaysWhy()
{
    QTemporaryDir dir;
    RegisterWords words = sampleWords();
    const FileResult result = LoadParameters(words, dir.path());
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(ParametersFileName), qPrintable(result.reason()));
    QCOMPARE(words, sampleWords());
}

void TestParameterFile::endlessFile_isRefusedQuickly()
{
    QTemporaryDir dir;
    if (!linkToEndlessFile(dir.path(), ParametersFileName))
        QSKIP("no /dev/zero to stand for an endless file");
    RegisterWords words = sampleWords();
    QElapsedTimer timer;
    timer.start();
    const FileResult result = LoadParameters(words, dir.path()); // never returns if read whole
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(u"Line 1"_s), qPrintable(result.reason()));
    QCOMPARE(words, sampleWords());
}

QTEST_GUILESS_MAIN(TestParameterFile)
#include "tst_store_parameter_file.moc"
