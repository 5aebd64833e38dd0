// Window programs working through kelvaro-recorder's service while it keeps the line and
// the log: one window finds the port held and attaches by itself, one is told the socket.
// Both show the same values, a write from one shows in the other, settings changes reach
// the recorder's Settings.txt, and when the recorder stops and comes back the windows go
// back to waiting and attach again, while the log goes on.

#include "board_sim_process.h"
#include "link/board_session.h"
#include "recorder_process.h"
#include "service/attached_board.h"
#include "store/settings_file.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::e2e;

namespace {

// One window program: its own state, session and main window in the board folder.
struct Desk
{
    explicit Desk(const QString& folder) : session(state, folder) {}
    void start(const QString& socket = {})
    {
        window = std::make_unique<Frm_Main>(session);
        if (!socket.isEmpty())
            window->attachAtStart(socket);
        window->startUp();
    }
    template <class T> T* child(const QString& name) const { return window->findChild<T*>(name); }
    QString panel(int k) const { return child<QLabel>(QStringLiteral("Panel%1").arg(k))->text(); }
    QString box(int k) const
    {
        return child<QLineEdit>(QStringLiteral("Txt_Inputs_%1").arg(k))->text();
    }
    QString output(int k) const
    {
        return child<QLabel>(QStringLiteral("Lbl_Outputs_%1").arg(k))->text();
    }
    void type(int k, const QString& text) const
    {
        QLineEdit* edit = child<QLineEdit>(QStringLiteral("Txt_Inputs_%1").arg(k));
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    bool attached() const { return window->attachedBoard().isAttached(); }

    Kelv_Main state;
    BoardSession session;
    std::unique_ptr<Frm_Main> window;
};

QString socketIn(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("kelvaro.sock"));
}

} // namespace

class TestE2eAttach : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void twoWindows_workThroughTheRecorderAndAttachAgainAfterItsRestart();
};

void TestE2eAttach::twoWindows_workThroughTheRecorderAndAttachAgainAfterItsRestart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path()));
    QVERIFY2(recorder.waitForJournal(QStringLiteral("serving local clients"), 10000),
             qPrintable(recorder.journalText()));
    QVERIFY(QTest::qWaitFor([&] { return logLines(dir.path()).size() >= 1; }, 15000));

    // The first window opens its port, finds it held by the recorder and attaches; the
    // second is told the socket.
    Desk first(dir.path());
    first.start();
    Desk second(dir.path());
    second.start(socketIn(dir));
    QVERIFY(QTest::qWaitFor([&] { return first.attached() && second.attached(); }, 10000));
    QCOMPARE(first.panel(1), QStringLiteral("Line: kelvaro-recorder"));
    QCOMPARE(second.panel(1), QStringLiteral("Line: kelvaro-recorder"));
    QVERIFY(!first.session.link().isOpen());
    QVERIFY(QTest::qWaitFor([&] { return first.box(2) != u"0" && second.box(2) != u"0"; }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return first.output(0) == second.output(0); }, 5000));
    QCOMPARE(first.box(2), second.box(2));

    // A write from the first window: exactly one frame on the line, confirmed by the board,
    // and the second window's box follows.
    const qint64 writesBefore = sim.stats().value("writes", -1);
    first.type(2, QStringLiteral("21.5"));
    QVERIFY(sim.waitForWord(11, 2150));
    QVERIFY(QTest::qWaitFor([&] { return second.box(2) == QStringLiteral("21.50"); }, 5000));
    QCOMPARE(sim.stats().value("writes"), writesBefore + 1);
    QVERIFY2(recorder.waitForJournal(QStringLiteral("write Lower Setpoint: \"21.5\""), 5000),
             qPrintable(recorder.journalText()));

    // kelvaro-ctl beside them: its write shows in both windows.
    const CtlRun set =
        ctl(dir.path(), {QStringLiteral("set"), QStringLiteral("2"), QStringLiteral("22"),
                         QStringLiteral("--unit"), QStringLiteral("C")});
    QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    QVERIFY(QTest::qWaitFor([&] { return first.box(2) == u"22.00" && second.box(2) == u"22.00"; },
                            5000));

    // A value the box refuses: the window says why and nothing reaches the line.
    first.type(2, QStringLiteral("500"));
    QTRY_COMPARE_WITH_TIMEOUT(first.window->findChildren<QMessageBox*>().size(), 1, 5000);
    first.window->findChild<QMessageBox*>()->close();
    QTest::qWait(500);
    QCOMPARE(sim.stats().value("writes"), writesBefore + 2);

    // The unit switched in the second window: the recorder saves it, the first follows.
    second.child<QAction>(QStringLiteral("mnuCtoF"))->trigger();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return first.child<QAction>(QStringLiteral("mnuCtoF"))->text().contains(u"Fareneit");
        },
        5000));
    Settings_Record saved;
    QVERIFY(LoadSettings(saved, dir.path()));
    QVERIFY(saved.Use_Fahrenheit);

    // The log went on without a gap while the windows came and worked.
    QVERIFY(longestGap(logLines(dir.path())) <= 4);

    // The recorder stops: both windows say so and leave the port to it; it starts again
    // (as systemd restarts it): both attach again.
    recorder.process().terminate();
    QCOMPARE(recorder.waitForExit(10000), 0);
    QVERIFY(QTest::qWaitFor([&] { return !first.attached() && !second.attached(); }, 5000));
    QCOMPARE(first.panel(1), QStringLiteral("Waiting for kelvaro-recorder"));
    QVERIFY(!first.session.link().isOpen()); // the port is left to the recorder
    Recorder again;
    QVERIFY(again.start(dir.path()));
    QVERIFY2(QTest::qWaitFor([&] { return first.attached() && second.attached(); }, 15000),
             qPrintable(again.journalText()));
    const qsizetype linesBefore = logLines(dir.path()).size();
    QVERIFY2(QTest::qWaitFor([&] { return logLines(dir.path()).size() > linesBefore + 1; }, 15000),
             qPrintable(again.journalText()));
    QVERIFY(!first.session.link().isOpen() && !second.session.link().isOpen());
}

QTEST_MAIN(TestE2eAttach)
#include "tst_e2e_attach.moc"
