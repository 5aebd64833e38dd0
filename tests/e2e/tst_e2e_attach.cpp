// Window programs working through kelvaro-recorder's service while it keeps the line and
// the log: one window finds the port held and attaches by itself, one is told the socket.
// Both show the same values, a write from one shows in the other, settings changes reach
// the recorder's Settings.txt, and when the recorder stops and comes back the windows go
// back to waiting and attach again, while the log goes on. The recorder's history: the
// chart window attached to it shows the recorder's days, and `kelvaro --report --attach`
// prints what `kelvaro --report` prints in the board folder.

#include "board_sim_process.h"
#include "history/field_meaning.h"
#include "history/history_data.h"
#include "link/board_session.h"
#include "recorder_process.h"
#include "service/attached_board.h"
#include "store/settings_file.h"
#include "windows/frm_chart.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
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

// Past days in the board folder, beside the recorder's own: a line every ten minutes, and
// one cut short on each day (a skipped line in the report).
void writePastDays(const QString& folder, int count)
{
    for (int k = 1; k <= count; ++k) {
        const QDate date = QDate::currentDate().addDays(-k);
        QByteArray bytes;
        const QByteArray stamp = date.toString(QStringLiteral("dd-MM-yyyy")).toLatin1();
        for (int minute = 0; minute < 24 * 60; minute += 10) {
            bytes +=
                stamp +
                QTime(minute / 60, minute % 60).toString(QStringLiteral(",HH:mm:ss,")).toLatin1() +
                QByteArray::number(2100 + minute % 97) + ',' + QByteArray::number(minute / 10 % 2) +
                "\r\n";
        }
        bytes += stamp + ",23:59:59,21";
        QFile file(QDir(folder).filePath(QString::fromLatin1(stamp) + QStringLiteral(".txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
}

Settings_Record recorderSettings(const QString& folder)
{
    Settings_Record settings;
    LoadSettings(settings, folder);
    return settings;
}

struct ProgramRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// `kelvaro` with `arguments` in `folder`, without a display, to its end.
ProgramRun runKelvaro(const QString& folder, const QStringList& arguments)
{
    QProcess program;
    program.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KELVARO_PROGRAM_PATH), arguments);
    ProgramRun run;
    if (!program.waitForStarted(5000) || !program.waitForFinished(30000))
        return run;
    run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    run.out = program.readAllStandardOutput();
    run.err = program.readAllStandardError();
    return run;
}

} // namespace

class TestE2eAttach : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void twoWindows_workThroughTheRecorderAndAttachAgainAfterItsRestart();
    void history_chartAndReportComeFromTheRecordersFolder();
};

void TestE2eAttach::twoWindows_workThroughTheRecorderAndAttachAgainAfterItsRestart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    Recorder recorder;
    const QString notStarted = startBoardAndRecorder(sim, recorder, dir.path());
    QVERIFY2(notStarted.isEmpty(), qPrintable(notStarted));

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

void TestE2eAttach::history_chartAndReportComeFromTheRecordersFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    Recorder recorder;
    const QString notStarted = startBoardAndRecorder(sim, recorder, dir.path());
    QVERIFY2(notStarted.isEmpty(), qPrintable(notStarted));
    writePastDays(dir.path(), 10);
    const QString yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);

    // The report: the same bytes, the same status, from any folder. Up to yesterday, as
    // today's file grows between the two runs.
    QTemporaryDir elsewhere;
    const QStringList range{QStringLiteral("--report"), QStringLiteral("--to"), yesterday};
    const ProgramRun local = runKelvaro(dir.path(), range);
    const ProgramRun remote = runKelvaro(
        elsewhere.path(), range + QStringList{QStringLiteral("--attach"), socketIn(dir)});
    QCOMPARE(local.exitCode, 0);
    QVERIFY2(remote.exitCode == 0, remote.err.constData());
    QCOMPARE(local.out.count('\n'), 1 + 10);
    QCOMPARE(remote.out, local.out);
    QCOMPARE(remote.err, local.err);
    // No recorder there: exit 3, saying so.
    const ProgramRun nobody =
        runKelvaro(elsewhere.path(), {QStringLiteral("--report"), QStringLiteral("--attach"),
                                      elsewhere.filePath(QStringLiteral("none.sock"))});
    QCOMPARE(nobody.exitCode, 3);
    QVERIFY2(nobody.err.startsWith("kelvaro: no recorder answers: no service answers on "),
             nobody.err.constData());
    QVERIFY(nobody.out.isEmpty());

    // The chart of a window attached to the recorder, its own folder empty: three days
    // with their lines, from the recorder.
    Desk desk(elsewhere.path());
    desk.start(socketIn(dir));
    QVERIFY(QTest::qWaitFor([&] { return desk.attached(); }, 10000));
    desk.child<QAction>(QStringLiteral("mnuLogChart"))->trigger();
    Frm_Chart* chart = desk.window->findChild<Frm_Chart*>();
    QVERIFY(chart);
    QSignalSpy shown(chart, &Frm_Chart::historyShown);
    const QDate from = QDate::currentDate().addDays(-3);
    chart->showDays(from, QDate::currentDate().addDays(-1));
    QVERIFY(shown.wait(10000));
    QCOMPARE(chart->statusText(),
             QStringLiteral("3 days, 435 lines, 3 skipped, from the recorder on ") + socketIn(dir));
    const auto read = HistoryData::load(
        findLogDays(dir.path(), QStringLiteral("DD-MM-YYYY"), from, from.addDays(2)),
        loggedFieldNames(recorderSettings(dir.path()), desk.state.Field_Names), 1);
    QCOMPARE(chart->history()->endIndex(), read->endIndex());
    for (int series = 0; series < read->seriesCount(); ++series) {
        for (qint64 i = 0; i < read->endIndex(); i += 7)
            QCOMPARE(chart->history()->valueAt(series, i), read->valueAt(series, i));
    }
}

QTEST_MAIN(TestE2eAttach)
#include "tst_e2e_attach.moc"
