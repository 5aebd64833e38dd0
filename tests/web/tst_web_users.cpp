// The users file and the tokens file: who may read them, what a malformed line is told as,
// a rewrite that keeps the comments, passwords right and wrong, and tokens for scripts.

#include "web/api_tokens.h"
#include "web/private_file.h"
#include "web/users_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvaro::web;

// yescrypt's cheapest cost keeps each hash to a few milliseconds.
constexpr unsigned long TestCost = 1;

class TestWebUsers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void load_refusesAFileOthersMayReadOrWrite_data();
    void load_refusesAFileOthersMayReadOrWrite();
    void load_refusesAFileOfAnotherUser();
    void load_refusesAMissingFile();
    void load_namesTheMalformedLine_data();
    void load_namesTheMalformedLine();
    void setUser_keepsCommentsAndOtherUsersAndWritesMode0600();
    void setUser_refusesAndChangesNothing_data();
    void setUser_refusesAndChangesNothing();
    void checkPassword_data();
    void checkPassword();
    void tokens_shownOnceStoredAsHashAndRevocable();

private:
    QString write(const QByteArray& contents,
                  QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner);
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_annaHash; // "anna" has the password "right horse"
};

QString TestWebUsers::write(const QByteArray& contents, QFile::Permissions mode)
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) < 0)
        qFatal("cannot write the users file");
    file.close();
    file.setPermissions(mode);
    return m_path;
}

void TestWebUsers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const auto hash = hashPassword(QStringLiteral("right horse"), TestCost);
    QVERIFY2(hash, qPrintable(hash.reason()));
    QVERIFY(hash->startsWith("$y$"));
    m_annaHash = *hash;
}

void TestWebUsers::init()
{
    m_path = m_dir.filePath(QStringLiteral("users"));
    QFile::remove(m_path);
}

void TestWebUsers::load_refusesAFileOthersMayReadOrWrite_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("reason"); // empty: loaded
    QTest::newRow("0600") << 0600 << "";
    QTest::newRow("0400") << 0400 << "";
    QTest::newRow("0640 group reads") << 0640 << "has mode 0640, which lets its group read";
    QTest::newRow("0620 group writes") << 0620 << "has mode 0620, which lets its group read";
    QTest::newRow("0604 others read") << 0604 << "has mode 0604, which lets others read";
    QTest::newRow("0644") << 0644 << "has mode 0644, which lets its group and others";
}

void TestWebUsers::load_refusesAFileOthersMayReadOrWrite()
{
    QFETCH(int, mode);
    QFETCH(QString, reason);
    write("anna:operator:" + m_annaHash + '\n');
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), mode_t(mode)), 0);
    UsersFile users(m_path, TestCost);
    const auto loaded = users.load();
    if (reason.isEmpty()) {
        QVERIFY2(loaded, qPrintable(loaded.reason()));
        QCOMPARE(users.userNames(), QStringList{QStringLiteral("anna")});
        return;
    }
    QVERIFY(!loaded);
    QVERIFY2(loaded.reason().contains(reason), qPrintable(loaded.reason()));
    QVERIFY2(loaded.reason().endsWith(u"run: chmod 600 " + m_path), qPrintable(loaded.reason()));
}

void TestWebUsers::load_refusesAFileOfAnotherUser()
{
    write("anna:operator:" + m_annaHash + '\n');
    const auto read = readPrivateFile(m_path, QStringLiteral("users file"), ::geteuid() + 1);
    QVERIFY(!read);
    QVERIFY2(read.reason().contains(
                 QStringLiteral("not to user id %1 that runs kelvaro-web").arg(::geteuid() + 1)),
             qPrintable(read.reason()));
}

void TestWebUsers::load_refusesAMissingFile()
{
    UsersFile users(m_path, TestCost);
    const auto loaded = users.load();
    QVERIFY(!loaded);
    QCOMPARE(loaded.reason(), u"there is no users file " + m_path + u"; add a user first");
}

void TestWebUsers::load_namesTheMalformedLine_data()
{
    QTest::addColumn<QByteArray>("line"); // the third line, after a comment and a good user
    QTest::addColumn<QString>("why");
    QTest::newRow("no hash") << QByteArray("bob:viewer") << "with two colons; this one has 1";
    QTest::newRow("a colon too many") << QByteArray("bob:viewer:$y$x:y") << "this one has 3";
    QTest::newRow("space in name") << QByteArray("bo b:viewer:$y$") << "the name \"bo b\" is not";
    QTest::newRow("name of 33") << QByteArray(33, 'b') + ":viewer:$y$"
                                << "is not 1 to 32";
    QTest::newRow("empty name") << QByteArray(":viewer:$y$") << "the name \"\" is not";
    QTest::newRow("unknown role") << QByteArray("bob:admin:$y$") << "\"admin\" is neither";
    QTest::newRow("role in capitals") << QByteArray("bob:Viewer:$y$") << "\"Viewer\" is neither";
    QTest::newRow("empty hash") << QByteArray("bob:viewer:") << "the password hash is empty";
    QTest::newRow("not a hash") << QByteArray("bob:viewer:!$y$j9T$abc")
                                << "not one libcrypt can check";
    QTest::newRow("DES hash") << QByteArray("bob:viewer:abJnggxhB/yWI") << "weak old method";
    QTest::newRow("MD5 hash") << QByteArray("bob:viewer:$1$abc$def") << "weak old method";
    QTest::newRow("twice") << QByteArray("anna:viewer:$y$j9T$abc") << "anna is there twice";
}

void TestWebUsers::load_namesTheMalformedLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, why);
    write("# users\nanna:operator:" + m_annaHash + '\n' + line + "\n\n");
    UsersFile users(m_path, TestCost);
    const auto loaded = users.load();
    QVERIFY(!loaded);
    QVERIFY2(loaded.reason().startsWith(u"users file " + m_path + u", line 3: "),
             qPrintable(loaded.reason()));
    QVERIFY2(loaded.reason().contains(why), qPrintable(loaded.reason()));
}

void TestWebUsers::setUser_keepsCommentsAndOtherUsersAndWritesMode0600()
{
    // Written 0644 by hand: the rewrite makes it private without being asked.
    const QByteArray before = "# heating engineers\r\nanna:operator:" + m_annaHash +
                              "\n\n  # the desk in the hall\ndesk:viewer:" + m_annaHash + "\n";
    write(before);
    UsersFile users(m_path, TestCost);
    QVERIFY(users.setUser(QStringLiteral("desk"), Role::Operator, QStringLiteral("new")));
    QVERIFY(users.setUser(QStringLiteral("bob"), Role::Viewer, QStringLiteral("bobs")));
    QCOMPARE(QFile::permissions(m_path),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7); // six lines and the end of the last
    QCOMPARE(lines[0], "# heating engineers");
    QCOMPARE(lines[1], "anna:operator:" + m_annaHash);
    QCOMPARE(lines[2], "");
    QCOMPARE(lines[3], "  # the desk in the hall");
    QVERIFY(lines[4].startsWith("desk:operator:$y$"));
    QVERIFY(lines[5].startsWith("bob:viewer:$y$"));

    UsersFile reread(m_path, TestCost);
    QVERIFY(reread.load());
    QCOMPARE(reread.checkPassword(QStringLiteral("desk"), QStringLiteral("new")), Role::Operator);
    QCOMPARE(reread.checkPassword(QStringLiteral("bob"), QStringLiteral("bobs")), Role::Viewer);
    QCOMPARE(reread.checkPassword(QStringLiteral("desk"), QStringLiteral("right horse")),
             std::nullopt);
}

void TestWebUsers::setUser_refusesAndChangesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty password") << "bob"
                                    << ""
                                    << "the password is empty";
    QTest::newRow("512 bytes") << "bob" << QString(256, u'\u00e9')
                               << "the password is longer than 511 bytes";
    QTest::newRow("NUL") << "bob" << QStringLiteral("a\0b") << "the password holds a NUL character";
    QTest::newRow("colon in name") << "b:ob"
                                   << "pw"
                                   << "the name \"b:ob\" is not 1 to 32 of";
}

void TestWebUsers::setUser_refusesAndChangesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, reason);
    UsersFile users(m_path, TestCost);
    const auto set = users.setUser(name, Role::Viewer, password);
    QVERIFY(!set);
    QVERIFY2(set.reason().startsWith(reason), qPrintable(set.reason()));
    QVERIFY(!QFile::exists(m_path));
    // 511 bytes is still a password.
    QVERIFY(users.setUser(QStringLiteral("bob"), Role::Viewer, QString(511, u'x')));
    QVERIFY(users.load());
    QCOMPARE(users.checkPassword(QStringLiteral("bob"), QString(511, u'x')), Role::Viewer);
}

void TestWebUsers::checkPassword_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right") << "anna"
                           << "right horse" << true;
    QTest::newRow("wrong") << "anna"
                           << "right horse " << false;
    QTest::newRow("name in capitals") << "Anna"
                                      << "right horse" << false;
    QTest::newRow("unknown user") << "bob"
                                  << "right horse" << false;
    QTest::newRow("empty password") << "anna"
                                    << "" << false;
}

void TestWebUsers::checkPassword()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    write("anna:operator:" + m_annaHash + '\n');
    UsersFile users(m_path, TestCost);
    QVERIFY(users.load());
    QCOMPARE(users.checkPassword(name, password),
             accepted ? std::optional(Role::Operator) : std::nullopt);
}

void TestWebUsers::tokens_shownOnceStoredAsHashAndRevocable()
{
    const QString path = m_dir.filePath(QStringLiteral("tokens"));
    ApiTokens tokens(path);
    QVERIFY(tokens.load()); // no file: no tokens
    const auto made = tokens.create(QStringLiteral("anna"));
    QVERIFY2(made, qPrintable(made.reason()));
    QVERIFY(made->token.startsWith("kw_"));
    QCOMPARE(made->token.size(), 46);
    QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    QVERIFY(!stored.contains(made->token.mid(3)));
    QVERIFY(stored.contains(QByteArray(made->id.toUtf8() + ":anna:")));

    ApiTokens reread(path);
    QVERIFY(reread.load());
    QCOMPARE(reread.userOf(made->token), QStringLiteral("anna"));
    QByteArray other = made->token;
    other[10] = other[10] == 'A' ? 'B' : 'A';
    QCOMPARE(reread.userOf(other), std::nullopt);
    QCOMPARE(reread.userOf(made->token.mid(3)), std::nullopt); // without its prefix

    QVERIFY(reread.revoke(made->id));
    QCOMPARE(reread.userOf(made->token), std::nullopt);
    QVERIFY(!reread.revoke(made->id));
    QVERIFY(tokens.load());
    QVERIFY(tokens.tokens().isEmpty());
}

QTEST_GUILESS_MAIN(TestWebUsers)
#include "tst_web_users.moc"
