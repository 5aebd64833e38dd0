// What a window attached to the recorder does with each settings change: the ones the
// recorder takes reach its record and its Settings.txt; the others stay in the window,
// which is told they were not saved, and survive the recorder's next record.

#include "link/board_session.h"
#include "service/attached_board.h"
#include "service/service_server.h"
#include "store/settings_file.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kelvaro;
using namespace kelvaro::service;

namespace {

enum class Change
{
    Unit,
    RawColumn,
    LoggingOff,
    Communication,
    ReaderPath,
    Timers
};

SettingsOutcome apply(SettingsKeeper& keeper, Change change)
{
    switch (change) {
    case Change::Unit:
        return keeper.setFahrenheit(true);
    case Change::RawColumn:
        return keeper.setShowDirect(1);
    case Change::LoggingOff:
        return keeper.setLogActive(LooseValue::number(0));
    case Change::Communication:
        return keeper.setCommunication({2, 19200, true, false, 7});
    case Change::ReaderPath:
        return keeper.setReaderPath(QStringLiteral("/usr/bin/okular"));
    case Change::Timers:
        return keeper.setTimers({10250, 60, 62});
    }
    return {};
}

} // namespace

class TestAttachedBoard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settingsChange_data();
    void settingsChange();
    void refusedByTheRecorder_windowGoesBackAndSaysWhy();
    void recorderGone_windowTakesTheLineBackAfterItsWait();
};

void TestAttachedBoard::settingsChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("taken"); // by the recorder; otherwise kept in the window only
    QTest::newRow("display unit") << Change::Unit << true;
    QTest::newRow("raw column") << Change::RawColumn << true;
    QTest::newRow("logging off") << Change::LoggingOff << true;
    QTest::newRow("communication") << Change::Communication << true;
    QTest::newRow("reader path") << Change::ReaderPath << false;
    QTest::newRow("timer calibration") << Change::Timers << false;
}

void TestAttachedBoard::settingsChange()
{
    QFETCH(Change, change);
    QFETCH(bool, taken);
    QTemporaryDir recorderFolder;
    QTemporaryDir windowFolder;
    QVERIFY(recorderFolder.isValid() && windowFolder.isValid());

    Kelv_Main recorderState;
    recorderState.settings.Comm_Port = 1;
    recorderState.settings.Comm_Baud = 9600;
    recorderState.settings.Log_Active = LooseValue::number(1);
    BoardSession recorder(recorderState, recorderFolder.path());
    ServiceServer server(recorder, QStringLiteral("kelvaro-recorder"), [](const QString&) {});
    const QString socket = recorderFolder.filePath(QStringLiteral("kelvaro.sock"));
    QVERIFY(server.listen(socket));

    Kelv_Main windowState;
    BoardSession window(windowState, windowFolder.path());
    AttachedBoard attached(window);
    attached.attachTo(socket);
    // The recorder's record arrives and becomes the window's.
    QVERIFY(QTest::qWaitFor([&] { return windowState.settings == recorderState.settings; }, 5000));
    QVERIFY(attached.isAttached());

    const Settings_Record before = recorderState.settings;
    const SettingsOutcome outcome = apply(window.settingsKeeper(), change);
    QCOMPARE(outcome.kind, taken ? SettingsOutcome::Kind::Saved : SettingsOutcome::Kind::NotSaved);
    const Settings_Record wanted = windowState.settings;
    if (taken) {
        QVERIFY(QTest::qWaitFor([&] { return recorderState.settings == wanted; }, 5000));
        Settings_Record saved;
        QVERIFY(LoadSettings(saved, recorderFolder.path()));
        QCOMPARE(saved, wanted);
        return;
    }
    // Not sent: a later change from elsewhere brings the recorder's record, and the
    // window's own change stays in effect beside it.
    QVERIFY(recorder.settingsKeeper().setFahrenheit(true));
    QVERIFY(QTest::qWaitFor([&] { return windowState.settings.Use_Fahrenheit; }, 5000));
    Settings_Record expected = wanted;
    expected.Use_Fahrenheit = true;
    QCOMPARE(windowState.settings, expected);
    QCOMPARE(recorderState.settings.Acrobat_Path, before.Acrobat_Path);
    QCOMPARE(recorderState.settings.Timer_CalValue, before.Timer_CalValue);
}

// The window's own check passes a name the recorder keeps for another of its files; the
// recorder refuses it, and the window shows the recorder's choices again with its words.
void TestAttachedBoard::refusedByTheRecorder_windowGoesBackAndSaysWhy()
{
    QTemporaryDir recorderFolder;
    QTemporaryDir windowFolder;
    QVERIFY(recorderFolder.isValid() && windowFolder.isValid());
    Kelv_Main recorderState;
    recorderState.settings.Comm_Port = 1;
    recorderState.settings.Comm_Baud = 9600;
    recorderState.settings.Log_Active = LooseValue::number(1);
    recorderState.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    for (LooseValue& field : recorderState.settings.Log_Fields)
        field = LooseValue::text(QStringLiteral("None"));
    recorderState.settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    BoardSession recorder(recorderState, recorderFolder.path());
    recorder.setOwnFiles({QStringLiteral("metrics.txt")});
    ServiceServer server(recorder, QStringLiteral("kelvaro-recorder"), [](const QString&) {});
    const QString socket = recorderFolder.filePath(QStringLiteral("kelvaro.sock"));
    QVERIFY(server.listen(socket));

    Kelv_Main windowState;
    BoardSession window(windowState, windowFolder.path());
    AttachedBoard attached(window);
    QList<SettingsOutcome> told;
    connect(&attached, &AttachedBoard::settingsNotSaved, this,
            [&](const SettingsOutcome& outcome) { told.append(outcome); });
    attached.attachTo(socket);
    QVERIFY(QTest::qWaitFor([&] { return windowState.settings == recorderState.settings; }, 5000));

    LoggingChoices choices{QStringLiteral("metrics"), {}, QStringLiteral("On Counter Change")};
    choices.fields.fill(QStringLiteral("None"));
    QVERIFY(window.settingsKeeper().setLogging(choices));
    QVERIFY(QTest::qWaitFor([&] { return !told.isEmpty(); }, 5000));
    QCOMPARE(told.constFirst().kind, SettingsOutcome::Kind::Refused);
    QVERIFY2(told.constFirst().message.startsWith(QStringLiteral("Settings.txt line 20: ")),
             qPrintable(told.constFirst().message));
    QCOMPARE(windowState.settings.Log_NameFormat.toText(), QStringLiteral("DD-MM-YYYY"));
    QCOMPARE(recorderState.settings.Log_NameFormat.toText(), QStringLiteral("DD-MM-YYYY"));
}

void TestAttachedBoard::recorderGone_windowTakesTheLineBackAfterItsWait()
{
    QTemporaryDir recorderFolder;
    QTemporaryDir windowFolder;
    QVERIFY(recorderFolder.isValid() && windowFolder.isValid());
    Kelv_Main recorderState;
    BoardSession recorder(recorderState, recorderFolder.path());
    auto server = std::make_unique<ServiceServer>(recorder, QStringLiteral("kelvaro-recorder"),
                                                  [](const QString&) {});
    const QString socket = recorderFolder.filePath(QStringLiteral("kelvaro.sock"));
    QVERIFY(server->listen(socket));

    Kelv_Main windowState;
    BoardSession window(windowState, windowFolder.path());
    AttachedBoard attached(window);
    QCOMPARE(AttachedBoard::TakeOverAfter, std::chrono::seconds(20));
    attached.setTakeOverAfter(std::chrono::milliseconds(1500));
    int takenBack = 0;
    connect(&attached, &AttachedBoard::lineTakenBack, this, [&] { ++takenBack; });
    attached.attachTo(socket);
    QVERIFY(QTest::qWaitFor([&] { return attached.isAttached(); }, 5000));
    QVERIFY(window.isAttached());

    server.reset(); // the recorder is gone
    QVERIFY(QTest::qWaitFor([&] { return !attached.isAttached(); }, 5000));
    QTest::qWait(200);
    QVERIFY2(window.isAttached(), "the line is left alone for the wait");
    QVERIFY(QTest::qWaitFor([&] { return takenBack == 1; }, 5000));
    QVERIFY(!window.isAttached());
}

QTEST_GUILESS_MAIN(TestAttachedBoard)
#include "tst_attached_board.moc"
