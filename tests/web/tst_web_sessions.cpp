// Sessions and their cookie, and the log-in limiter: expiry, log-out, the bound on
// sessions, the cookie's attributes with and without TLS, finding the session among
// several cookies, and five failures a minute per address.

#include "web/login_limiter.h"
#include "web/sessions.h"

#include <QTest>

using namespace kelvaro::web;

class TestWebSessions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void session_lastsTwelveHoursFromLogInWhateverItsUse();
    void session_endsAtLogOutAndWhenItsUserChanges();
    void sessions_beyondTheBoundTheOldestEnds();
    void setCookie_data();
    void setCookie();
    void tokenFromCookies_data();
    void tokenFromCookies();
    void limiter_refusesTheSixthFailureWithinAMinuteWithTheWait();
    void limiter_countsEachAddressAlone();

private:
    qint64 m_now = 1'000'000;
    Clock clock()
    {
        return [this] { return m_now; };
    }
};

void TestWebSessions::session_lastsTwelveHoursFromLogInWhateverItsUse()
{
    Sessions sessions(clock());
    const Session started =
        sessions.start(QStringLiteral("anna"), Role::Operator, QStringLiteral("192.168.1.7"));
    QCOMPARE(started.token.size(), 43);
    m_now += 12 * 3600 * 1000 - 1;
    const auto found = sessions.find(started.token);
    QVERIFY(found);
    QCOMPARE(found->user, u"anna");
    QCOMPARE(found->role, Role::Operator);
    QCOMPARE(found->address, u"192.168.1.7");
    m_now += 1;
    QCOMPARE(sessions.find(started.token), std::nullopt);
}

void TestWebSessions::session_endsAtLogOutAndWhenItsUserChanges()
{
    Sessions sessions(clock());
    const Session a = sessions.start(QStringLiteral("anna"), Role::Operator, {});
    const Session b = sessions.start(QStringLiteral("anna"), Role::Operator, {});
    const Session c = sessions.start(QStringLiteral("bob"), Role::Viewer, {});
    QVERIFY(sessions.end(a.token));
    QVERIFY(!sessions.end(a.token));
    QCOMPARE(sessions.find(a.token), std::nullopt);
    QVERIFY(sessions.find(b.token));
    QCOMPARE(sessions.endUser(QStringLiteral("anna")), 1);
    QCOMPARE(sessions.find(b.token), std::nullopt);
    QVERIFY(sessions.find(c.token));
}

void TestWebSessions::sessions_beyondTheBoundTheOldestEnds()
{
    Sessions sessions(clock(), Sessions::DefaultLifetimeSeconds, 3);
    QList<QByteArray> tokens;
    for (int i = 0; i < 4; ++i, m_now += 1000)
        tokens.append(sessions.start(QStringLiteral("anna"), Role::Viewer, {}).token);
    QCOMPARE(sessions.count(), 3);
    QCOMPARE(sessions.find(tokens[0]), std::nullopt);
    QVERIFY(sessions.find(tokens[1]) && sessions.find(tokens[3]));
}

void TestWebSessions::setCookie_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QByteArray>("attributes"); // after "kelvaro_session=TOKEN"
    QTest::newRow("new, http") << qint64(0) << false
                               << QByteArray("; Path=/; HttpOnly; SameSite=Strict; Max-Age=43200");
    QTest::newRow("new, https")
        << qint64(0) << true
        << QByteArray("; Path=/; HttpOnly; SameSite=Strict; Max-Age=43200; Secure");
    QTest::newRow("what is left, rounded up")
        << qint64(3599500) << false
        << QByteArray("; Path=/; HttpOnly; SameSite=Strict; Max-Age=39601");
}

void TestWebSessions::setCookie()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(bool, tls);
    QFETCH(QByteArray, attributes);
    Sessions sessions(clock());
    const Session session = sessions.start(QStringLiteral("anna"), Role::Viewer, {});
    m_now += elapsedMs;
    QCOMPARE(sessions.setCookie(session, tls), "kelvaro_session=" + session.token + attributes);
    QCOMPARE(Sessions::clearCookie(tls),
             "kelvaro_session=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
                 QByteArray(tls ? "; Secure" : ""));
}

void TestWebSessions::tokenFromCookies_data()
{
    const QByteArray token = "AbCdEfGhIjKlMnOpQrStUvWxYz0123456789-_abcde";
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("token"); // empty: none
    QTest::newRow("alone") << "kelvaro_session=" + token << token;
    QTest::newRow("among others") << "theme=dark; kelvaro_session=" + token + "; lang=de" << token;
    QTest::newRow("no spaces") << "a=1;kelvaro_session=" + token + ";b=2" << token;
    QTest::newRow("quoted") << "kelvaro_session=\"" + token + '"' << token;
    QTest::newRow("first of two") << "kelvaro_session=" + token + "; kelvaro_session=x" << token;
    QTest::newRow("none") << QByteArray("theme=dark; lang=de") << QByteArray();
    QTest::newRow("name as a suffix") << "my_kelvaro_session=" + token << QByteArray();
    QTest::newRow("too short") << "kelvaro_session=" + token.left(42) << QByteArray();
    QTest::newRow("not base64url") << "kelvaro_session=" + token.left(42) + '+' << QByteArray();
    QTest::newRow("empty header") << QByteArray() << QByteArray();
}

void TestWebSessions::tokenFromCookies()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, token);
    QCOMPARE(sessionTokenFromCookies(header),
             token.isEmpty() ? std::nullopt : std::optional(token));
}

void TestWebSessions::limiter_refusesTheSixthFailureWithinAMinuteWithTheWait()
{
    LoginLimiter limiter(clock());
    const QString address = QStringLiteral("203.0.113.9");
    for (int i = 0; i < 5; ++i, m_now += 2000) {
        QCOMPARE(limiter.waitSeconds(address), std::nullopt);
        limiter.recordFailure(address);
    }
    // The first failure was 10 s ago: it leaves the minute in 50 s.
    QCOMPARE(limiter.waitSeconds(address), 50);
    m_now += 49'500;
    QCOMPARE(limiter.waitSeconds(address), 1);
    m_now += 500;
    QCOMPARE(limiter.waitSeconds(address), std::nullopt);
    // One more failure now: the second of the five is still within the minute.
    limiter.recordFailure(address);
    QCOMPARE(limiter.waitSeconds(address), 2);
}

void TestWebSessions::limiter_countsEachAddressAlone()
{
    LoginLimiter limiter(clock());
    for (int i = 0; i < 5; ++i)
        limiter.recordFailure(QStringLiteral("203.0.113.9"));
    QCOMPARE(limiter.waitSeconds(QStringLiteral("203.0.113.9")), 60);
    QCOMPARE(limiter.waitSeconds(QStringLiteral("203.0.113.10")), std::nullopt);
    QCOMPARE(limiter.waitSeconds(QStringLiteral("2001:db8::9")), std::nullopt);
}

QTEST_GUILESS_MAIN(TestWebSessions)
#include "tst_web_sessions.moc"
