// What kelvaro-web reads from outside before anything else: the page's WebSocket messages
// and its own command line. Every refusal names what to send or write instead.

#include "web/browser_request.h"
#include "web/web_options.h"

#include <QTest>

using namespace kelvaro::web;
using namespace Qt::StringLiterals;

class TestWebMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void browserMessage_data();
    void browserMessage();
    void options_data();
    void options();
};

void TestWebMessages::browserMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("read");    // what was read, or empty for a refusal
    QTest::addColumn<QString>("refusal"); // the start of the reason
    QTest::addColumn<int>("id");          // -1: none

    QTest::newRow("set") << R"({"type":"set","id":7,"box":2,"text":"21,5","locale":"de-DE"})"_ba
                         << u"set 2 21,5 de_DE"_s << u""_s << 7;
    QTest::newRow("set without locale")
        << R"({"type":"set","box":9,"text":"0:30"})"_ba << u"set 9 0:30 C"_s << u""_s << -1;
    QTest::newRow("box 10") << R"({"type":"set","id":1,"box":10,"text":"1"})"_ba << u""_s
                            << u"\"box\""_s << 1;
    QTest::newRow("box as text") << R"({"type":"set","id":1,"box":"2","text":"1"})"_ba << u""_s
                                 << u"\"box\""_s << 1;
    QTest::newRow("long text") << (R"({"type":"set","id":1,"box":2,"text":")" +
                                   QByteArray(65, '1') + R"("})")
                               << u""_s << u"\"text\""_s << 1;
    QTest::newRow("locale with a path")
        << R"({"type":"set","id":1,"box":2,"text":"1","locale":"../x"})"_ba << u""_s
        << u"\"locale\""_s << 1;
    QTest::newRow("logging on") << R"({"type":"settings","id":3,"logActive":true})"_ba
                                << u"settings logActive"_s << u""_s << 3;
    QTest::newRow("two settings")
        << R"({"type":"settings","id":3,"logActive":true,"displayUnit":"F"})"_ba << u""_s
        << u"settings: send exactly one"_s << 3;
    QTest::newRow("unit K") << R"({"type":"settings","displayUnit":"K"})"_ba << u""_s
                            << u"\"displayUnit\""_s << -1;
    QTest::newRow("history")
        << R"({"type":"history","from":"2026-12-01","to":"2026-12-09","width":50})"_ba
        << u"history 2026-12-01 2026-12-09 50"_s << u""_s << -1;
    QTest::newRow("history, no such day")
        << R"({"type":"history","from":"2026-02-30","to":"2026-03-01"})"_ba << u""_s
        << u"\"from\" and \"to\""_s << -1;
    QTest::newRow("history, backwards")
        << R"({"type":"history","from":"2026-03-02","to":"2026-03-01"})"_ba << u""_s
        << u"\"from\" comes after"_s << -1;
    QTest::newRow("trend, 25 h") << R"({"type":"trend","id":4,"hours":25})"_ba << u""_s
                                 << u"\"hours\""_s << 4;
    QTest::newRow("trend, wide") << R"({"type":"trend","hours":24,"width":2001})"_ba << u""_s
                                 << u"\"width\""_s << -1;
    QTest::newRow("negative id") << R"({"type":"days","id":-1})"_ba << u""_s << u"\"id\""_s << -1;
    QTest::newRow("unknown type, control character")
        << "{\"type\":\"drop\\u0000\",\"id\":5}"_ba << u""_s
        << u"unknown request type \"drop\\x00\""_s << 5;
    QTest::newRow("not JSON") << "set box 2"_ba << u""_s << u"not a JSON object"_s << -1;
    QTest::newRow("over 16 KiB") << QByteArray(16 * 1024 + 1, ' ') << u""_s
                                 << u"message longer than"_s << -1;
}

void TestWebMessages::browserMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, read);
    QFETCH(QString, refusal);
    QFETCH(int, id);
    const auto result = readBrowserMessage(message);
    if (const auto* refused = std::get_if<BrowserRefusal>(&result)) {
        QVERIFY2(!refusal.isEmpty(), qPrintable(refused->reason));
        QVERIFY2(refused->reason.startsWith(refusal), qPrintable(refused->reason));
        QCOMPARE(refused->id.value_or(-1), id);
        return;
    }
    const auto& request = std::get<BrowserRequest>(result);
    QCOMPARE(request.id.value_or(-1), id);
    QString text;
    if (const auto* set = std::get_if<SetBox>(&request.ask))
        text = u"set %1 %2 %3"_s.arg(set->box).arg(set->text, set->locale);
    else if (const auto* settings = std::get_if<ChangeSettings>(&request.ask))
        text = u"settings "_s + settings->change.keys().join(u' ');
    else if (const auto* history = std::get_if<AskHistory>(&request.ask))
        text = u"history %1 %2 %3"_s
                   .arg(history->from.toString(Qt::ISODate), history->to.toString(Qt::ISODate))
                   .arg(history->width);
    QCOMPARE(text, read);
    QCOMPARE(changesBoard(request.ask),
             read.startsWith(u"set"_s) || read.startsWith(u"settings"_s));
}

void TestWebMessages::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("read"); // listen address, users, tokens; or the refusal's start
    QTest::newRow("defaults") << QStringList{} << u"127.0.0.1 8640 | "_s;
    QTest::newRow("all addresses, users")
        << QStringList{u"--listen"_s, u"0.0.0.0:80"_s, u"--users"_s, u"/etc/u"_s}
        << u"0.0.0.0 80 /etc/u /etc/u.tokens"_s;
    QTest::newRow("IPv6") << QStringList{u"--listen"_s, u"[::1]:8640"_s} << u"::1 8640 | "_s;
    QTest::newRow("IPv6 unbracketed")
        << QStringList{u"--listen"_s, u"::1:8640"_s} << u"--listen wants"_s;
    QTest::newRow("port 0") << QStringList{u"--listen"_s, u"127.0.0.1:0"_s} << u"--listen wants"_s;
    QTest::newRow("port too big") << QStringList{u"--listen"_s, u"127.0.0.1:65536"_s}
                                  << u"--listen wants"_s;
    QTest::newRow("name with port")
        << QStringList{u"--host-name"_s, u"pi.local:80"_s} << u"--host-name wants"_s;
    QTest::newRow("add user without role")
        << QStringList{u"--users"_s, u"u"_s, u"--add-user"_s, u"anna"_s}
        << u"--add-user needs --role"_s;
    QTest::newRow("add user, bad name")
        << QStringList{u"--users"_s, u"u"_s, u"--add-user"_s, u"a:b"_s, u"--role"_s, u"viewer"_s}
        << u"a user's name"_s;
    QTest::newRow("role admin") << QStringList{u"--role"_s, u"admin"_s}
                                << u"--role is viewer or operator"_s;
    QTest::newRow("token without users")
        << QStringList{u"--add-token"_s, u"anna"_s} << u"changing users or tokens needs --users"_s;
    QTest::newRow("two commands") << QStringList{u"--users"_s,        u"u"_s,
                                                 u"--add-token"_s,    u"a"_s,
                                                 u"--revoke-token"_s, u"b"_s}
                                  << u"give one of"_s;
    QTest::newRow("public URL with a path")
        << QStringList{u"--public-url"_s, u"https://example.org/kelvaro"_s}
        << u"--public-url wants"_s;
    QTest::newRow("certificate alone")
        << QStringList{u"--tls-cert"_s, u"c.pem"_s} << u"TLS needs both"_s;
    QTest::newRow("unknown") << QStringList{u"--port"_s, u"80"_s} << u"unknown option \"--port\""_s;
    QTest::newRow("value missing") << QStringList{u"--users"_s} << u"--users needs a value"_s;
}

void TestWebMessages::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, read);
    const auto options = readWebOptions(arguments);
    if (!options) {
        QVERIFY2(options.reason().startsWith(read), qPrintable(options.reason()));
        return;
    }
    QCOMPARE(
        u"%1 %2 %3 %4"_s.arg(options->listenText())
            .arg(options->port)
            .arg(options->usersPath.isEmpty() ? u"|"_s : options->usersPath, options->tokensPath)
            .trimmed(),
        read.trimmed());
}

QTEST_GUILESS_MAIN(TestWebMessages)
#include "tst_web_messages.moc"
