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
using namespace Qt::StringLiterals;

// yescrypt's cheapest cost keeps each hash to a few milliseconds.
constexpr unsigned long TestCost = 1;

class TestWebUsers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void load_refusesAFileOthersMayReadOrWrite_data();
    void load_refusesAFileOthersMayReadOrWrite();
    void load_refusesAFileOfAnotherUserOrNoFile();
    void load_namesTheMalformedLine_data();
    void load_namesTheMalformedLine();
    void newPassword_data();
    void newPassword();
    void setUser_keepsCommentsAndOtherUsersAndWritesMode0600();
    void checkPassword_data();
    void checkPassword();
    void tokens_shownOnceStoredAsHashAndRevocable();

private:
    void write(const QByteArray& contents, mode_t mode = 0600);
    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral("users"));
    QByteArray m_anna; // anna's line: an operator with the password "right horse"
};

void TestWebUsers::write(const QByteArray& contents, mode_t mode)
{
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(contents) == contents.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), mode), 0);
}

void TestWebUsers::initTestCase()
{
    const auto hash = hashPassword(QStringLiteral("right horse"), TestCost);
    QVERIFY2(hash && hash->startsWith("$y$"), qPrintable(hash.reason()));
    m_anna = "anna:operator:" + *hash;
}

void TestWebUsers::load_refusesAFileOthersMayReadOrWrite_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("reason"); // empty: loaded
    const auto row = [](const char* name, int mode, const char* reason) {
        QTest::newRow(name) << mode << QString::fromLatin1(reason);
    };
    row("0600", 0600, "");
    row("0400", 0400, "");
    row("0640 group reads", 0640, "has mode 0640, which lets its group read");
    row("0620 group writes", 0620, "has mode 0620, which lets its group read or change it");
    row("0604 others read", 0604, "has mode 0604, which lets others read");
    row("0644", 0644, "has mode 0644, which lets its group and others read");
}

void TestWebUsers::load_refusesAFileOthersMayReadOrWrite()
{
    QFETCH(int, mode);
    QFETCH(QString, reason);
    write(m_anna + '\n', mode_t(mode));
    UsersFile users(m_path, TestCost);
    const auto loaded = users.load();
    QCOMPARE(bool(loaded), reason.isEmpty());
    QCOMPARE(users.userNames(), reason.isEmpty() ? QStringList{u"anna"_s} : QStringList());
    QVERIFY2(loaded.reason().contains(reason), qPrintable(loaded.reason()));
    if (!loaded)
        QVERIFY2(loaded.reason().endsWith(u"; run: chmod 600 " + m_path),
                 qPrintable(loaded.reason()));
}

void TestWebUsers::load_refusesAFileOfAnotherUserOrNoFile()
{
    write(m_anna + '\n');
    const uid_t other = ::geteuid() + 1;
    const auto read = readPrivateFile(m_path, QStringLiteral("users file"), other);
    QCOMPARE(read.reason(), QStringLiteral("users file %1 belongs to user id %2, not to user id "
                                           "%3 that runs kelvaro-web; run: chown %3 %1")
                                .arg(m_path)
                                .arg(::geteuid())
                                .arg(other));

    QFile::remove(m_path);
    UsersFile users(m_path, TestCost);
    QCOMPARE(users.load().reason(), u"there is no users file " + m_path + u"; add a user first");
}

void TestWebUsers::load_namesTheMalformedLine_data()
{
    QTest::addColumn<QByteArray>("line"); // the third line, after a comment and a good user
    QTest::addColumn<QString>("why");
    const auto row = [](const char* name, const QByteArray& line, const char* why) {
        QTest::newRow(name) << line << QString::fromLatin1(why);
    };
    row("no hash", "bob:viewer", "NAME:ROLE:HASH, with two colons; this one has 1");
    row("a colon too many", "bob:viewer:$y$x:y", "this one has 3");
    row("space in name", "bo b:viewer:$y$", "the name \"bo b\" is not 1 to 32 of");
    row("name of 33", QByteArray(33, 'b') + ":viewer:$y$", "is not 1 to 32 of");
    row("unknown role", "bob:admin:$y$", "the role \"admin\" is neither viewer nor operator");
    row("empty hash", "bob:viewer:", "the password hash is empty");
    row("not a hash", "bob:viewer:!$y$j9T$abc", "not one libcrypt can check");
    row("DES hash", "bob:viewer:abJnggxhB/yWI", "weak old method");
    row("twice", "anna:viewer:$y$j9T$abc", "the user anna is there twice");
}

void TestWebUsers::load_namesTheMalformedLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, why);
    write("# users\n" + m_anna + '\n' + line + "\n\n");
    UsersFile users(m_path, TestCost);
    const QString reason = users.load().reason();
    QVERIFY2(reason.startsWith(u"users file " + m_path + u", line 3: "), qPrintable(reason));
    QVERIFY2(reason.contains(why), qPrintable(reason));
}

void TestWebUsers::newPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reason"); // empty: accepted
    QTest::newRow("one character") << u"x"_s << QString();
    QTest::newRow("511 bytes") << QString(511, u'x') << QString();
    QTest::newRow("empty") << QString() << u"the password is empty"_s;
    QTest::newRow("512 bytes") << QString(256, u'\u00e9')
                               << u"the password is longer than 511 bytes"_s;
    QTest::newRow("NUL") << QStringLiteral("a\0b") << u"the password holds a NUL character"_s;
}

void TestWebUsers::newPassword()
{
    QFETCH(QString, password);
    QFETCH(QString, reason);
    QCOMPARE(checkNewPassword(password).reason(), reason);
}

void TestWebUsers::setUser_keepsCommentsAndOtherUsersAndWritesMode0600()
{
    // Written 0400 by hand: the rewrite makes it 0600.
    write("# heating engineers\r\n" + m_anna + "\n\n  # the desk\ndesk:viewer:$y$j9T$abc\n", 0400);
    UsersFile users(m_path, TestCost);
    QVERIFY(!users.setUser(u"bob"_s, Role::Viewer, {}));
    QVERIFY(!users.setUser(u"b:ob"_s, Role::Viewer, u"pw"_s));
    QVERIFY(users.setUser(u"desk"_s, Role::Operator, u"new"_s));
    QVERIFY(users.setUser(u"bob"_s, Role::Viewer, u"bobs"_s));
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, 0600u);

    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7); // six lines and the end of the last
    QCOMPARE(lines.mid(0, 4),
             (QList<QByteArray>{"# heating engineers", m_anna, "", "  # the desk"}));
    QVERIFY(lines[4].startsWith("desk:operator:$y$"));
    QVERIFY(lines[5].startsWith("bob:viewer:$y$"));

    UsersFile reread(m_path, TestCost);
    QVERIFY(reread.load());
    QCOMPARE(reread.checkPassword(u"desk"_s, u"new"_s), Role::Operator);
    QCOMPARE(reread.checkPassword(u"bob"_s, u"bobs"_s), Role::Viewer);
    QVERIFY(reread.removeUser(u"bob"_s));
    QCOMPARE(reread.userNames(), (QStringList{u"anna"_s, u"desk"_s}));
}

void TestWebUsers::checkPassword_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    const auto row = [](const char* name, const char* user, const char* password, bool ok) {
        QTest::newRow(name) << QString::fromLatin1(user) << QString::fromLatin1(password) << ok;
    };
    row("right", "anna", "right horse", true);
    row("wrong", "anna", "right horse ", false);
    row("name in capitals", "Anna", "right horse", false);
    row("unknown user", "bob", "right horse", false);
    row("empty password", "anna", "", false);
}

void TestWebUsers::checkPassword()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    write(m_anna + '\n');
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
    const auto made = tokens.create(u"anna"_s);
    QVERIFY2(made, qPrintable(made.reason()));
    QVERIFY(made->token.startsWith("kw_") && made->token.size() == 46);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    QVERIFY(!stored.contains(made->token.mid(3)));
    QVERIFY(stored.contains(QByteArray(made->id.toUtf8() + ":anna:")));

    ApiTokens reread(path);
    QVERIFY(reread.load());
    QCOMPARE(reread.userOf(made->token), u"anna"_s);
    QByteArray other = made->token;
    other[10] = other[10] == 'A' ? 'B' : 'A';
    QCOMPARE(reread.userOf(other), std::nullopt);
    QCOMPARE(reread.userOf(made->token.mid(3)), std::nullopt); // without its prefix
    QVERIFY(reread.revoke(made->id));
    QCOMPARE(reread.userOf(made->token), std::nullopt);
    QVERIFY(tokens.load());
    QVERIFY(tokens.tokens().isEmpty());
}

QTEST_GUILESS_MAIN(TestWebUsers)
#include "tst_web_users.moc"
