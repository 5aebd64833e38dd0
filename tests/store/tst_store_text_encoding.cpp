#include "store/text_encoding.h"

#include <QTest>

using namespace kelvaro;
using namespace Qt::StringLiterals;

class TestTextEncoding : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodeFileText_utf8WhenValidElseWindows1252_data();
    void decodeFileText_utf8WhenValidElseWindows1252();
};

void TestTextEncoding::decodeFileText_utf8WhenValidElseWindows1252_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII") << QByteArray("C:\\Acrobat 5.0\\x.exe") << u"C:\\Acrobat 5.0\\x.exe"_s;
    QTest::newRow("UTF-8 umlaut") << QByteArray("j\xC3\xBCrgen") << u"jürgen"_s;
    QTest::newRow("UTF-8 beyond the BMP") << QByteArray("\xF0\x9F\x93\x88") << u"📈"_s;
    QTest::newRow("UTF-8 byte-order mark dropped") << QByteArray("\xEF\xBB\xBFx") << u"x"_s;
    QTest::newRow("1252 umlaut") << QByteArray("j\xFCrgen") << u"jürgen"_s;
    QTest::newRow("1252 euro and curly quotes")
        << QByteArray("\x80 \x93x\x94 \x85") << u"€ “x” …"_s;
    QTest::newRow("1252 first and last of 0x80-0x9F") << QByteArray("\x82\x9F") << u"‚Ÿ"_s;
    QTest::newRow("1252 unassigned byte keeps its code point")
        << QByteArray("\x81\x8D\x8F\x90\x9D") << u"\u0081\u008D\u008F\u0090\u009D"_s;
    QTest::newRow("one invalid byte makes the whole text 1252")
        << QByteArray("\xC3\xBC \xFC") << u"Ã¼ ü"_s;
    QTest::newRow("overlong UTF-8 form is not UTF-8") << QByteArray("\xC0\xAF") << u"À¯"_s;
    QTest::newRow("encoded surrogate is not UTF-8") << QByteArray("\xED\xA0\x80") << u"í\u00A0€"_s;
    QTest::newRow("NUL bytes pass") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
}

void TestTextEncoding::decodeFileText_utf8WhenValidElseWindows1252()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeFileText(bytes), text);
    if (isValidUtf8(bytes) && !bytes.startsWith("\xEF\xBB\xBF"))
        QCOMPARE(encodeFileText(text), bytes);
}

QTEST_GUILESS_MAIN(TestTextEncoding)
#include "tst_store_text_encoding.moc"
