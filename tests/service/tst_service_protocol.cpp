// The service protocol's reading of client lines: how a byte stream is cut into bounded
// lines, and what each request line becomes or why it is refused.

#include "service/service_protocol.h"

#include <QJsonDocument>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::service;

class TestServiceProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lineReader_data();
    void lineReader();
    void parseRequest_data();
    void parseRequest();
    void recordMessage_readsBackTheWholeRecord();
    void encodeMessage_oneCompactLine();
};

void TestServiceProtocol::lineReader_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<bool>("overLong");
    const QByteArray limit(MaxLineLength, 'a');
    QTest::newRow("two lines in one chunk")
        << QList<QByteArray>{"{}\n{\"a\":1}\n"} << QList<QByteArray>{"{}", "{\"a\":1}"} << false;
    QTest::newRow("a line cut across chunks") << QList<QByteArray>{"{\"ty", "pe\":", "1}\n"}
                                              << QList<QByteArray>{"{\"type\":1}"} << false;
    QTest::newRow("CR LF line ends")
        << QList<QByteArray>{"x\r\ny\r\n"} << QList<QByteArray>{"x", "y"} << false;
    QTest::newRow("an unfinished line waits")
        << QList<QByteArray>{"done\nnot yet"} << QList<QByteArray>{"done"} << false;
    QTest::newRow("exactly the limit")
        << QList<QByteArray>{limit + '\n'} << QList<QByteArray>{limit} << false;
    QTest::newRow("the limit with CR LF")
        << QList<QByteArray>{limit + "\r\n"} << QList<QByteArray>{limit} << false;
    QTest::newRow("one byte over the limit")
        << QList<QByteArray>{"ok\n" + limit + "b\nlater\n"} << QList<QByteArray>{"ok"} << true;
    QTest::newRow("over the limit before its end comes")
        << QList<QByteArray>{limit, "bb"} << QList<QByteArray>{} << true;
    QTest::newRow("nothing after an over-long line")
        << QList<QByteArray>{limit + "bb", "\nlater\n"} << QList<QByteArray>{} << true;
}

void TestServiceProtocol::lineReader()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(bool, overLong);
    LineReader reader;
    QList<QByteArray> read;
    for (const QByteArray& chunk : chunks) {
        reader.append(chunk);
        while (const auto line = reader.nextLine())
            read.append(*line);
    }
    QCOMPARE(read, lines);
    QCOMPARE(reader.overLong(), overLong);
}

void TestServiceProtocol::parseRequest_data()
{
    // `expected`: for a request, "type box text timeout-ms"; for a refusal, part of the reason.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QByteArray& line, bool accepted,
                        const char* expected) {
        QTest::newRow(name) << line << accepted << QString::fromUtf8(expected);
    };
    row("set by index", R"({"type":"set","box":2,"text":"21.5"})", true, "5 2 21.5 10000");
    row("set by caption", R"({"type":"set","box":"Lower Time On:","text":"1:30"})", true,
        "5 7 1:30 10000");
    row("caption without colon, other case",
        R"({"type":"set","box":"lower hysterisis","text":"0,5","timeout":2.5})", true,
        "5 1 0,5 2500");
    row("box 10 does not exist", R"({"type":"set","box":10,"text":"1"})", false,
        "\"box\" must name an entry box");
    row("box 1.5", R"({"type":"set","box":1.5,"text":"1"})", false, "\"box\" must name");
    row("unknown caption", R"({"type":"set","box":"Actual Temperature:","text":"1"})", false,
        "\"box\" must name");
    row("text as a number", R"({"type":"set","box":2,"text":21.5})", false, "\"text\" must be");
    row("time-out 0", R"({"type":"set","box":2,"text":"1","timeout":0})", false,
        "\"timeout\" must be");
    row("time-out over an hour", R"({"type":"set","box":2,"text":"1","timeout":3601})", false,
        "\"timeout\" must be");
    row("time-out of exactly an hour", R"({"type":"set","box":2,"text":"1","timeout":3600})", true,
        "5 2 1 3600000");
    row("reset", R"({"type":"reset","id":"r1"})", true, "6 -1  10000");
    row("subscribe in F", R"({"type":"subscribe","unit":"f"})", true, "1 -1  10000");
    row("unit K", R"({"type":"values","unit":"K"})", false, "\"unit\" must be");
    row("id as an object", R"({"type":"status","id":{}})", false, "\"id\" must be");
    row("unknown type", R"({"type":"launch"})", false, "unknown request type \"launch\"");
    row("no type", R"({"box":2})", false, "unknown request type \"\"");
    row("an array", R"([1,2])", false, "one JSON object");
    row("not JSON", "\x01\x02garbage", false, "not JSON");
    row("empty object after text", R"({} {})", false, "not JSON");
    row("logging off", R"({"type":"settings","logActive":false})", true, "7 -1  10000");
    row("display unit", R"({"type":"settings","displayUnit":"F"})", true, "7 -1  10000");
    row("two settings at once", R"({"type":"settings","logActive":true,"displayUnit":"C"})", false,
        "exactly one of");
    row("no setting", R"({"type":"settings"})", false, "exactly one of");
    row("communication",
        R"({"type":"settings","communication":{"port":2,"baud":9600,"rts":false,"dtr":true,"timeout":3}})",
        true, "7 -1  10000");
    row("communication without baud",
        R"({"type":"settings","communication":{"port":2,"rts":false,"dtr":true,"timeout":3}})",
        false, "needs \"baud\"");
    row("communication port 0",
        R"({"type":"settings","communication":{"port":0,"baud":9600,"rts":false,"dtr":true,"timeout":3}})",
        false, "needs \"port\"");
    row("raw column shown", R"({"type":"settings","showDirect":1})", true, "7 -1  10000");
    row("raw column 2", R"({"type":"settings","showDirect":2})", false, "\"showDirect\" must be");
    row("subscribe with the record", R"({"type":"subscribe","record":true})", true, "1 -1  10000");
    row("record as text", R"({"type":"subscribe","record":"yes"})", false, "\"record\" must be");
    row("logging with nine fields",
        R"({"type":"settings","logging":{"nameFormat":"x","event":"0","fields":["","","","","","","","",""]}})",
        false, "10 texts");
}

void TestServiceProtocol::parseRequest()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    QFETCH(QString, expected);
    const Outcome<Request> request = kelvaro::service::parseRequest(line);
    QCOMPARE(bool(request), accepted);
    if (!accepted) {
        QVERIFY2(request.reason().contains(expected), qPrintable(request.reason()));
        return;
    }
    QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                 .arg(int(request->type))
                 .arg(request->box)
                 .arg(request->text)
                 .arg(request->timeout.count()),
             expected);
}

void TestServiceProtocol::encodeMessage_oneCompactLine()
{
    const QByteArray line =
        encodeMessage(errorMessage(QStringLiteral("line one\nline two"), QJsonValue(7)));
    QCOMPARE(line, QByteArray(R"({"id":7,"reason":"line one\nline two","type":"error"})"
                              "\n"));
}

void TestServiceProtocol::recordMessage_readsBackTheWholeRecord()
{
    // A window takes the service's record from this message; it must read back whole,
    // texts with non-ASCII characters included.
    Settings_Record record;
    record.Comm_Port = 3;
    record.Use_Fahrenheit = true;
    record.Show_Direct = 1;
    record.Log_NameFormat = LooseValue::text(QStringLiteral("Kessel-\u00E4-DD-MM-YYYY"));
    record.Acrobat_Path = QStringLiteral("/usr/bin/okular");
    Settings_Record read;
    QVERIFY(readRecordMessage(
        QJsonDocument::fromJson(encodeMessage(recordMessage(record))).object(), read));
    QCOMPARE(read, record);

    record.Acrobat_Path = QStringLiteral("say \"hi\""); // Settings.txt cannot hold it
    const QJsonObject refused = recordMessage(record);
    QVERIFY(!readRecordMessage(refused, read));
    QCOMPARE(read.Acrobat_Path, QStringLiteral("/usr/bin/okular")); // unchanged
}

QTEST_GUILESS_MAIN(TestServiceProtocol)
#include "tst_service_protocol.moc"
