#include "link/link_protocol.h"
#include "link/port_naming.h"
#include "link/serial_port.h"
#include "support/board_line.h"
#include "support/recording_handler.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <thread>
#include <unistd.h>

using namespace kelvaro;

namespace {

using kelvaro::test::BoardLine;

constexpr qint16 TestPort = 7;

// A folder with "com7" linked to a fresh board line, and the port under test.
struct Bench
{
    explicit Bench(bool raw = true) : line(raw)
    {
        port.setReceiver([this](QByteArrayView bytes) { fromBoard += bytes.toByteArray(); });
    }
    bool isValid() const
    {
        return folder.isValid() && line.isValid() && linkLine(QStringLiteral("com7"));
    }
    bool linkLine(const QString& name) const
    {
        return QFile::link(line.deviceName(), folder.filePath(name));
    }
    bool open(bool rts = false, bool dtr = false)
    {
        return port.open({TestPort, 9600, rts, dtr, {}}, folder.path());
    }
    QString portText() const
    {
        return QStringLiteral("Port 7 is %1 (%2)")
            .arg(folder.filePath(QStringLiteral("com7")), line.deviceName());
    }

    QTemporaryDir folder;
    BoardLine line;
    SerialPort port;
    QByteArray fromBoard;
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int v : values)
        result.append(char(v));
    return result;
}

QByteArray allByteValues()
{
    QByteArray result;
    for (int v = 0; v < 256; ++v)
        result.append(char(v));
    return result;
}

QByteArray pseudoRandomBytes(int count)
{
    QRandomGenerator generator(2313);
    QByteArray result(count, '\0');
    for (char& c : result)
        c = char(generator.bounded(256));
    return result;
}

std::chrono::milliseconds processCpuTime()
{
    timespec now = {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::milliseconds(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

enum class Entry
{
    None,
    LinkToLine,
    LinkToMissingDevice,
    LinkToDevNull,
    PlainFile,
    LinkToLockedLine,
    LinkToGroupOnlyLine,
};

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portDeviceName_data();
    void portDeviceName();
    void lineSettingsText_data();
    void lineSettingsText();
    void baudFromLineSettings_data();
    void baudFromLineSettings();
    void linkExchange_overTheRealPort_data();
    void linkExchange_overTheRealPort();
    void everyByteValue_passesUnchangedBothWays_data();
    void everyByteValue_passesUnchangedBothWays();
    void failedOpen_saysWhy_data();
    void failedOpen_saysWhy();
    void portInUse_untilTheOwnerLetsGo_data();
    void portInUse_untilTheOwnerLetsGo();
    void deviceRemoved_closesAtOnceWithoutSpinning_data();
    void deviceRemoved_closesAtOnceWithoutSpinning();
    void deviceRemoved_reopenedWhenItReturns();
    void onlyAVanishedDevice_isRetried_data();
    void onlyAVanishedDevice_isRetried();
    void silentBoard_saidSoUntilBytesArrive();
    void awaitedBytes_readInFewChunks_data();
    void awaitedBytes_readInFewChunks();
    void retriedOpenSucceeds_problemCleared_data();
    void retriedOpenSucceeds_problemCleared();
    void lineTakesNothing_writesDroppedAndCountedNotQueued();
};

void TestSerialPort::portDeviceName_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QStringList>("entries"); // files made in the folder; "name>target" links
    QTest::addColumn<bool>("fromCurrentDirectory");
    QTest::addColumn<QString>("expected"); // "%dir" stands for the folder

    const QStringList none;
    QTest::newRow("1 is ttyS0") << 1 << none << false << "/dev/ttyS0";
    QTest::newRow("32 is ttyS31") << 32 << none << false << "/dev/ttyS31";
    QTest::newRow("33 is ttyUSB0") << 33 << none << false << "/dev/ttyUSB0";
    QTest::newRow("64 is ttyUSB31") << 64 << none << false << "/dev/ttyUSB31";
    QTest::newRow("65 is ttyACM0") << 65 << none << false << "/dev/ttyACM0";
    QTest::newRow("96 is ttyACM31") << 96 << none << false << "/dev/ttyACM31";
    QTest::newRow("0 names nothing") << 0 << none << false << "";
    QTest::newRow("-1 names nothing") << -1 << none << false << "";
    QTest::newRow("97 names nothing") << 97 << none << false << "";
    QTest::newRow("com1 link wins over ttyS0")
        << 1 << QStringList{QStringLiteral("com1>/dev/null")} << false << "%dir/com1";
    QTest::newRow("com1 link to a missing device still wins")
        << 1 << QStringList{QStringLiteral("com1>/dev/ttyUSB31-unplugged")} << false << "%dir/com1";
    QTest::newRow("plain file com1 wins")
        << 1 << QStringList{QStringLiteral("com1")} << false << "%dir/com1";
    QTest::newRow("COM1 in capitals is not the link")
        << 1 << QStringList{QStringLiteral("COM1>/dev/null")} << false << "/dev/ttyS0";
    QTest::newRow("com2 link leaves port 1 alone")
        << 1 << QStringList{QStringLiteral("com2>/dev/null")} << false << "/dev/ttyS0";
    QTest::newRow("com97 link names port 97")
        << 97 << QStringList{QStringLiteral("com97>/dev/null")} << false << "%dir/com97";
    QTest::newRow("com0 link names nothing")
        << 0 << QStringList{QStringLiteral("com0>/dev/null")} << false << "";
    QTest::newRow("link in the working directory is an absolute path")
        << 3 << QStringList{QStringLiteral("com3>/dev/null")} << true << "%dir/com3";
}

void TestSerialPort::portDeviceName()
{
#ifdef Q_OS_WIN
    QSKIP("POSIX device names");
#endif
    QFETCH(int, port);
    QFETCH(QStringList, entries);
    QFETCH(bool, fromCurrentDirectory);
    QFETCH(QString, expected);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('>'));
        const QString path = folder.filePath(parts[0]);
        if (parts.size() == 2) {
            QVERIFY(QFile::link(parts[1], path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

    QString result;
    if (fromCurrentDirectory) {
        const QString previous = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        QVERIFY(QDir::setCurrent(folder.path()));
        result = kelvaro::portDeviceName(port, QStringLiteral("."));
        expected.replace(QStringLiteral("%dir"), QDir::currentPath());
    } else {
        result = kelvaro::portDeviceName(port, folder.path());
        expected.replace(QStringLiteral("%dir"), folder.path());
    }
    QCOMPARE(result, expected);
}

void TestSerialPort::lineSettingsText_data()
{
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<QString>("text");
    QTest::newRow("9600") << 9600 << "9600,n,8,1";
    QTest::newRow("1200") << 1200 << "1200,n,8,1";
    QTest::newRow("115200") << 115200 << "115200,n,8,1";
    QTest::newRow("0") << 0 << "0,n,8,1";
    QTest::newRow("negative") << -4800 << "-4800,n,8,1";
}

void TestSerialPort::lineSettingsText()
{
    QFETCH(qint32, baud);
    QFETCH(QString, text);
    QCOMPARE(kelvaro::lineSettingsText(baud), text);
    // What is shown is what configures the port: every usable rate reads back.
    if (baud > 0)
        QCOMPARE(kelvaro::baudFromLineSettings(text), std::optional<qint32>(baud));
}

void TestSerialPort::baudFromLineSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("baud"); // 0: refused

    QTest::newRow("9600") << "9600,n,8,1" << 9600;
    QTest::newRow("upper-case parity letter") << "19200,N,8,1" << 19200;
    QTest::newRow("largest 32-bit rate") << "2147483647,n,8,1" << 2147483647;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("rate alone") << "9600" << 0;
    QTest::newRow("rate 0") << "0,n,8,1" << 0;
    QTest::newRow("negative rate") << "-9600,n,8,1" << 0;
    QTest::newRow("plus sign") << "+9600,n,8,1" << 0;
    QTest::newRow("leading space") << " 9600,n,8,1" << 0;
    QTest::newRow("decimal rate") << "9600.5,n,8,1" << 0;
    QTest::newRow("rate beyond 32 bits") << "4294967296,n,8,1" << 0;
    QTest::newRow("even parity, 7 bits, 2 stops") << "9600,e,7,2" << 0;
    QTest::newRow("two stop bits") << "9600,n,8,2" << 0;
    QTest::newRow("missing stop bits") << "9600,n,8" << 0;
    QTest::newRow("trailing field") << "9600,n,8,1,x" << 0;
    QTest::newRow("no rate") << ",n,8,1" << 0;
}

void TestSerialPort::baudFromLineSettings()
{
    QFETCH(QString, text);
    QFETCH(qint32, baud);
    const std::optional<qint32> expected = baud ? std::optional<qint32>(baud) : std::nullopt;
    QCOMPARE(kelvaro::baudFromLineSettings(text), expected);
}

void TestSerialPort::linkExchange_overTheRealPort_data()
{
    QTest::addColumn<bool>("rawLine");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<bool>("dtr");
    QTest::newRow("raw line, RTS and DTR active") << true << true << true;
    QTest::newRow("raw line, RTS and DTR inactive") << true << false << false;
    QTest::newRow("terminal defaults, RTS only") << false << true << false;
}

void TestSerialPort::linkExchange_overTheRealPort()
{
    QFETCH(bool, rawLine);
    QFETCH(bool, rts);
    QFETCH(bool, dtr);

    Bench bench(rawLine);
    QVERIFY(bench.isValid());
    RegisterImage image;
    LinkFlags flags;
    testing::RecordingHandler handler([&bench](QByteArrayView bytes) { bench.port.write(bytes); });
    LinkProtocol protocol(flags, image, handler);
    bench.port.setReceiver([&](QByteArrayView bytes) { protocol.receive(bytes); });

    // The pseudo-terminal refuses DTR and RTS; the port must work all the same.
    QVERIFY2(bench.open(rts, dtr), qPrintable(bench.port.problem()));
    QVERIFY(bench.port.isOpen());
    QCOMPARE(bench.port.problem(), QString());

    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.line.received(), QByteArray("R"));
    QCOMPARE(handler.status, StatusRead);

    // A block holding every byte a terminal might swallow or change, and a "Q".
    QByteArray block = bytes({0x00, 0x11, 0x13, 0x0D, 0x0A, 0xFF, 0x51, 0x03, 0x1A, 0x7F});
    block += pseudoRandomBytes(BlockSize - int(block.size()));
    QVERIFY(bench.line.send("B" + block));
    QTRY_COMPARE(handler.blocksReceived, 1);
    QCOMPARE(handler.updateInputsCalls, 1);
    for (int k = 0; k < RegisterCount; ++k)
        QCOMPARE(image.Reg_Words[k], quint8(block[2 * k + 1]) * 256 + quint8(block[2 * k]));

    // A write of 0x0D11 to word 10: frame 0x14 0x00 0x11 0x0D goes out after "W" / "S".
    QVERIFY(protocol.WrParam(10, 0x0D11));
    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.line.received(), QByteArray("RW"));
    QCOMPARE(handler.status, StatusWrite);
    QVERIFY(bench.line.send("S"));
    QTRY_COMPARE(bench.line.received(), "RW" + bytes({0x14, 0x00, 0x11, 0x0D}));
    QVERIFY(!flags.Write_Pending);

    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.line.received(), "RW" + bytes({0x14, 0x00, 0x11, 0x0D}) + "R");
}

void TestSerialPort::everyByteValue_passesUnchangedBothWays_data()
{
    QTest::addColumn<bool>("rawLine");
    QTest::addColumn<QByteArray>("data");

    const QByteArray special = bytes({0x00, 0x11, 0x13, 0x0D, 0x0A, 0xFF});
    QTest::newRow("NUL XON XOFF CR LF FF, raw line") << true << special;
    QTest::newRow("NUL XON XOFF CR LF FF, terminal defaults") << false << special;
    QTest::newRow("CR LF pairs, terminal defaults") << false << QByteArray("\r\n\r\n\n\r");
    QTest::newRow("all 256 values, terminal defaults") << false << allByteValues();
    QTest::newRow("8 KiB of noise, more than the line buffers") << true << pseudoRandomBytes(8192);
}

void TestSerialPort::everyByteValue_passesUnchangedBothWays()
{
    QFETCH(bool, rawLine);
    QFETCH(QByteArray, data);

    Bench bench(rawLine);
    QVERIFY(bench.isValid());
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));

    QVERIFY(bench.line.send(data));
    QTRY_COMPARE(bench.fromBoard, data);

    bench.port.write(data);
    // Nothing echoed or added: exactly the bytes written.
    QTRY_COMPARE(bench.line.received(), data);
}

void TestSerialPort::failedOpen_saysWhy_data()
{
    QTest::addColumn<Entry>("entry"); // what "com7" in the folder is
    QTest::addColumn<int>("port");
    QTest::addColumn<qint32>("baud");
    // "%dir": the folder; "%target": the link's target; "%group": the line's group
    QTest::addColumn<QString>("expected");

    const QString line = QStringLiteral("Port 7 is %dir/com7 (%target): ");
    QTest::newRow("no settings file: port 0, baud 0")
        << Entry::None << 0 << 0 << "Port 0 names no serial device; baud rate 0 is not usable";
    QTest::newRow("port 0") << Entry::None << 0 << 9600 << "Port 0 names no serial device";
    QTest::newRow("port -1") << Entry::None << -1 << 9600 << "Port -1 names no serial device";
    QTest::newRow("port 97") << Entry::None << 97 << 9600 << "Port 97 names no serial device";
    QTest::newRow("baud 0") << Entry::LinkToLine << 7 << 0
                            << line + QStringLiteral("baud rate 0 is not usable");
    QTest::newRow("negative baud") << Entry::LinkToLine << 7 << -9600
                                   << line + QStringLiteral("baud rate -9600 is not usable");
    QTest::newRow("missing device")
        << Entry::LinkToMissingDevice << 7 << 9600 << line + QStringLiteral("no such device");
    QTest::newRow("link to /dev/null")
        << Entry::LinkToDevNull << 7 << 9600 << line + QStringLiteral("not a serial device");
    QTest::newRow("plain file") << Entry::PlainFile << 7 << 9600
                                << "Port 7 is %dir/com7: not a serial device";
    QTest::newRow("no access rights")
        << Entry::LinkToLockedLine << 7 << 9600 << line + QStringLiteral("permission denied");
    QTest::newRow("access for the group only")
        << Entry::LinkToGroupOnlyLine << 7 << 9600
        << line + QStringLiteral("permission denied: add your user to the %group group");
}

void TestSerialPort::failedOpen_saysWhy()
{
    QFETCH(Entry, entry);
    QFETCH(int, port);
    QFETCH(qint32, baud);
    QFETCH(QString, expected);

    if (entry == Entry::LinkToLockedLine || entry == Entry::LinkToGroupOnlyLine)
        KELVARO_RUN_UNPRIVILEGED(); // root opens a device without access rights
    Bench bench;
    QVERIFY(bench.folder.isValid() && bench.line.isValid());
    const QString com7 = bench.folder.filePath(QStringLiteral("com7"));
    QString target;
    switch (entry) {
    case Entry::None:
        break;
    case Entry::LinkToLockedLine:
        QVERIFY(bench.line.setMode(0));
        target = bench.line.deviceName();
        break;
    case Entry::LinkToGroupOnlyLine:
        QVERIFY(bench.line.setMode(S_IRGRP | S_IWGRP));
        target = bench.line.deviceName();
        break;
    case Entry::LinkToLine:
        target = bench.line.deviceName();
        break;
    case Entry::LinkToMissingDevice:
        target = bench.folder.filePath(QStringLiteral("ttyUSB-unplugged"));
        break;
    case Entry::LinkToDevNull:
        target = QStringLiteral("/dev/null");
        break;
    case Entry::PlainFile: {
        QFile file(com7);
        QVERIFY(file.open(QIODevice::WriteOnly));
        break;
    }
    }
    if (!target.isEmpty())
        QVERIFY(QFile::link(target, com7));
    expected.replace(QStringLiteral("%dir"), bench.folder.path());
    expected.replace(QStringLiteral("%target"), target);
    expected.replace(QStringLiteral("%group"), bench.line.groupName());

    QSignalSpy problems(&bench.port, &SerialPort::problemChanged);
    QVERIFY(!bench.port.open({qint16(port), baud, true, true, {}}, bench.folder.path()));
    QVERIFY(!bench.port.isOpen());
    QCOMPARE(bench.port.problem(), expected);
    QCOMPARE(problems.count(), 1);
    QCOMPARE(problems.at(0).at(0).toString(), expected);
    bench.port.write("R"); // dropped, no harm
}

void TestSerialPort::portInUse_untilTheOwnerLetsGo_data()
{
    QTest::addColumn<QString>("secondLink");
    QTest::newRow("same link") << "com7";
    QTest::newRow("another link to the same device") << "com8";
}

void TestSerialPort::portInUse_untilTheOwnerLetsGo()
{
    QFETCH(QString, secondLink);
    const qint16 secondPort = qint16(secondLink.mid(3).toInt());

    Bench bench;
    QVERIFY(bench.isValid());
    if (secondLink != QStringLiteral("com7"))
        QVERIFY(bench.linkLine(secondLink));
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));

    auto second = std::make_unique<SerialPort>();
    QSignalSpy problems(second.get(), &SerialPort::problemChanged);
    const PortSettings settings{secondPort, 9600, false, false, {}};
    QVERIFY(!second->open(settings, bench.folder.path()));
    QCOMPARE(second->problem(), QStringLiteral("Port %1 is %2 (%3): in use by %4 (process %5)")
                                    .arg(secondPort)
                                    .arg(bench.folder.filePath(secondLink), bench.line.deviceName(),
                                         QCoreApplication::applicationName())
                                    .arg(QCoreApplication::applicationPid()));

    // The owner is not disturbed.
    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.fromBoard, QByteArray("Q"));

    // Once the owner closes, the second program gets the line and its problem clears.
    bench.port.close();
    QVERIFY2(second->open(settings, bench.folder.path()), qPrintable(second->problem()));
    QCOMPARE(second->problem(), QString());
    QCOMPARE(problems.count(), 2);
    QCOMPARE(problems.at(1).at(0).toString(), QString());

    // Destroying an open port lets go of the line too.
    second.reset();
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
}

void TestSerialPort::deviceRemoved_closesAtOnceWithoutSpinning_data()
{
    QTest::addColumn<int>("unsentBytes"); // output still waiting when the device goes
    QTest::newRow("idle line") << 0;
    QTest::newRow("with unsent output") << 256 * 1024;
}

void TestSerialPort::deviceRemoved_closesAtOnceWithoutSpinning()
{
    QFETCH(int, unsentBytes);

    Bench bench;
    QVERIFY(bench.isValid());
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.fromBoard, QByteArray("Q"));
    bench.port.write(QByteArray(unsentBytes, 'R'));
    QTest::qWait(0);

    QSignalSpy problems(&bench.port, &SerialPort::problemChanged);
    bench.line.closeMaster(); // what unplugging a USB adapter does to its tty: a hang-up
    QTRY_VERIFY(!bench.port.isOpen());
    const QString expected =
        bench.portText() + QStringLiteral(": device removed; retrying every 3 s");
    QCOMPARE(bench.port.problem(), expected);
    QCOMPARE(problems.count(), 1);
    QCOMPARE(problems.at(0).at(0).toString(), expected);

    // The program runs on without spinning on the dead descriptor.
    const auto before = processCpuTime();
    QTest::qWait(1000);
    const auto used = processCpuTime() - before;
    qInfo("CPU time in the second after the device went away: %lld ms",
          static_cast<long long>(used.count()));
    QVERIFY2(used < std::chrono::milliseconds(100), "the event loop spins after the removal");
    QCOMPARE(problems.count(), 1);

    bench.port.write("R"); // dropped, no harm
    QVERIFY(!bench.port.isOpen());
}

void TestSerialPort::deviceRemoved_reopenedWhenItReturns()
{
    Bench bench;
    QVERIFY(bench.isValid());
    bench.port.setReopenInterval(std::chrono::milliseconds(100));
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
    QSignalSpy problems(&bench.port, &SerialPort::problemChanged);
    QSignalSpy reopened(&bench.port, &SerialPort::reopened);

    bench.line.unplug();
    QTRY_VERIFY(!bench.port.isOpen());
    const QString waiting =
        bench.portText() + QStringLiteral(": device removed; retrying every 0.1 s");
    QCOMPARE(bench.port.problem(), waiting);
    QVERIFY(bench.port.isReopening());

    // About ten attempts a second, each one cheap, and the text stays as it is.
    const auto before = processCpuTime();
    QTest::qWait(1000);
    QVERIFY2(processCpuTime() - before < std::chrono::milliseconds(100), "retrying spins");
    QCOMPARE(problems.count(), 1);
    QCOMPARE(reopened.count(), 0);

    // Plugged in again: the link names the same port, now on another device node.
    BoardLine returned;
    QVERIFY(returned.isValid());
    const QString com7 = bench.folder.filePath(QStringLiteral("com7"));
    QVERIFY(QFile::remove(com7));
    QVERIFY(QFile::link(returned.deviceName(), com7));
    QTRY_VERIFY(bench.port.isOpen());
    QCOMPARE(reopened.count(), 1);
    QCOMPARE(bench.port.problem(), QString());
    QVERIFY(!bench.port.isReopening());

    QVERIFY(returned.send("Q"));
    QTRY_COMPARE(bench.fromBoard, QByteArray("Q"));
    bench.port.write("R");
    QTRY_COMPARE(returned.received(), QByteArray("R"));
}

void TestSerialPort::onlyAVanishedDevice_isRetried_data()
{
    QTest::addColumn<bool>("openedFirst");
    QTest::newRow("missing at the open: one attempt only") << false;
    QTest::newRow("vanished, then the owner closed the port") << true;
}

void TestSerialPort::onlyAVanishedDevice_isRetried()
{
    QFETCH(bool, openedFirst);
    Bench bench;
    QVERIFY(bench.folder.isValid() && bench.line.isValid());
    bench.port.setReopenInterval(std::chrono::milliseconds(50));
    if (openedFirst) {
        QVERIFY(bench.linkLine(QStringLiteral("com7")));
        QVERIFY(bench.open());
        bench.line.unplug();
        QTRY_VERIFY(bench.port.isReopening());
        bench.port.close();
    } else {
        QVERIFY(!bench.open()); // no com7 yet: no such device
    }
    QVERIFY(!bench.port.isReopening());

    BoardLine returned;
    const QString com7 = bench.folder.filePath(QStringLiteral("com7"));
    QFile::remove(com7);
    QVERIFY(QFile::link(returned.deviceName(), com7));
    QTest::qWait(300);
    QVERIFY(!bench.port.isOpen());
}

void TestSerialPort::silentBoard_saidSoUntilBytesArrive()
{
    Bench bench;
    QVERIFY(bench.isValid());
    bench.port.setSilenceLimit(std::chrono::milliseconds(300));
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
    const QString silent = bench.portText() + QStringLiteral(": no data from the board for %1 s");

    // A board that polls keeps the text away.
    for (int i = 0; i < 6; ++i) {
        QVERIFY(bench.line.send("Q"));
        QTest::qWait(100);
        QCOMPARE(bench.port.problem(), QString());
    }
    QTRY_COMPARE(bench.port.problem(), silent.arg(QStringLiteral("0.3")));
    QTRY_COMPARE(bench.port.problem(), silent.arg(QStringLiteral("0.6")));
    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.port.problem(), QString());
    QTRY_COMPARE(bench.port.problem(), silent.arg(QStringLiteral("0.3")));

    bench.line.unplug(); // the removal replaces the silence
    QTRY_VERIFY(
        bench.port.problem().endsWith(QStringLiteral("device removed; retrying every 3 s")));
}

void TestSerialPort::awaitedBytes_readInFewChunks_data()
{
    QTest::addColumn<bool>("announced"); // the receiver says how many bytes are coming
    QTest::addColumn<int>("microsPerByte");
    QTest::addColumn<int>("written"); // of the block's 41 bytes
    QTest::addColumn<int>("maxChunks");
    // A block at 9600 baud: a byte a millisecond. Told what is coming, the port wakes for
    // the first byte and once for the rest; untold, it may wake for every byte.
    QTest::newRow("rest of a block announced") << true << 1042 << 41 << 3;
    QTest::newRow("announced, the block at once") << true << 0 << 41 << 2;
    QTest::newRow("announced, the block stops short: read all the same")
        << true << 1042 << 20 << 20;
    QTest::newRow("nothing announced: every byte read as it comes") << false << 1042 << 41 << 41;
}

void TestSerialPort::awaitedBytes_readInFewChunks()
{
    QFETCH(bool, announced);
    QFETCH(int, microsPerByte);
    QFETCH(int, written);
    QFETCH(int, maxChunks);
    Bench bench;
    QVERIFY(bench.isValid());
    int chunks = 0;
    bench.port.setReceiver([&](QByteArrayView bytes) {
        ++chunks;
        bench.fromBoard += bytes.toByteArray();
    });
    constexpr int BlockBytes = 41;
    if (announced) {
        bench.port.setAwaitedBytes([&] {
            const int got = int(bench.fromBoard.size());
            return got == 0 || got >= BlockBytes ? 0 : BlockBytes - got;
        });
    }
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
    const QByteArray block = pseudoRandomBytes(BlockBytes).left(written);
    // Written by a thread of its own at the line's pace (1.04 ms a character, against a
    // clock, so that a delay is made up rather than stretching the block), while this
    // thread's event loop reads.
    std::thread board([fd = bench.line.boardFd(), &block, microsPerByte] {
        auto due = std::chrono::steady_clock::now();
        for (const char c : block) {
            std::this_thread::sleep_until(due);
            [[maybe_unused]] const ssize_t n = ::write(fd, &c, 1);
            due += std::chrono::microseconds(microsPerByte);
        }
    });
    QTRY_COMPARE(bench.fromBoard, block);
    board.join();
    QVERIFY2(chunks <= maxChunks, qPrintable(QString::number(chunks)));
    if (written < BlockBytes)
        return;

    // Past the block, a single byte (the next poll) is read at once again: well before the
    // 90 ms a wait for a block's worth of bytes would take.
    QElapsedTimer sent;
    qint64 readAfter = -1;
    bench.port.setReceiver([&](QByteArrayView bytes) {
        readAfter = sent.elapsed();
        bench.fromBoard += bytes.toByteArray();
    });
    sent.start();
    QVERIFY(bench.line.send("Q"));
    QTRY_COMPARE(bench.fromBoard.size(), written + 1);
    QVERIFY2(readAfter < 40, qPrintable(QString::number(readAfter)));
}

void TestSerialPort::retriedOpenSucceeds_problemCleared_data()
{
    // How the port comes to work: the missing device appears at a retry, or the operator
    // names the right port instead.
    QTest::addColumn<bool>("byNewPort");
    QTest::newRow("device appears") << false;
    QTest::newRow("right port chosen") << true;
}

void TestSerialPort::retriedOpenSucceeds_problemCleared()
{
    QFETCH(bool, byNewPort);
    Bench bench;
    QVERIFY(bench.folder.isValid() && bench.line.isValid());
    bench.port.setReopenInterval(std::chrono::milliseconds(50));
    QSignalSpy problems(&bench.port, &SerialPort::problemChanged);
    const qint16 wrongPort = byNewPort ? 8 : TestPort;
    QVERIFY(!bench.port.openOrWait({wrongPort, 9600, false, false, {}}, bench.folder.path()));
    QVERIFY(bench.port.problem().endsWith(QStringLiteral("; retrying every 0.05 s")));

    QVERIFY(bench.linkLine(QStringLiteral("com7")));
    if (byNewPort)
        QVERIFY(bench.port.openOrWait({TestPort, 9600, false, false, {}}, bench.folder.path()));
    QTRY_VERIFY(bench.port.isOpen());
    QCOMPARE(bench.port.problem(), QString());
    QCOMPARE(problems.constLast().constFirst().toString(), QString());
    QVERIFY(!bench.port.isReopening());
}

void TestSerialPort::lineTakesNothing_writesDroppedAndCountedNotQueued()
{
    Bench bench;
    QVERIFY(bench.isValid());
    QVERIFY2(bench.open(), qPrintable(bench.port.problem()));
    QSignalSpy blocked(&bench.port, &SerialPort::outputBlocked);
    QSignalSpy resumed(&bench.port, &SerialPort::outputResumed);

    // The board's side reads nothing: the pseudo-terminal fills, then the queue.
    const QByteArray answer(64, 'R');
    constexpr int Writes = 5000; // 320 KB, far beyond both
    for (int i = 0; i < Writes; ++i) {
        bench.port.write(answer);
        if (i % 100 == 0)
            QTest::qWait(1);
    }
    QCOMPARE(blocked.count(), 1);
    const quint64 dropped = bench.port.droppedWrites();
    QVERIFY(dropped > 0);

    // Reading again drains the queue; what arrived is whole answers, in order.
    QByteArray arrived;
    QTRY_VERIFY((arrived = bench.line.received(), resumed.count() == 1));
    QCOMPARE(resumed.constFirst().constFirst().value<quint64>(), dropped);
    arrived = bench.line.received();
    QCOMPARE(quint64(arrived.size() / answer.size()), Writes - dropped);
    QCOMPARE(arrived.size() % answer.size(), 0);
    QVERIFY(arrived.size() <= 64 * 1024 + SerialPort::MaxQueuedBytes);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
