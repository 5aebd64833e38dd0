// The recorder's history over its socket, with the session in this process and a board
// folder of log files the test writes: which requests are answered and which refused (bad
// days, a range backwards or too long, a second request while one runs), every line under
// the length limit, missing days simply absent, and the history a client assembles equal
// to the one the chart reads from the folder itself, buckets and lines.

#include "core/field_names.h"
#include "history/history_command.h"
#include "history/history_data.h"
#include "link/board_session.h"
#include "service/remote_history.h"
#include "service/service_client.h"
#include "service/service_protocol.h"
#include "service/service_server.h"
#include "store/settings_file.h"
#include "support/unprivileged.h"
#include "support/working_settings.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

using namespace kelvaro;
using namespace kelvaro::service;

namespace {

// A day of the actual temperature rising by one every `step` seconds.
QByteArray risingDay(const QDate& date, int step)
{
    QByteArray bytes;
    const QByteArray stamp = date.toString(QStringLiteral("dd-MM-yyyy")).toLatin1();
    const qint64 start = QDateTime(date, QTime(0, 0)).toSecsSinceEpoch();
    const qint64 end = QDateTime(date.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    for (qint64 t = start; t < end; t += step) {
        bytes +=
            stamp +
            QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral(",HH:mm:ss,")).toLatin1() +
            QByteArray::number(2000 + (t - start) / step % 500) + "\r\n";
    }
    return bytes;
}

// The recorder's session and socket in this process, over a board folder holding a log
// file for each day of January 2026 but the 12th, and a day at a line a second (the 20th,
// some megabytes) to be sent in many pieces.
struct Rig
{
    QTemporaryDir dir;
    Kelv_Main state;
    std::unique_ptr<BoardSession> session;
    std::unique_ptr<ServiceServer> server;
    QString path;

    bool start()
    {
        Init_Field_Names(state.Field_Names);
        state.settings = test::workingSettings();
        if (!dir.isValid() || !SaveSettings(state.settings, dir.path()))
            return false;
        for (int d = 1; d <= 31; ++d) {
            if (d == 12)
                continue;
            const QDate date(2026, 1, d);
            QFile file(dir.filePath(date.toString(QStringLiteral("dd-MM-yyyy.txt"))));
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(risingDay(date, d == 20 ? 1 : 60)) < 0)
                return false;
        }
        session = std::make_unique<BoardSession>(state, dir.path());
        server = std::make_unique<ServiceServer>(*session, QStringLiteral("kelvaro-recorder"),
                                                 [](const QString&) {});
        path = dir.filePath(QStringLiteral("kelvaro.sock"));
        return bool(server->listen(path));
    }
    std::vector<LogDayFile> files(const QDate& from, const QDate& to) const
    {
        return findLogDays(dir.path(), QStringLiteral("DD-MM-YYYY"), from, to);
    }
    QStringList names() const { return {QStringLiteral("Actual Temperature (i16)")}; }
};

// A client reading raw lines, to see each one's length and every message of an answer.
class LineClient
{
public:
    explicit LineClient(const QString& path) { m_socket.connectToServer(path); }

    void send(const QByteArray& line) { m_socket.write(line + '\n'); }
    // The messages up to the next "end" or "error" carrying `id`; empty when none came.
    QList<QJsonObject> answer(int id, int ms = 20000)
    {
        QList<QJsonObject> messages;
        [[maybe_unused]] const bool ended = QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                qsizetype end = 0;
                while ((end = m_buffer.indexOf('\n')) >= 0) {
                    m_longest = std::max(m_longest, end);
                    const QJsonObject message =
                        QJsonDocument::fromJson(m_buffer.left(end)).object();
                    m_buffer.remove(0, end + 1);
                    if (message.value(u"id").toInt() != id)
                        continue;
                    messages.append(message);
                    const QString type = message.value(u"type").toString();
                    if (type == u"end" || type == u"error")
                        return true;
                }
                return false;
            },
            ms);
        return messages;
    }
    qsizetype longest() const { return m_longest; }

private:
    QLocalSocket m_socket;
    QByteArray m_buffer;
    qsizetype m_longest = 0;
};

void compareDays(const HistoryData& remote, const HistoryData& local)
{
    QCOMPARE(remote.days().size(), local.days().size());
    for (size_t i = 0; i < local.days().size(); ++i) {
        const HistoryData::Day& r = remote.days()[i];
        const HistoryData::Day& l = local.days()[i];
        QCOMPARE(r.date, l.date);
        QCOMPARE(r.lines, l.lines);
        QCOMPARE(r.skipped, l.skipped);
        QCOMPARE(r.width, l.width);
        QCOMPARE(r.medianStepMs, l.medianStepMs);
        QCOMPARE(r.start, l.start);
        QCOMPARE(r.end, l.end);
        QCOMPARE(r.held, l.held);
        QVERIFY(r.seconds == l.seconds);
        QVERIFY(r.values == l.values);
        QCOMPARE(r.buckets->size(), l.buckets->size());
        for (size_t b = 0; b < l.buckets->size(); ++b) {
            const HistoryData::Bucket& x = (*r.buckets)[b];
            const HistoryData::Bucket& y = (*l.buckets)[b];
            QVERIFY(x.tFirst == y.tFirst && x.tLast == y.tLast && x.min == y.min &&
                    x.max == y.max && x.first == y.first && x.last == y.last && x.count == y.count);
        }
    }
    QCOMPARE(remote.endIndex(), local.endIndex());
    QCOMPARE(remote.seriesCount(), local.seriesCount());
}

// The history a RemoteHistory hands over, or none when it failed.
struct Received
{
    std::shared_ptr<const HistoryData> data;
    QString failure;
};

Received wait(RemoteHistory& remote)
{
    Received received;
    QObject context;
    QObject::connect(&remote, &RemoteHistory::historyReady, &context,
                     [&](std::shared_ptr<const HistoryData> days, const QStringList&) {
                         received.data = std::move(days);
                     });
    QObject::connect(&remote, &RemoteHistory::failed, &context,
                     [&](const QString& why) { received.failure = why; });
    [[maybe_unused]] const bool came =
        QTest::qWaitFor([&] { return received.data || !received.failure.isEmpty(); }, 20000);
    return received;
}

} // namespace

class TestHistoryAnswers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void request_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("days");      // in the "end"; -1: refused
        QTest::addColumn<QString>("types"); // the answer's message types, in order
        QTest::addColumn<QString>("reason");

        QTest::newRow("days: all, the missing 12th absent")
            << QByteArray(R"({"type":"days"})") << 30 << QStringLiteral("dates end") << QString();
        QTest::newRow("days: a range around the missing day")
            << QByteArray(R"({"type":"days","from":"2026-01-11","to":"2026-01-13"})") << 2
            << QStringLiteral("dates end") << QString();
        QTest::newRow("days: a range without files")
            << QByteArray(R"({"type":"days","from":"2025-01-01","to":"2025-12-31"})") << 0
            << QStringLiteral("end") << QString();
        QTest::newRow("history: three days come as their files")
            << QByteArray(R"({"type":"history","from":"2026-01-10","to":"2026-01-13"})") << 3
            << QStringLiteral("history") + QStringLiteral(" file file").repeated(3) +
                   QStringLiteral(" end")
            << QString();
        QTest::newRow("history: eight days come as summaries")
            << QByteArray(R"({"type":"history","from":"2026-01-01","to":"2026-01-08"})") << 8
            << QStringLiteral("history") + QStringLiteral(" day buckets").repeated(8) +
                   QStringLiteral(" end")
            << QString();
        QTest::newRow("history: the longest range")
            << QByteArray(R"({"type":"history","from":"2015-12-27","to":"2026-01-02"})") << 2
            << QStringLiteral("history file file file file end") << QString();
        QTest::newRow("detail: the day of a line a second, in pieces")
            << QByteArray(R"({"type":"detail","from":"2026-01-20","to":"2026-01-20"})") << 1
            << QStringLiteral("detail") + QStringLiteral(" file").repeated(61) +
                   QStringLiteral(" end")
            << QString();
        QTest::newRow("report: one day") << QByteArray(R"({"type":"report","from":"2026-01-31"})")
                                         << 1 << QStringLiteral("report end") << QString();

        QTest::newRow("refused: no such day")
            << QByteArray(R"({"type":"days","from":"2026-02-30"})") << -1 << QStringLiteral("error")
            << QStringLiteral("\"from\" must be a day written YYYY-MM-DD");
        QTest::newRow("refused: not YYYY-MM-DD")
            << QByteArray(R"({"type":"report","to":"2026-1-5"})") << -1 << QStringLiteral("error")
            << QStringLiteral("\"to\" must be a day written YYYY-MM-DD");
        QTest::newRow("refused: from after to")
            << QByteArray(R"({"type":"report","from":"2026-01-02","to":"2026-01-01"})") << -1
            << QStringLiteral("error") << QStringLiteral("\"from\" is after \"to\"");
        QTest::newRow("refused: a day over the longest range")
            << QByteArray(R"({"type":"history","from":"2015-12-26","to":"2026-01-02"})") << -1
            << QStringLiteral("error")
            << QStringLiteral("the range covers more than 3660 days; ask for less");
        QTest::newRow("refused: history without its end")
            << QByteArray(R"({"type":"history","from":"2026-01-01"})") << -1
            << QStringLiteral("error")
            << QStringLiteral("\"history\" and \"detail\" need \"from\" and \"to\"");
        QTest::newRow("refused: detail of more days than a close view holds")
            << QByteArray(R"({"type":"detail","from":"2026-01-01","to":"2026-01-08"})") << -1
            << QStringLiteral("error") << QStringLiteral("\"detail\" covers at most 7 days");
    }
    void request()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, days);
        QFETCH(QString, types);
        QFETCH(QString, reason);
        Rig rig;
        QVERIFY(rig.start());
        LineClient client(rig.path);
        QJsonObject object = QJsonDocument::fromJson(request).object();
        object.insert(QStringLiteral("id"), 7);
        client.send(QJsonDocument(object).toJson(QJsonDocument::Compact));
        const QList<QJsonObject> answer = client.answer(7);
        QStringList seen;
        for (const QJsonObject& message : answer)
            seen.append(message.value(u"type").toString());
        QCOMPARE(seen.join(u' '), types);
        QVERIFY(client.longest() < MaxLineLength);
        const QJsonObject last = answer.value(answer.size() - 1);
        if (days < 0) {
            QCOMPARE(last.value(u"reason").toString(), reason);
            return;
        }
        QCOMPARE(last.value(u"request").toString(), object.value(u"type").toString());
        QCOMPARE(last.value(u"days").toInt(), days);
        QCOMPARE(last.value(u"read").toInt(), days);
        QCOMPARE(last.value(u"errors").toArray().size(), 0);
    }

    // What `kelvaro --report` prints in the folder, CSV and errors, is what the answer
    // carries; the chart's history names the same file.
    void unreadableFile_namedAsTheLocalReadNamesIt()
    {
        KELVARO_RUN_UNPRIVILEGED();
        Rig rig;
        QVERIFY(rig.start());
        const QString locked = rig.dir.filePath(QStringLiteral("05-01-2026.txt"));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));

        HistoryCommand command;
        command.to = QDate(2026, 1, 10);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        QCOMPARE(runReport(rig.dir.path(), command, out, err), 0);
        const auto contents = [](std::FILE* file) {
            QFile read;
            std::rewind(file);
            (void)read.open(file, QIODevice::ReadOnly);
            return read.readAll();
        };
        const QByteArray localCsv = contents(out);
        const QByteArray localErrors = contents(err);
        std::fclose(out);
        std::fclose(err);
        QVERIFY(localErrors.startsWith(QByteArray(locked.toLocal8Bit() + ": ")));

        ServiceClient client;
        QSignalSpy connected(&client, &ServiceClient::connected);
        client.connectTo(rig.path);
        QVERIFY(connected.wait());
        RemoteHistory remote(client);
        QSignalSpy report(&remote, &RemoteHistory::reportReady);
        remote.requestReport(std::nullopt, command.to);
        QVERIFY(report.wait(10000));
        QCOMPARE(report.first().at(0).toByteArray(), localCsv);
        const QStringList errors = report.first().at(1).toStringList();
        QCOMPARE((errors.join(u'\n') + u'\n').toLocal8Bit(), localErrors);
        QCOMPARE(report.first().at(2).toInt(), 10);
        QCOMPARE(report.first().at(3).toInt(), 9);

        QStringList localLoad;
        (void)HistoryData::load(rig.files(QDate(2026, 1, 1), QDate(2026, 1, 10)), rig.names(), 1,
                                &localLoad);
        remote.requestHistory(QDate(2026, 1, 1), QDate(2026, 1, 10));
        QSignalSpy history(&remote, &RemoteHistory::historyReady);
        QVERIFY(history.wait(10000));
        QCOMPARE(history.first().at(1).toStringList(), localLoad);
    }

    void secondRequest_refusedWhileTheFirstRunsThenServed()
    {
        Rig rig;
        QVERIFY(rig.start());
        LineClient client(rig.path);
        client.send(R"({"type":"history","id":1,"from":"2026-01-01","to":"2026-01-31"})");
        client.send(R"({"type":"report","id":2})");
        const QList<QJsonObject> refused = client.answer(2);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.first().value(u"reason").toString(),
                 QStringLiteral("one history request at a time: the one before is still being "
                                "answered"));
        const QList<QJsonObject> first = client.answer(1);
        QCOMPARE(first.last().value(u"type").toString(), QStringLiteral("end"));
        QCOMPARE(first.last().value(u"days").toInt(), 30);
        client.send(R"({"type":"report","id":3})");
        QCOMPARE(client.answer(3).last().value(u"days").toInt(), 30);
    }

    void clientGoesAway_theServerServesOthers()
    {
        Rig rig;
        QVERIFY(rig.start());
        {
            LineClient leaving(rig.path);
            leaving.send(R"({"type":"history","id":1,"from":"2026-01-01","to":"2026-01-31"})");
            QTest::qWait(20);
        }
        QVERIFY(QTest::qWaitFor([&] { return rig.server->clientCount() == 0; }, 5000));
        LineClient staying(rig.path);
        staying.send(R"({"type":"days","id":2})");
        QCOMPARE(staying.answer(2).last().value(u"days").toInt(), 30);
    }

    void remoteHistory_equalsTheFolderRead_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QDate>("detailFrom"); // null: no close view
        QTest::addColumn<QDate>("detailTo");
        QTest::newRow("three days with their lines, the 12th missing")
            << QDate(2026, 1, 10) << QDate(2026, 1, 13) << QDate() << QDate();
        QTest::newRow("a month as its summary")
            << QDate(2026, 1, 1) << QDate(2026, 1, 31) << QDate() << QDate();
        QTest::newRow("a month and a close view of two days")
            << QDate(2026, 1, 1) << QDate(2026, 1, 31) << QDate(2026, 1, 19) << QDate(2026, 1, 20);
    }
    void remoteHistory_equalsTheFolderRead()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QDate, detailFrom);
        QFETCH(QDate, detailTo);
        Rig rig;
        QVERIFY(rig.start());
        ServiceClient client;
        QSignalSpy connected(&client, &ServiceClient::connected);
        client.connectTo(rig.path);
        QVERIFY(connected.wait());
        QCOMPARE(client.serverProtocol(), 2);
        RemoteHistory remote(client);

        std::shared_ptr<const HistoryData> local =
            HistoryData::load(rig.files(from, to), rig.names(), 2);
        remote.requestHistory(from, to);
        Received received = wait(remote);
        QVERIFY2(received.data, qPrintable(received.failure));
        if (detailFrom.isValid()) {
            local = local->withDetail(detailFrom, detailTo);
            remote.requestDetail(received.data, detailFrom, detailTo);
            received = wait(remote);
            QVERIFY2(received.data, qPrintable(received.failure));
        }
        compareDays(*received.data, *local);
    }

    void olderRecorder_saidInWords()
    {
        QTemporaryDir dir;
        QLocalServer old;
        QVERIFY(old.listen(dir.filePath(QStringLiteral("old.sock"))));
        QObject::connect(&old, &QLocalServer::newConnection, &old, [&] {
            old.nextPendingConnection()->write(
                R"({"type":"hello","protocol":1,"program":"kelvaro-recorder"})"
                "\n");
        });
        ServiceClient client;
        QSignalSpy connected(&client, &ServiceClient::connected);
        client.connectTo(old.fullServerName());
        QVERIFY(connected.wait());
        QCOMPARE(client.serverProtocol(), 1);
        RemoteHistory remote(client);
        remote.requestHistory(QDate(2026, 1, 1), QDate(2026, 1, 2));
        QCOMPARE(wait(remote).failure,
                 QStringLiteral("the recorder is older (protocol 1) and cannot send its history"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryAnswers)
#include "tst_history_answers.moc"
