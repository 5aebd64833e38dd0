#include "link/link_protocol.h"
#include "support/recording_handler.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvaro;

namespace {

using testing::RecordingHandler;

struct Link
{
    RegisterImage image;
    LinkFlags flags;
    RecordingHandler handler;
    LinkProtocol protocol{flags, image, handler};

    void feed(const QByteArray& bytes) { protocol.receive(bytes); }
    QByteArray takeSent() { return std::exchange(handler.sent, {}); }
};

QByteArray block(quint8 first = 0)
{
    QByteArray data(40, '\0');
    for (int i = 0; i < 40; ++i)
        data[i] = char(first + i);
    return 'B' + data;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

enum class State
{
    Idle,
    WriteAnnounced,
    WaitingForBlock,
    Receiving,
    Invalid
};

State stateOf(const LinkFlags& f)
{
    if (!f.Read_Active && f.Rx_Count == 0)
        return State::Idle;
    if (!f.Read_Active && f.Rx_Count == 1 && f.Write_Pending)
        return State::WriteAnnounced;
    if (f.Read_Active && f.Rx_Count == 0)
        return State::WaitingForBlock;
    if (f.Read_Active && f.Rx_Count >= 1 && f.Rx_Count <= 40)
        return State::Receiving;
    return State::Invalid;
}

// Bytes that reach the link together, at `at` milliseconds.
struct Chunk
{
    qint64 at = 0;
    QByteArray bytes;
};
using Chunks = QList<Chunk>;

} // namespace

Q_DECLARE_METATYPE(Chunks)

class TestLinkProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readExchange_fillsImageAndBoxesOnce();
    void writeExchange_sendsFrameThenRefreshesBoxes();
    void parameterFrame_data();
    void parameterFrame();
    void wrParam_refusesWhatTheFrameCannotCarry_data();
    void wrParam_refusesWhatTheFrameCannotCarry();
    void resetFrame_isSentUnchanged();
    void secondFrameReplacesTheFirst();
    void characterRules_data();
    void characterRules();
    void dataByteQ_insideBlockIsData();
    void promptAsFirstDataByte_sendsFrameAndWaitsForBlockStart();
    void pollWhileWriteAnnounced_answersWriteAgain();
    void afterWrite_boxesRefreshedOnceEvenIfTypedMeanwhile();
    void anyByteStream_keepsTheFourStates();
    void stallTimeout_data();
    void stallTimeout();
    void dropStalledBlock_onlyDropsABlock();
    void resumeAfterReconnect_startsAfreshKeepingTheQueuedFrame();
};

void TestLinkProtocol::readExchange_fillsImageAndBoxesOnce()
{
    Link link;
    link.feed("Q");
    QCOMPARE(link.takeSent(), QByteArray("R"));
    QCOMPARE(link.handler.status, StatusRead);
    QCOMPARE(stateOf(link.flags), State::WaitingForBlock);

    link.feed(block(1));
    QCOMPARE(link.handler.blocksReceived, 1);
    QCOMPARE(link.handler.updateInputsCalls, 1);
    QVERIFY(link.flags.Inputs_Loaded);
    QCOMPARE(stateOf(link.flags), State::Idle);
    QCOMPARE(link.image.Reg_Words[0], 2 * 256 + 1);
    QCOMPARE(link.image.Reg_Words[19], 40 * 256 + 39);

    link.feed("Q" + block(5));
    QCOMPARE(link.takeSent(), QByteArray("R"));
    QCOMPARE(link.handler.blocksReceived, 2);
    QCOMPARE(link.handler.updateInputsCalls, 1); // boxes keep what the operator types
    QCOMPARE(link.image.Reg_Words[0], 6 * 256 + 5);
}

void TestLinkProtocol::writeExchange_sendsFrameThenRefreshesBoxes()
{
    Link link;
    link.feed("Q" + block());
    link.takeSent();
    QVERIFY(link.protocol.WrParam(11, 2345));
    QVERIFY(link.flags.Write_Pending);

    link.feed("Q");
    QCOMPARE(link.takeSent(), QByteArray("W"));
    QCOMPARE(link.handler.status, StatusWrite);
    QVERIFY(!link.flags.Inputs_Loaded);
    QCOMPARE(stateOf(link.flags), State::WriteAnnounced);

    link.feed("S");
    QCOMPARE(link.takeSent(), bytes({0x16, 0x01, 0x29, 0x09}));
    QCOMPARE(link.handler.status, StatusWrite); // the prompt does not change the text
    QVERIFY(!link.flags.Write_Pending);
    QCOMPARE(stateOf(link.flags), State::Idle);

    link.feed("Q");
    QCOMPARE(link.takeSent(), QByteArray("R"));
    link.feed(block());
    QCOMPARE(link.handler.updateInputsCalls, 2);
    QVERIFY(link.flags.Inputs_Loaded);
}

void TestLinkProtocol::parameterFrame_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("word 17 = 1234") << 17 << 1234 << bytes({0x22, 0x07, 0xD2, 0x04});
    QTest::newRow("word 10 = 25650") << 10 << 25650 << bytes({0x14, 0x00, 0x32, 0x64});
    QTest::newRow("word 19 = 2") << 19 << 2 << bytes({0x26, 0x09, 0x02, 0x00});
    QTest::newRow("word 11 = 2345") << 11 << 2345 << bytes({0x16, 0x01, 0x29, 0x09});
    QTest::newRow("-6.00 as 64936") << 14 << 64936 << bytes({0x1C, 0x04, 0xA8, 0xFD});
    QTest::newRow("word 65535") << 12 << 65535 << bytes({0x18, 0x02, 0xFF, 0xFF});
    QTest::newRow("board word 4 carries 0") << 4 << 1 << bytes({0x08, 0x00, 0x01, 0x00});
}

void TestLinkProtocol::parameterFrame()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QByteArray, frame);
    Link link;
    QVERIFY(link.protocol.WrParam(qint16(address), value));
    link.feed("QS");
    QCOMPARE(link.takeSent(), "W" + frame);
}

void TestLinkProtocol::wrParam_refusesWhatTheFrameCannotCarry_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::newRow("negative value") << 11 << -600;
    QTest::newRow("above 16 bits") << 11 << 65536;
    QTest::newRow("address 20") << 20 << 1;
    QTest::newRow("negative address") << -1 << 1;
}

void TestLinkProtocol::wrParam_refusesWhatTheFrameCannotCarry()
{
    QFETCH(int, address);
    QFETCH(int, value);
    Link link;
    QVERIFY(!link.protocol.WrParam(qint16(address), value));
    QVERIFY(!link.flags.Write_Pending);
    link.feed("Q");
    QCOMPARE(link.takeSent(), QByteArray("R"));
}

void TestLinkProtocol::resetFrame_isSentUnchanged()
{
    Link link;
    link.protocol.queueReset();
    link.feed("QS");
    QCOMPARE(link.takeSent(), "W" + bytes({0x08, 0x08, 0x01, 0x00}));
}

void TestLinkProtocol::secondFrameReplacesTheFirst()
{
    Link link;
    QVERIFY(link.protocol.WrParam(17, 1234));
    QVERIFY(link.protocol.WrParam(19, 2));
    link.feed("QS");
    QCOMPARE(link.takeSent(), "W" + bytes({0x26, 0x09, 0x02, 0x00}));
    link.feed("Q");
    QCOMPARE(link.takeSent(), QByteArray("R")); // the first frame is gone
}

void TestLinkProtocol::characterRules_data()
{
    QTest::addColumn<bool>("framePending");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("updates");
    QTest::newRow("lower case q is no poll") << false << QByteArray("q") << QByteArray() << 0;
    QTest::newRow("lower case s is no prompt") << true << QByteArray("Qs") << QByteArray("W") << 0;
    QTest::newRow("lower case b is no block start")
        << false << QByteArray("Qb") + QByteArray(40, 'x') << QByteArray("R") << 0;
    QTest::newRow("S without W is dropped") << true << QByteArray("S") << QByteArray() << 0;
    QTest::newRow("S with nothing waiting") << false << QByteArray("SS") << QByteArray() << 0;
    QTest::newRow("B without R is dropped") << false << block() << QByteArray() << 0;
    QTest::newRow("non-B after R drops the read, next Q answered")
        << false << "QxQ" + block() << QByteArray("RR") << 1;
    QTest::newRow("a poll right after R drops the read")
        << false << "QQQ" + block() << QByteArray("RR") << 1;
}

void TestLinkProtocol::characterRules()
{
    QFETCH(bool, framePending);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, sent);
    QFETCH(int, updates);
    Link link;
    if (framePending)
        link.protocol.WrParam(12, 30);
    link.feed(input);
    QCOMPARE(link.takeSent(), sent);
    QCOMPARE(link.handler.blocksReceived, updates);
}

void TestLinkProtocol::dataByteQ_insideBlockIsData()
{
    Link link;
    QByteArray data(40, 'Q');
    data[5] = 'B';
    data[7] = 'S';
    link.feed("QB" + data);
    QCOMPARE(link.takeSent(), QByteArray("R"));
    QCOMPARE(link.handler.blocksReceived, 1);
    QCOMPARE(link.image.Reg_Words[0], 0x5151);
    QCOMPARE(link.image.Reg_Words[2], 0x4251);
    QCOMPARE(link.image.Reg_Words[3], 0x5351);
}

void TestLinkProtocol::promptAsFirstDataByte_sendsFrameAndWaitsForBlockStart()
{
    Link link;
    link.feed("QB");
    link.takeSent();
    link.protocol.WrParam(18, 2);
    link.feed("S");
    QCOMPARE(link.takeSent(), bytes({0x24, 0x08, 0x02, 0x00}));
    QCOMPARE(stateOf(link.flags), State::WaitingForBlock);
    link.feed(block(3));
    QCOMPARE(link.handler.blocksReceived, 1);
    QCOMPARE(link.image.Reg_Words[0], 4 * 256 + 3);
    // Any later S inside a block is data, even while a frame waits.
    link.feed("QBx");
    QCOMPARE(link.takeSent(), QByteArray("R"));
    link.protocol.WrParam(18, 3);
    link.feed("S");
    QCOMPARE(link.takeSent(), QByteArray());
    QCOMPARE(link.flags.Rx_Count, quint8(3));
}

void TestLinkProtocol::pollWhileWriteAnnounced_answersWriteAgain()
{
    Link link;
    link.protocol.WrParam(15, 30);
    link.feed("QQQ");
    QCOMPARE(link.takeSent(), QByteArray("WWW"));
    link.feed("S");
    QCOMPARE(link.takeSent(), bytes({0x1E, 0x05, 30, 0}));
}

void TestLinkProtocol::afterWrite_boxesRefreshedOnceEvenIfTypedMeanwhile()
{
    Link link;
    link.feed("Q" + block());
    link.protocol.WrParam(17, 2345);
    link.feed("QS");
    link.protocol.WrParam(11, 5000); // a second commit before the next complete read
    link.feed("QS"
              "Q" +
              block() + "Q" + block());
    QCOMPARE(link.handler.updateInputsCalls, 2);
    QCOMPARE(link.takeSent(), "R" + QByteArray("W") + bytes({0x22, 0x07, 0x29, 0x09}) + "W" +
                                  bytes({0x16, 0x01, 0x88, 0x13}) + "RR");
}

void TestLinkProtocol::anyByteStream_keepsTheFourStates()
{
    Link link;
    QRandomGenerator random(20261208);
    const char alphabet[] = {'Q', 'R', 'W', 'S', 'B', 'q', 's', '\0', '\xFF', 'x'};
    for (int i = 0; i < 200000; ++i) {
        const quint32 roll = random.bounded(100);
        if (roll == 0)
            link.protocol.WrParam(qint16(10 + random.bounded(10)), int(random.bounded(65536)));
        else if (roll == 1)
            link.protocol.queueReset();
        const bool structured = random.bounded(2) == 0;
        const quint8 c = structured ? quint8(alphabet[random.bounded(int(sizeof alphabet))])
                                    : quint8(random.bounded(256));
        const int sentBefore = int(link.handler.sent.size());
        const bool poll = c == 'Q' && !link.flags.Read_Active;
        link.protocol.receiveByte(c);
        const State state = stateOf(link.flags);
        if (state == State::Invalid || link.flags.Rx_Count > 40)
            QFAIL(qPrintable(QStringLiteral("invalid state after byte %1 (%2)").arg(i).arg(c)));
        if (poll && link.handler.sent.size() != sentBefore + 1)
            QFAIL("a poll was not answered with exactly one byte");
        if (link.handler.sent.size() > 1 << 20)
            link.handler.sent.clear();
    }
    QVERIFY(link.handler.blocksReceived > 0);
}

void TestLinkProtocol::stallTimeout_data()
{
    QTest::addColumn<int>("timeout"); // seconds
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("updates");
    QTest::addColumn<int>("word0"); // Reg_Words[0] at the end

    const QByteArray half = "QB" + QByteArray(20, '\x11');
    const QByteArray rest = QByteArray(20, '\x22');
    const QByteArray fresh = block(0x30); // word 0 = 0x3130
    QTest::newRow("0: a stalled block takes the next poll as data")
        << 0 << Chunks{{0, half}, {60000, "Q" + QByteArray(19, '\x22')}} << QByteArray("R") << 1
        << 0x1111;
    QTest::newRow("-1 counts as 0")
        << -1 << Chunks{{0, half}, {60000, "Q" + QByteArray(19, '\x22')}} << QByteArray("R") << 1
        << 0x1111;
    QTest::newRow("1: a block stalled longer is dropped, the poll after it answered")
        << 1 << Chunks{{0, half}, {1001, "Q"}, {1002, fresh}} << QByteArray("RR") << 1 << 0x3130;
    QTest::newRow("1: a pause of exactly the time-out keeps the block")
        << 1 << Chunks{{0, half}, {1000, rest}} << QByteArray("R") << 1 << 0x1111;
    QTest::newRow("1: a dropped block leaves the image as it was")
        << 1 << Chunks{{0, half}, {5000, rest}} << QByteArray("R") << 0 << 0;
    QTest::newRow("1: the pause counts from the previous byte, not the block start")
        << 1 << Chunks{{0, half}, {900, rest.left(10)}, {1800, rest.mid(10)}} << QByteArray("R")
        << 1 << 0x1111;
    QTest::newRow("0: a poll long after R drops the read unanswered")
        << 0 << Chunks{{0, "Q"}, {1500, "Q"}, {1600, "Q" + fresh}} << QByteArray("RR") << 1
        << 0x3130;
    QTest::newRow("1: a poll long after R is answered afresh")
        << 1 << Chunks{{0, "Q"}, {1500, "Q" + fresh}} << QByteArray("RR") << 1 << 0x3130;
    QTest::newRow("1: long pauses between exchanges do not matter")
        << 1 << Chunks{{0, "Q" + fresh}, {100000, "Q"}} << QByteArray("RR") << 1 << 0x3130;
}

void TestLinkProtocol::stallTimeout()
{
    QFETCH(int, timeout);
    QFETCH(Chunks, chunks);
    QFETCH(QByteArray, sent);
    QFETCH(int, updates);
    QFETCH(int, word0);
    Link link;
    link.protocol.setStallTimeout(std::chrono::seconds(timeout));
    for (const Chunk& chunk : chunks)
        link.protocol.receive(chunk.bytes, LinkTime(chunk.at));
    QCOMPARE(link.takeSent(), sent);
    QCOMPARE(link.handler.blocksReceived, updates);
    QCOMPARE(link.image.Reg_Words[0], word0);
    QVERIFY(stateOf(link.flags) != State::Invalid);
}

void TestLinkProtocol::dropStalledBlock_onlyDropsABlock()
{
    Link link;
    link.feed("Q" + block(1)); // Inputs_Loaded
    link.feed("QB" + QByteArray(7, 'x'));
    link.protocol.WrParam(12, 30);
    const auto before = link.image.Reg_Words;
    link.protocol.dropStalledBlock();
    QCOMPARE(stateOf(link.flags), State::Idle);
    QCOMPARE(link.image.Reg_Words, before);
    QVERIFY(link.flags.Inputs_Loaded);
    QVERIFY(link.flags.Write_Pending);

    link.feed("Q"); // write announced: not a block, nothing to drop
    link.protocol.dropStalledBlock();
    QCOMPARE(stateOf(link.flags), State::WriteAnnounced);
    link.feed("S");
    QCOMPARE(link.takeSent(), "RRW" + bytes({0x18, 0x02, 30, 0}));
}

void TestLinkProtocol::resumeAfterReconnect_startsAfreshKeepingTheQueuedFrame()
{
    // Half a block before the line was lost must not swallow the new board's bytes.
    Link link;
    link.feed("Q" + block(1) + "QB" + QByteArray(25, 'x'));
    link.protocol.resumeAfterReconnect();
    QCOMPARE(stateOf(link.flags), State::Idle);
    link.feed("Q" + block(0x40));
    QCOMPARE(link.takeSent(), QByteArray("RRR"));
    QCOMPARE(link.image.Reg_Words[0], 0x4140);
    QCOMPARE(link.handler.updateInputsCalls, 2); // the boxes show the board as it is now

    // A frame whose "W" the board never answered goes out at the next poll after all.
    link.protocol.WrParam(19, 2);
    link.feed("Q");
    link.protocol.resumeAfterReconnect();
    link.feed("SQS");
    QCOMPARE(link.takeSent(), "WW" + bytes({0x26, 0x09, 0x02, 0x00}));
}

QTEST_GUILESS_MAIN(TestLinkProtocol)
#include "tst_link_protocol.moc"
