// The recorder on "another machine" through a real OpenSSH server on loopback: kelvaro-ctl
// --host and the window program's --attach ssh://... reach it through the user's ssh and
// kelvaro-ctl bridge on the far side. Every failure an operator meets is said in words to
// act on, and a window whose connection is lost waits and comes back.

#include "../support/ssh_server.h"
#include "board_sim_process.h"
#include "link/board_session.h"
#include "recorder_process.h"
#include "service/attached_board.h"
#include "windows/frm_main.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::e2e;
using kelvaro::service::AttachedBoard;

namespace {

// kelvaro-ctl (or `program`) through the test's ssh: KELVARO_SSH_COMMAND names its config.
CtlRun overSsh(const QString& sshCommand, const QStringList& arguments,
               const QString& program = QStringLiteral(KELVARO_CTL_PATH),
               const QString& folder = QDir::tempPath())
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("KELVARO_SSH_COMMAND"), sshCommand);
    return runProgram(program, folder, arguments, environment);
}

} // namespace

class TestE2eSsh : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void ctl_overSsh_data();
    void ctl_overSsh();
    void window_attachesOverSsh_andComesBackWhenTheHostReturns();
    void report_overSshIsTheBoardFoldersOwn();
    void speed_firstValuesOverSshAndLocally();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<BoardSimProcess> m_sim;
    Recorder m_recorder;
    test::SshServer m_ssh;
    QString m_socket;
};

void TestE2eSsh::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_socket = m_dir.filePath(QStringLiteral("kelvaro.sock"));
    m_sim = std::make_unique<BoardSimProcess>(m_dir.path());
    const QString notStarted = startBoardAndRecorder(*m_sim, m_recorder, m_dir.path());
    QVERIFY2(notStarted.isEmpty(), qPrintable(notStarted));
    // The far side's sessions find this build's kelvaro-ctl first.
    const QString ctlFolder = QFileInfo(QStringLiteral(KELVARO_CTL_PATH)).absolutePath();
    if (!m_ssh.start(ctlFolder + QStringLiteral(":/usr/bin:/bin")))
        QSKIP(qPrintable(m_ssh.error()));
}

void TestE2eSsh::ctl_overSsh_data()
{
    QTest::addColumn<QString>("arguments"); // HOST: the address; SOCK: the recorder's socket
    QTest::addColumn<bool>("bare");         // the key whose sessions have no kelvaro-ctl
    QTest::addColumn<bool>("otherHostKey"); // known_hosts holds another key for the server
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("out");

    QTest::newRow("values") << "--host HOST/SOCK values" << false << false << 0 << ""
                            << "Actual Temperature=";
    QTest::newRow("set, confirmed")
        << "--host HOST/SOCK set 2 21.5 --unit C" << false << false << 0 << ""
        << "";
    QTest::newRow("no recorder on that path")
        << "--host HOST/tmp/none/kelvaro.sock values" << false << false << 3
        << "on 127.0.0.1: no service answers on /tmp/none/kelvaro.sock"
        << "";
    QTest::newRow("no recorder for that device")
        << "--host HOST/ttyNONE status" << false << false << 3
        << "no service answers on /run/kelvaro/ttyNONE/kelvaro.sock"
        << "";
    // (Where this machine runs a recorder of its own, the row is skipped.)
    QTest::newRow("no recorder under /run/kelvaro")
        << "--host HOST values" << false << false << 3
        << "no recorder's socket in /run/kelvaro/*/kelvaro.sock nor "
        << "";
    QTest::newRow("no such user there")
        << "--host NOUSER/SOCK values" << false << false << 3
        << "ssh could not connect to 127.0.0.1: kelvaro-nobody@127.0.0.1: Permission denied"
        << "";
    QTest::newRow("kelvaro-ctl missing there")
        << "--host HOST/SOCK values" << true << false << 3
        << "kelvaro-ctl is not installed on 127.0.0.1, or not on the PATH"
        << "";
    QTest::newRow("host key changed")
        << "--host HOST/SOCK values" << false << true << 3
        << "ssh refused 127.0.0.1: the host's key has changed (ssh: WARNING: REMOTE HOST "
           "IDENTIFICATION HAS CHANGED!"
        << "";
    QTest::newRow("a user that would be an option")
        << "--host ssh://-oProxyCommand=x@pi/ttyUSB0 values" << false << false << 2
        << "a host or user may not begin with \"-\""
        << "";
    QTest::newRow("with --socket too") << "--host HOST/SOCK --socket SOCK values" << false << false
                                       << 2 << "give --host or --socket, not both"
                                       << "";
}

void TestE2eSsh::ctl_overSsh()
{
    QFETCH(QString, arguments);
    QFETCH(bool, bare);
    QFETCH(bool, otherHostKey);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QFETCH(QString, out);

    if (QString::fromLatin1(QTest::currentDataTag()).contains(u"/run/kelvaro") &&
        !QDir(QStringLiteral("/run/kelvaro")).isEmpty())
        QSKIP("this machine runs recorders of its own");
    if (otherHostKey)
        m_ssh.trustOtherHostKey();
    const auto restore = qScopeGuard([&] { m_ssh.trustRightHostKey(); });
    QStringList words = arguments.split(u' ');
    for (QString& word : words) {
        word.replace(QStringLiteral("NOUSER/SOCK"),
                     m_ssh.address(m_socket).replace(QStringLiteral("ssh://"),
                                                     QStringLiteral("ssh://kelvaro-nobody@")));
        word.replace(QStringLiteral("HOST/SOCK"), m_ssh.address(m_socket));
        word.replace(QStringLiteral("HOST"), m_ssh.address());
        word.replace(QStringLiteral("SOCK"), m_socket);
    }
    const CtlRun run = overSsh(m_ssh.sshCommand(bare), words);
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err + run.out));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    if (arguments.contains(u"set"))
        QVERIFY(m_sim->waitForWord(11, 2150));
}

void TestE2eSsh::window_attachesOverSsh_andComesBackWhenTheHostReturns()
{
    qputenv("KELVARO_SSH_COMMAND", m_ssh.sshCommand().toLocal8Bit());
    // The window's own folder is not the board's: everything comes through ssh.
    QTemporaryDir desk;
    Kelv_Main state;
    BoardSession session(state, desk.path());
    Frm_Main window(session);
    const auto box = [&](int k) {
        return window.findChild<QLineEdit*>(QStringLiteral("Txt_Inputs_%1").arg(k))->text();
    };
    const auto panel = [&](int k) {
        return window.findChild<QLabel*>(QStringLiteral("Panel%1").arg(k))->text();
    };
    AttachedBoard& attached = window.attachedBoard();
    // A local recorder's window would open its own line after this wait: this one must not.
    attached.setTakeOverAfter(std::chrono::milliseconds(300));

    QElapsedTimer clock;
    clock.start();
    window.attachAtStart(m_ssh.address(m_socket));
    window.startUp();
    QVERIFY(QTest::qWaitFor([&] { return attached.isAttached() && box(2) != u"0"; }, 15000));
    qInfo("first values over ssh after %lld ms", clock.elapsed());
    const QString label = QDir(m_dir.path()).dirName() + QStringLiteral(" on 127.0.0.1");
    QCOMPARE(panel(1), QStringLiteral("Line: ") + label);
    QVERIFY(window.windowTitle().endsWith(QStringLiteral(" - ") + label));
    QVERIFY(!session.link().isOpen());

    // A write typed in the window reaches the board and shows confirmed.
    QLineEdit* edit = window.findChild<QLineEdit*>(QStringLiteral("Txt_Inputs_2"));
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("19.5"));
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(m_sim->waitForWord(11, 1950));
    QVERIFY(QTest::qWaitFor([&] { return box(2) == QStringLiteral("19.50"); }, 5000));

    // The host goes away: the window says it waits, and keeps off its own line.
    m_ssh.stop();
    QVERIFY(QTest::qWaitFor([&] { return !attached.isAttached(); }, 10000));
    QCOMPARE(panel(1), QStringLiteral("Waiting for ") + label);
    QTest::qWait(1500);
    QVERIFY(!session.link().isOpen());
    // It comes back: the window attaches again by itself.
    QVERIFY2(m_ssh.restart(), qPrintable(m_ssh.error()));
    QVERIFY(QTest::qWaitFor([&] { return attached.isAttached(); }, 15000));
    QCOMPARE(panel(1), QStringLiteral("Line: ") + label);
    qunsetenv("KELVARO_SSH_COMMAND");
}

// The daily report of the board folder on the far side, byte for byte as kelvaro --report
// prints it there, with the same exit status.
void TestE2eSsh::report_overSshIsTheBoardFoldersOwn()
{
    QVERIFY(QTest::qWaitFor([&] { return logLines(m_dir.path()).size() >= 2; }, 15000));
    const QString program = QStringLiteral(KELVARO_PROGRAM_PATH);
    QTemporaryDir desk;
    const CtlRun remote =
        overSsh(m_ssh.sshCommand(),
                {QStringLiteral("--report"), QStringLiteral("--attach"), m_ssh.address(m_socket)},
                program, desk.path());
    const CtlRun local = runProgram(program, m_dir.path(), {QStringLiteral("--report")});
    QVERIFY2(remote.exitCode == 0, qPrintable(remote.err));
    QCOMPARE(remote.exitCode, local.exitCode);
    QVERIFY(remote.out.startsWith(u"date,lines,skipped,"));
    // Today's row may have grown between the two runs; the days before and the header not.
    const QStringList remoteRows = remote.out.split(u'\n');
    const QStringList localRows = local.out.split(u'\n');
    QCOMPARE(remoteRows.size(), localRows.size());
    QCOMPARE(remoteRows.first(), localRows.first());
    QCOMPARE(remoteRows.value(1).section(u',', 0, 0), localRows.value(1).section(u',', 0, 0));
}

// Not a check but a measure (the figures go to the manual's performance page): the time
// from starting kelvaro-ctl to its values, five times over ssh on loopback and five times
// on the local socket, medians.
void TestE2eSsh::speed_firstValuesOverSshAndLocally()
{
    const auto median = [&](const QStringList& arguments) {
        std::vector<qint64> times;
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer clock;
            clock.start();
            const CtlRun run = overSsh(m_ssh.sshCommand(), arguments);
            times.push_back(run.exitCode == 0 ? clock.elapsed() : -1);
        }
        std::sort(times.begin(), times.end());
        return times[2];
    };
    const qint64 overSsh =
        median({QStringLiteral("--host"), m_ssh.address(m_socket), QStringLiteral("values")});
    const qint64 local = median({QStringLiteral("--socket"), m_socket, QStringLiteral("values")});
    qInfo("kelvaro-ctl values, median of 5: over ssh %lld ms, local socket %lld ms", overSsh,
          local);
    QVERIFY(overSsh > 0 && local > 0);
}

QTEST_MAIN(TestE2eSsh)
#include "tst_e2e_ssh.moc"
