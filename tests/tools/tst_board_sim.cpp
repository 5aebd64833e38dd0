#include "board_exchange.h"
#include "link/link_protocol.h"
#include "sim_command.h"
#include "thermostat_model.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace kelvaro;
using namespace kelvaro::boardsim;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

class RecordingOutput : public BoardOutput
{
public:
    void sendToProgram(QByteArrayView out) override { sent += out.toByteArray(); }
    QByteArray sent;
};

struct Board
{
    ThermostatModel model;
    RecordingOutput output;
    BoardExchange exchange{model, output};

    void feed(const QByteArray& program)
    {
        for (const char c : program)
            exchange.receiveByte(quint8(c));
    }
    QByteArray takeSent() { return std::exchange(output.sent, {}); }
};

// The program's real side of the exchange wired to the simulated board. Bytes travel
// through queues, so neither side is re-entered while it is still handling a byte.
class ProgramSide : public LinkHandler
{
public:
    void writeToBoard(QByteArrayView out) override { sent += out.toByteArray(); }
    QByteArray sent;
};

struct Wire
{
    Board board;
    RegisterImage image;
    LinkFlags flags;
    ProgramSide programSide;
    LinkProtocol program{flags, image, programSide};

    void exchange()
    {
        QVERIFY(board.exchange.poll());
        while (!board.output.sent.isEmpty() || !programSide.sent.isEmpty()) {
            program.receive(board.takeSent());
            board.feed(std::exchange(programSide.sent, {}));
        }
        QCOMPARE(board.exchange.state(), BoardExchange::State::Idle);
    }
};

// A stage fed by setting words on the model: the other stage is disabled, no delay,
// measurements every tick.
void isolateLowerStage(ThermostatModel& model)
{
    model.setWord(reg::LowFalling, 5000);
    model.setWord(reg::LowRising, 5000);
    model.setWord(reg::Delay, 0);
    model.setWord(reg::PeriodHysteresis, 1);
}

// --- POSIX helpers for the run of the real executable ---

bool readExactly(int fd, QByteArray& into, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (into.size() < count) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = ::read(
            fd, buffer, std::min<std::size_t>(sizeof buffer, std::size_t(count - into.size())));
        if (n > 0)
            into.append(buffer, qsizetype(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
    }
    return true;
}

QByteArray readLineFrom(QProcess& process, const QByteArray& startingWith, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray pending;
    while (clock.elapsed() < timeoutMs) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(startingWith))
                return line;
        }
        if (process.state() == QProcess::NotRunning && !process.canReadLine())
            break;
        process.waitForReadyRead(50);
    }
    return {};
}

} // namespace

class TestBoardSim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void thermistorPulse_invertsTheCalibrationCurve_data();
    void thermistorPulse_invertsTheCalibrationCurve();
    void temperatureWords_twosComplementHundredths_data();
    void temperatureWords_twosComplementHundredths();
    void frameDecoding_data();
    void frameDecoding();
    void exchange_answersTheProgramsBytes_data();
    void exchange_answersTheProgramsBytes();
    void faults_affectOneExchangeThenRecover_data();
    void faults_affectOneExchangeThenRecover();
    void programLink_writesReachTheBoardAndReadsMatchIt_data();
    void programLink_writesReachTheBoardAndReadsMatchIt();
    void lowerStage_switchesOnBelowAndOffAboveHysteresis_data();
    void lowerStage_switchesOnBelowAndOffAboveHysteresis();
    void stageTimes_delayOnOffAndStatus_data();
    void stageTimes_delayOnOffAndStatus();
    void counter_ticksEveryTwoSimulatedSeconds_data();
    void counter_ticksEveryTwoSimulatedSeconds();
    void restart_clearsCountersAndRelayKeepsTemperaturesAndParameters();
    void commands_parse_data();
    void commands_parse();
    void executable_servesAReadOnAPtyAndExitsCleanly_data();
    void executable_servesAReadOnAPtyAndExitsCleanly();
};

void TestBoardSim::thermistorPulse_invertsTheCalibrationCurve_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("pulse");
    // The entries of the program's thermistor table at the design values.
    QTest::newRow("25 C, R = R25") << 25.0 << 15533;
    QTest::newRow("-6 C, table start") << -6.0 << 61903;
    QTest::newRow("-2 C") << -2.0 << 49832;
    QTest::newRow("42 C") << 42.0 << 9753;
    QTest::newRow("46 C, table end") << 46.0 << 8982;
    QTest::newRow("far below the table holds at 65535") << -40.0 << 65535;
}

void TestBoardSim::thermistorPulse_invertsTheCalibrationCurve()
{
    QFETCH(double, celsius);
    QFETCH(int, pulse);
    QCOMPARE(int(pulseWord(celsius)), pulse);
    // The model measures at start, so word 5 carries it at once.
    QCOMPARE(int(ThermostatModel(celsius).wordAt(reg::Pulse)), pulse);
}

void TestBoardSim::temperatureWords_twosComplementHundredths_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("expected");
    QTest::newRow("19.50 C") << 19.5 << 1950;
    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("-0.01 C is 65535") << -0.01 << 65535;
    QTest::newRow("-6.00 C is 64936") << -6.0 << 64936;
    QTest::newRow("46.00 C") << 46.0 << 4600;
    QTest::newRow("half a hundredth goes to even") << 0.125 << 12;
    QTest::newRow("below -327.68 C holds at 32768") << -400.0 << 32768;
    QTest::newRow("above 327.67 C holds at 32767") << 400.0 << 32767;
}

void TestBoardSim::temperatureWords_twosComplementHundredths()
{
    QFETCH(double, celsius);
    QFETCH(int, expected);
    QCOMPARE(int(temperatureWord(celsius)), expected);
    const ThermostatModel model(celsius);
    QCOMPARE(int(model.wordAt(reg::Actual)), expected);
    QCOMPARE(int(model.wordAt(reg::Average)), expected); // one measurement so far
}

void TestBoardSim::frameDecoding_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<FrameKind>("kind");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::newRow("word 17 = 1234")
        << bytes({0x22, 0x07, 0xD2, 0x04}) << FrameKind::Parameter << 17 << 1234;
    QTest::newRow("word 10 = 25650")
        << bytes({0x14, 0x00, 0x32, 0x64}) << FrameKind::Parameter << 10 << 25650;
    QTest::newRow("word 19 = 2") << bytes({0x26, 0x09, 0x02, 0x00}) << FrameKind::Parameter << 19
                                 << 2;
    QTest::newRow("-6.00 C in word 14")
        << bytes({0x1C, 0x04, 0xA8, 0xFD}) << FrameKind::Parameter << 14 << 64936;
    QTest::newRow("reset frame") << bytes({0x08, 0x08, 0x01, 0x00}) << FrameKind::Reset << 0 << 0;
    QTest::newRow("write of word 4 is not a reset")
        << bytes({0x08, 0x00, 0x01, 0x00}) << FrameKind::Ignored << 0 << 0;
    QTest::newRow("board word 0") << bytes({0x00, 0x00, 0x01, 0x00}) << FrameKind::Ignored << 0
                                  << 0;
    QTest::newRow("board word 9") << bytes({0x12, 0x00, 0x01, 0x00}) << FrameKind::Ignored << 0
                                  << 0;
    QTest::newRow("word 20 does not exist")
        << bytes({0x28, 0x0A, 0x01, 0x00}) << FrameKind::Ignored << 0 << 0;
    QTest::newRow("odd position") << bytes({0x23, 0x07, 0x01, 0x00}) << FrameKind::Ignored << 0
                                  << 0;
    QTest::newRow("index byte disagrees")
        << bytes({0x22, 0x06, 0x01, 0x00}) << FrameKind::Ignored << 0 << 0;
}

void TestBoardSim::frameDecoding()
{
    QFETCH(QByteArray, frame);
    QFETCH(FrameKind, kind);
    QFETCH(int, word);
    QFETCH(int, value);
    Frame f{};
    std::copy(frame.begin(), frame.end(), f.begin());
    const DecodedFrame decoded = decodeFrame(f);
    QCOMPARE(decoded.kind, kind);
    if (kind == FrameKind::Parameter) {
        QCOMPARE(decoded.word, word);
        QCOMPARE(int(decoded.value), value);
    }
}

void TestBoardSim::exchange_answersTheProgramsBytes_data()
{
    QTest::addColumn<bool>("pollFirst");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("reply"); // what the board sends after its poll
    QTest::addColumn<int>("answers");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("resets");
    QTest::addColumn<int>("unexpected");
    QTest::addColumn<BoardExchange::State>("state");
    QTest::addColumn<int>("word17"); // the "Low Setpoint Raising" word afterwards

    const QByteArray block = BlockChar + ThermostatModel().block();
    const QByteArray write17 = "W" + bytes({0x22, 0x07, 0xD2, 0x04});
    using S = BoardExchange::State;
    QTest::newRow("R gets B and the block")
        << true << QByteArray("R") << block << 1 << 1 << 0 << 0 << 0 << S::Idle << 2100;
    QTest::newRow("W gets the prompt, then waits for the frame")
        << true << QByteArray("W") << QByteArray("S") << 1 << 0 << 0 << 0 << 0 << S::AwaitingFrame
        << 2100;
    QTest::newRow("frame applied")
        << true << write17 << QByteArray("S") << 1 << 0 << 1 << 0 << 0 << S::Idle << 1234;
    QTest::newRow("frame bytes equal to R or W are frame data")
        << true << "W" + bytes({0x22, 0x07, 'R', 'W'}) << QByteArray("S") << 1 << 0 << 1 << 0 << 0
        << S::Idle << ('W' << 8 | 'R');
    QTest::newRow("reset frame counted apart from writes")
        << true << "W" + bytes({0x08, 0x08, 0x01, 0x00}) << QByteArray("S") << 1 << 0 << 0 << 1 << 0
        << S::Idle << 2100;
    QTest::newRow("frame for a board word is taken but ignored")
        << true << "W" + bytes({0x02, 0x00, 0x39, 0x05}) << QByteArray("S") << 1 << 0 << 1 << 0 << 0
        << S::Idle << 2100;
    QTest::newRow("R without a poll is unexpected")
        << false << QByteArray("R") << QByteArray() << 0 << 0 << 0 << 0 << 1 << S::Idle << 2100;
    QTest::newRow("lower-case r is no answer; the poll stays open")
        << true << QByteArray("r") << QByteArray() << 0 << 0 << 0 << 0 << 1 << S::AwaitingAnswer
        << 2100;
    QTest::newRow("a stray byte before the answer is skipped")
        << true << QByteArray("\x7ER") << block << 1 << 1 << 0 << 0 << 1 << S::Idle << 2100;
    QTest::newRow("a second R after the block is unexpected")
        << true << QByteArray("RR") << block << 1 << 1 << 0 << 0 << 1 << S::Idle << 2100;
    QTest::newRow("bytes after a frame are unexpected")
        << true << write17 + "R" << QByteArray("S") << 1 << 0 << 1 << 0 << 1 << S::Idle << 1234;
}

void TestBoardSim::exchange_answersTheProgramsBytes()
{
    QFETCH(bool, pollFirst);
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, reply);
    QFETCH(int, answers);
    QFETCH(int, blocks);
    QFETCH(int, writes);
    QFETCH(int, resets);
    QFETCH(int, unexpected);
    QFETCH(BoardExchange::State, state);
    QFETCH(int, word17);

    Board board;
    if (pollFirst) {
        QVERIFY(board.exchange.poll());
        QCOMPARE(board.takeSent(), QByteArray("Q"));
        QVERIFY(!board.exchange.poll()); // one exchange at a time
    }
    board.feed(program);
    QCOMPARE(board.takeSent(), reply);
    const ExchangeStats& stats = board.exchange.stats();
    QCOMPARE(int(stats.polls), pollFirst ? 1 : 0);
    QCOMPARE(int(stats.answers), answers);
    QCOMPARE(int(stats.blocks), blocks);
    QCOMPARE(int(stats.writes), writes);
    QCOMPARE(int(stats.resets), resets);
    QCOMPARE(int(stats.unexpected), unexpected);
    QCOMPARE(board.exchange.state(), state);
    QCOMPARE(int(board.model.wordAt(reg::LowRising)), word17);
}

void TestBoardSim::faults_affectOneExchangeThenRecover_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<bool>("overdue");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("word17");

    const QByteArray block = BlockChar + ThermostatModel().block();
    const QByteArray write17 = "W" + bytes({0x22, 0x07, 0xD2, 0x04});
    QTest::newRow("stop-block: 20 data bytes, never the rest")
        << "stop-block" << QByteArray("R") << false << block.left(1 + CutBlockBytes) << 0 << 0
        << 2100;
    QTest::newRow("ignore-write: frame taken, not applied")
        << "ignore-write" << write17 << false << QByteArray("S") << 0 << 0 << 2100;
    QTest::newRow("poll not answered in time")
        << "" << QByteArray() << true << QByteArray() << 0 << 1 << 2100;
    QTest::newRow("frame stops after two bytes")
        << ""
        << "W" + bytes({0x22, 0x07}) << true << QByteArray("S") << 0 << 1 << 2100;
}

void TestBoardSim::faults_affectOneExchangeThenRecover()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, program);
    QFETCH(bool, overdue);
    QFETCH(QByteArray, reply);
    QFETCH(int, blocks);
    QFETCH(int, lost);
    QFETCH(int, word17);

    Board board;
    if (fault == u"stop-block")
        board.exchange.cutNextBlock();
    else if (fault == u"ignore-write")
        board.exchange.ignoreNextFrame();

    QVERIFY(board.exchange.poll());
    board.takeSent();
    board.feed(program);
    if (overdue)
        board.exchange.answerOverdue();
    QCOMPARE(board.takeSent(), reply);
    QCOMPARE(int(board.exchange.stats().blocks), blocks);
    QCOMPARE(int(board.exchange.stats().lost), lost);
    QCOMPARE(int(board.model.wordAt(reg::LowRising)), word17);
    QCOMPARE(board.exchange.state(), BoardExchange::State::Idle);

    // The fault is spent: a late "R" is just unexpected, and the next exchanges are whole.
    const int unexpectedBefore = int(board.exchange.stats().unexpected);
    board.feed("R");
    QCOMPARE(int(board.exchange.stats().unexpected), unexpectedBefore + 1);
    QVERIFY(board.exchange.poll());
    board.feed("W" + bytes({0x22, 0x07, 0xD2, 0x04}));
    QCOMPARE(int(board.model.wordAt(reg::LowRising)), 1234);
    QVERIFY(board.exchange.poll());
    board.takeSent();
    board.feed("R");
    QCOMPARE(board.takeSent().size(), 1 + BlockSize);
}

void TestBoardSim::programLink_writesReachTheBoardAndReadsMatchIt_data()
{
    QTest::addColumn<int>("address"); // -1: nothing queued, -2: the reset frame
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("resets");

    QTest::newRow("reads only") << -1 << 0 << 0 << 0;
    QTest::newRow("Low Setpoint Raising 12.34") << 17 << 1234 << 1 << 0;
    QTest::newRow("Lower set-point -6.00 as 64936") << 11 << 64936 << 1 << 0;
    QTest::newRow("hysteresis and measure period word") << 10 << 25650 << 1 << 0;
    QTest::newRow("operation modes, whole word") << 19 << 0x0502 << 1 << 0;
    QTest::newRow("reset") << -2 << 0 << 0 << 1;
}

void TestBoardSim::programLink_writesReachTheBoardAndReadsMatchIt()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, writes);
    QFETCH(int, resets);

    Wire wire;
    wire.board.model.step(60.0); // counters and relay under way, so a reset shows
    wire.exchange();
    if (address >= 0)
        QVERIFY(wire.program.WrParam(qint16(address), value));
    else if (address == -2)
        wire.program.queueReset();
    wire.exchange(); // the write, when one waits
    wire.exchange(); // and the read that shows its effect

    const ExchangeStats& stats = wire.board.exchange.stats();
    QCOMPARE(int(stats.writes), writes);
    QCOMPARE(int(stats.resets), resets);
    QCOMPARE(int(stats.unexpected), 0);
    if (address >= 0)
        QCOMPARE(int(wire.board.model.wordAt(address)), value);
    if (resets > 0)
        QCOMPARE(int(wire.board.model.wordAt(reg::Status)), 0);
    for (int k = 0; k < RegisterCount; ++k)
        QCOMPARE(wire.image.Reg_Words[std::size_t(k)], qint32(wire.board.model.wordAt(k)));
}

void TestBoardSim::lowerStage_switchesOnBelowAndOffAboveHysteresis_data()
{
    QTest::addColumn<double>("room");
    QTest::addColumn<int>("setpoint"); // word 11
    QTest::addColumn<int>("hysteresis");
    QTest::addColumn<bool>("switchesOn");
    QTest::addColumn<bool>("comesBack"); // the room cools below the set-point again

    QTest::newRow("set-point above the room") << 19.5 << 2000 << 50 << true << true;
    QTest::newRow("wide hysteresis") << 19.0 << 2000 << 200 << true << true;
    // Below the 5 °C outdoors the room warms by itself, so the stage does not come back.
    QTest::newRow("negative set-point -6.00") << -7.0 << 64936 << 50 << true << false;
    QTest::newRow("46.00 still works") << 45.5 << 4600 << 50 << true << true;
    QTest::newRow("set-point below the room") << 19.5 << 1800 << 50 << false << false;
    QTest::newRow("above 46.00 disables the stage") << 19.5 << 4601 << 50 << false << false;
}

void TestBoardSim::lowerStage_switchesOnBelowAndOffAboveHysteresis()
{
    QFETCH(double, room);
    QFETCH(int, setpoint);
    QFETCH(int, hysteresis);
    QFETCH(bool, switchesOn);
    QFETCH(bool, comesBack);

    ThermostatModel model(room);
    isolateLowerStage(model);
    model.setWord(reg::PeriodHysteresis, quint16(hysteresis << 8 | 1));
    model.setWord(reg::LowerSetpoint, quint16(setpoint));
    model.setWord(reg::LowerOff, 0); // continuous: only the temperature switches it off
    for (int tick = 0; tick < 3 && !model.relayOn(); ++tick)
        model.step(TickSeconds);
    QCOMPARE(model.relayOn(), switchesOn);
    if (!switchesOn) {
        for (int tick = 0; tick < 60; ++tick) {
            model.step(TickSeconds);
            QVERIFY(!model.relayOn());
        }
        QCOMPARE(highByte(model.wordAt(reg::Status)), 0);
        return;
    }
    QCOMPARE(highByte(model.wordAt(reg::Status)), 1);
    QCOMPARE(lowByte(model.wordAt(reg::StageStatus)), int(StageStatus::Continuous));

    const int start = signedValue(quint16(setpoint));
    const int stop = start + hysteresis;
    bool wasOn = true;
    int switchedOn = 0;
    int switchedOff = 0;
    for (int tick = 0; tick < 600; ++tick) {
        model.step(TickSeconds);
        const int measured = signedValue(model.wordAt(reg::Actual));
        const bool on = model.relayOn();
        QCOMPARE(highByte(model.wordAt(reg::Status)), on ? 1 : 0);
        if (on && !wasOn) {
            QVERIFY2(measured < start, qPrintable(QString::number(measured)));
            ++switchedOn;
        }
        if (!on && wasOn) {
            QVERIFY2(measured > stop, qPrintable(QString::number(measured)));
            ++switchedOff;
        }
        if (on)
            QVERIFY(measured <= stop);
        wasOn = on;
    }
    QVERIFY(switchedOff >= 1);
    QCOMPARE(switchedOn >= 1, comesBack);
}

void TestBoardSim::stageTimes_delayOnOffAndStatus_data()
{
    QTest::addColumn<bool>("lowStage"); // else the Lower stage
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("on");
    QTest::addColumn<int>("off");
    QTest::addColumn<QString>("relay");  // per tick: '#' on, '.' off
    QTest::addColumn<QString>("status"); // per tick: the stage's status byte
    QTest::addColumn<int>("timeOn");     // words 6 and 7 after the last tick
    QTest::addColumn<int>("timeOff");

    QTest::newRow("Lower: delay 2, on 3, off 2") << false << 2 << 3 << 2 << "..###..###.."
                                                 << "332222222222" << 2 << 1;
    QTest::newRow("Low: delay 2, on 3, off 2") << true << 2 << 3 << 2 << "..###..###.."
                                               << "332222222222" << 2 << 1;
    QTest::newRow("off time 0 is continuous") << false << 0 << 3 << 0 << "############"
                                              << "111111111111" << 11 << 0;
    QTest::newRow("on time 0 counts as one tick") << true << 0 << 0 << 2 << "#..#..#..#.."
                                                  << "222222222222" << 0 << 1;
    QTest::newRow("delay 1 then continuous") << true << 1 << 5 << 0 << ".###########"
                                             << "311111111111" << 10 << 1;
}

void TestBoardSim::stageTimes_delayOnOffAndStatus()
{
    QFETCH(bool, lowStage);
    QFETCH(int, delay);
    QFETCH(int, on);
    QFETCH(int, off);
    QFETCH(QString, relay);
    QFETCH(QString, status);
    QFETCH(int, timeOn);
    QFETCH(int, timeOff);

    // A cold room and a high set-point: demand lasts the whole run.
    ThermostatModel model(5.0);
    model.setWord(reg::PeriodHysteresis, 1);
    model.setWord(reg::Delay, quint16(delay));
    model.setWord(reg::LowerSetpoint, lowStage ? 5000 : 4000);
    model.setWord(reg::LowFalling, lowStage ? 4000 : 5000);
    model.setWord(reg::LowRising, lowStage ? 4100 : 5000);
    model.setWord(lowStage ? reg::LowOn : reg::LowerOn, quint16(on));
    model.setWord(lowStage ? reg::LowOff : reg::LowerOff, quint16(off));

    QString seenRelay;
    QString seenStatus;
    for (int tick = 0; tick < relay.size(); ++tick) {
        model.step(TickSeconds);
        seenRelay += model.relayOn() ? u'#' : u'.';
        const quint16 w = model.wordAt(reg::StageStatus);
        seenStatus += QString::number(lowStage ? highByte(w) : lowByte(w));
        QCOMPARE(lowStage ? lowByte(w) : highByte(w), 0); // the other stage stays idle
    }
    QCOMPARE(seenRelay, relay);
    QCOMPARE(seenStatus, status);
    QCOMPARE(int(model.wordAt(reg::TimeOn)), timeOn);
    QCOMPARE(int(model.wordAt(reg::TimeOff)), timeOff);
}

void TestBoardSim::counter_ticksEveryTwoSimulatedSeconds_data()
{
    QTest::addColumn<QList<double>>("steps");
    QTest::addColumn<int>("counter");
    QTest::newRow("1.9 s: no tick yet") << QList<double>{1.9} << 0;
    QTest::newRow("2 s: one tick") << QList<double>{2.0} << 1;
    QTest::newRow("two halves make one tick") << QList<double>{1.0, 1.0} << 1;
    QTest::newRow("twenty tenths make one tick") << QList<double>(20, 0.1) << 1;
    QTest::newRow("one long step ticks each time") << QList<double>{21.0} << 10;
    QTest::newRow("wraps at 256") << QList<double>{512.0} << 0;
    QTest::newRow("counts on after the wrap") << QList<double>{510.0, 4.0} << 1;
    QTest::newRow("a negative step does nothing") << QList<double>{-5.0, 2.0} << 1;
}

void TestBoardSim::counter_ticksEveryTwoSimulatedSeconds()
{
    QFETCH(QList<double>, steps);
    QFETCH(int, counter);
    ThermostatModel model;
    for (const double s : steps)
        model.step(s);
    QCOMPARE(lowByte(model.wordAt(reg::Status)), counter);
}

void TestBoardSim::restart_clearsCountersAndRelayKeepsTemperaturesAndParameters()
{
    ThermostatModel model; // defaults: the Low stage heats after its 0:10 delay
    model.step(30.0);
    QVERIFY(model.relayOn());
    QVERIFY(model.wordAt(reg::TimeOn) > 0);
    const RegisterWords before = model.words();
    const double room = model.roomCelsius();

    model.restart();
    QVERIFY(!model.relayOn());
    QCOMPARE(int(model.wordAt(reg::Status)), 0);
    QCOMPARE(int(model.wordAt(reg::StageStatus)), 0);
    QCOMPARE(int(model.wordAt(reg::TimeOn)), 0);
    QCOMPARE(int(model.wordAt(reg::TimeOff)), 0);
    QCOMPARE(model.roomCelsius(), room);
    for (const int kept : {int(reg::Actual), int(reg::Pulse), int(reg::Average)})
        QCOMPARE(model.wordAt(kept), before[std::size_t(kept)]);
    for (int k = FirstParameterWord; k < RegisterCount; ++k)
        QCOMPARE(model.wordAt(k), before[std::size_t(k)]);

    // The stage starts over: it waits out its delay again before the relay comes back.
    model.step(TickSeconds);
    QCOMPARE(lowByte(model.wordAt(reg::Status)), 1);
    QCOMPARE(highByte(model.wordAt(reg::StageStatus)), int(StageStatus::Delay));
    QVERIFY(!model.relayOn());
}

void TestBoardSim::commands_parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<SimCommand::Kind>("kind");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    using K = SimCommand::Kind;
    QTest::newRow("set") << "set 11 64936" << true << K::Set << 11 << 64936;
    QTest::newRow("blanks around") << "  stop-block \r" << true << K::StopBlock << 0 << 0;
    QTest::newRow("reopen") << "reopen" << true << K::Reopen << 0 << 0;
    QTest::newRow("set word 20") << "set 20 1" << false << K::Set << 0 << 0;
    QTest::newRow("set above 16 bits") << "set 3 65536" << false << K::Set << 0 << 0;
    QTest::newRow("set negative") << "set 3 -1" << false << K::Set << 0 << 0;
    QTest::newRow("set without value") << "set 3" << false << K::Set << 0 << 0;
    QTest::newRow("commands are lower case") << "Quit" << false << K::Quit << 0 << 0;
    QTest::newRow("no arguments to plain commands") << "stats now" << false << K::Stats << 0 << 0;
}

void TestBoardSim::commands_parse()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(SimCommand::Kind, kind);
    QFETCH(int, word);
    QFETCH(int, value);
    const std::optional<SimCommand> command = parseCommand(line);
    QCOMPARE(command.has_value(), valid);
    if (!valid)
        return;
    QCOMPARE(command->kind, kind);
    QCOMPARE(command->word, word);
    QCOMPARE(int(command->value), value);
}

void TestBoardSim::executable_servesAReadOnAPtyAndExitsCleanly_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("terminate"); // SIGTERM instead of "quit" on stdin
    QTest::addColumn<int>("minBlockMs");
    QTest::newRow("unpaced, quit on stdin") << 0 << false << 0;
    QTest::newRow("unpaced, SIGTERM") << 0 << true << 0;
    // 41 characters of 10 bits at 1200 baud take 342 ms.
    QTest::newRow("paced at 1200 baud") << 1200 << false << 300;
}

void TestBoardSim::executable_servesAReadOnAPtyAndExitsCleanly()
{
    QFETCH(int, baud);
    QFETCH(bool, terminate);
    QFETCH(int, minBlockMs);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess sim;
    sim.start(QStringLiteral(KELVARO_BOARD_SIM_PATH),
              {QStringLiteral("--folder"), dir.path(), QStringLiteral("--poll-ms"),
               QStringLiteral("50"), QStringLiteral("--baud"), QString::number(baud)});
    QVERIFY(sim.waitForStarted());
    const QByteArray ready = readLineFrom(sim, "kelvaro-board-sim: port 1 is ", 5000);
    QVERIFY2(!ready.isEmpty(), sim.readAllStandardError().constData());
    const QString link = dir.filePath(QStringLiteral("com1"));
    QCOMPARE(QFileInfo(link).symLinkTarget(),
             QString::fromLocal8Bit(ready.mid(ready.lastIndexOf(' ') + 1)));

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios mode{};
    QCOMPARE(::tcgetattr(fd, &mode), 0);
    ::cfmakeraw(&mode);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &mode), 0);

    QByteArray poll;
    QVERIFY(readExactly(fd, poll, 1, 3000));
    QCOMPARE(poll, QByteArray("Q"));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::write(fd, "R", 1), ssize_t(1));
    QByteArray block;
    QVERIFY(readExactly(fd, block, 1 + BlockSize, 5000));
    QVERIFY(clock.elapsed() >= minBlockMs);
    ::close(fd);

    QCOMPARE(block.at(0), BlockChar);
    RegisterImage image;
    std::copy(block.begin() + 1, block.end(), image.Rx_Bytes.begin());
    image.Update_Param();
    const RegisterWords defaults = defaultParameters();
    for (int k = FirstParameterWord; k < RegisterCount; ++k)
        QCOMPARE(image.Reg_Words[std::size_t(k)], qint32(defaults[std::size_t(k)]));
    QCOMPARE(image.Reg_Words[reg::Actual], 1950);

    if (terminate) {
        sim.terminate();
    } else {
        sim.write("set 12 77\ndump\nquit\n");
        QVERIFY(readLineFrom(sim, "words ", 5000).split(' ').value(13) == "77");
    }
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    const QByteArray stats = readLineFrom(sim, "stats ", 1000);
    QVERIFY2(stats.contains(" answers=1 blocks=1 writes=0 resets=0 "), stats.constData());
    QVERIFY2(stats.endsWith(" unexpected=0"), stats.constData());
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_board_sim.moc"
