// The session's one write queue on a pseudo-terminal: frames from several writers go out in
// order, one per poll, and each is confirmed by a later block that shows its value, or not
// confirmed when its time-out passes first.

#include "link/board_link.h"
#include "link/write_queue.h"
#include "support/board_line.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using kelvaro::test::BoardLine;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kelvaro::WriteState)

namespace {

struct Bench
{
    QTemporaryDir dir;
    BoardLine line;
    RegisterImage image;
    LinkFlags flags;
    BoardLink link{flags, image};
    WriteQueue queue{link, image};
    QSignalSpy changes{&queue, &WriteQueue::writeChanged};

    bool open()
    {
        return line.isValid() && link.open({1, 9600, false, false, line.deviceName()}, dir.path());
    }

    // What the program sent after the board's bytes `bytes`, once `count` bytes came.
    QByteArray exchange(const QByteArray& bytes, qsizetype count)
    {
        const qsizetype before = line.received().size();
        line.send(bytes);
        [[maybe_unused]] const bool came =
            QTest::qWaitFor([&] { return line.received().size() >= before + count; }, 5000);
        return line.received().mid(before);
    }

    // A poll answered with "R" and a block whose word `word` holds `value`.
    bool block(int word, qint32 value)
    {
        if (exchange("Q", 1) != "R")
            return false;
        QByteArray data(41, '\0');
        data[0] = 'B';
        data[1 + 2 * word] = char(value & 0xFF);
        data[2 + 2 * word] = char(value >> 8);
        const int blocks = blockCount;
        line.send(data);
        return QTest::qWaitFor([&] { return blockCount > blocks; }, 5000);
    }

    // The writes' states in the order they were told.
    QList<QPair<quint64, WriteState>> told() const
    {
        QList<QPair<quint64, WriteState>> states;
        for (const QList<QVariant>& change : changes)
            states.append({change[0].toULongLong(), change[1].value<WriteState>()});
        return states;
    }

    int blockCount = 0;
    Bench()
    {
        QObject::connect(&link, &BoardLink::blockReceived, [this] { ++blockCount; });
    }
};

QByteArray frameBytes(const Frame& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), 4);
}

} // namespace

class TestWriteQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<WriteState>(); }
    void twoWriters_framesInOrderOnePerPoll();
    void confirmation_data();
    void confirmation();
    void fullQueue_refusesAndQueuesNothing();
    void timedOut_neverSentAfterwards_data();
    void timedOut_neverSentAfterwards();
};

void TestWriteQueue::twoWriters_framesInOrderOnePerPoll()
{
    Bench b;
    QVERIFY(b.open());
    const auto first = b.queue.enqueue(parameterFrame(11, 2150), 11, 2150);
    const auto second = b.queue.enqueue(ResetFrame, -1, 0);
    QVERIFY(first && second);
    QCOMPARE(b.queue.waiting(), std::size_t(2));

    QCOMPARE(b.exchange("Q", 1), QByteArray("W"));
    QCOMPARE(b.exchange("S", 4), frameBytes(parameterFrame(11, 2150)));
    // The second frame waits for the next poll, and goes out then.
    QCOMPARE(b.exchange("Q", 1), QByteArray("W"));
    QCOMPARE(b.exchange("S", 4), QByteArray("\x08\x08\x01\x00", 4));
    QCOMPARE(b.exchange("Q", 1), QByteArray("R")); // nothing left: a read
    QCOMPARE(b.told(), (QList<QPair<quint64, WriteState>>{{*first, WriteState::Sent},
                                                          {*second, WriteState::Sent}}));
}

void TestWriteQueue::confirmation_data()
{
    QTest::addColumn<int>("blockValue");
    QTest::addColumn<WriteState>("outcome");
    QTest::newRow("a block shows the value") << 2150 << WriteState::Confirmed;
    QTest::newRow("the board kept its old value") << 2000 << WriteState::NotConfirmed;
}

void TestWriteQueue::confirmation()
{
    QFETCH(int, blockValue);
    QFETCH(WriteState, outcome);
    Bench b;
    QVERIFY(b.open());
    const auto id = b.queue.enqueue(parameterFrame(11, 2150), 11, 2150, std::chrono::seconds(1));
    QVERIFY(id);
    QCOMPARE(b.exchange("Q", 1), QByteArray("W"));
    QCOMPARE(b.exchange("S", 4).size(), 4);
    QVERIFY(b.block(11, blockValue));
    QTRY_COMPARE_WITH_TIMEOUT(b.told().size(), 2, 3000);
    QCOMPARE(b.told().constLast(), (QPair<quint64, WriteState>{*id, outcome}));
    QCOMPARE(b.queue.unconfirmed(), std::size_t(0));
}

void TestWriteQueue::fullQueue_refusesAndQueuesNothing()
{
    Bench b; // no line: nothing is ever sent
    for (std::size_t k = 0; k <= WriteQueue::Capacity; ++k)
        QVERIFY(b.queue.enqueue(parameterFrame(12, int(k)), 12, int(k)));
    QVERIFY(!b.queue.enqueue(parameterFrame(12, 99), 12, 99));
    QCOMPARE(b.queue.waiting(), WriteQueue::Capacity + 1);
}

void TestWriteQueue::timedOut_neverSentAfterwards_data()
{
    QTest::addColumn<bool>("pollFirst"); // the board answered "W" before the time-out
    QTest::newRow("silent board: both taken back") << false;
    QTest::newRow("board waiting for the frame: sent late, the other taken back") << true;
}

// A write whose writer was told it timed out never reaches the board afterwards; the one
// frame the board was already waiting for goes, and is reported as sent late.
void TestWriteQueue::timedOut_neverSentAfterwards()
{
    QFETCH(bool, pollFirst);
    Bench b;
    QVERIFY(b.open());
    const auto loaded = b.queue.enqueue(parameterFrame(11, 2150), 11, 2150, 1000ms);
    const auto behind = b.queue.enqueue(parameterFrame(12, 100), 12, 100, 1000ms);
    QVERIFY(loaded && behind);
    if (pollFirst)
        QCOMPARE(b.exchange("Q", 1), QByteArray("W"));
    QTest::qWait(1600);
    using Told = QList<QPair<quint64, WriteState>>;
    if (pollFirst) {
        QCOMPARE(b.told(), (Told{{*behind, WriteState::NotConfirmed}}));
        QCOMPARE(b.exchange("S", 4), frameBytes(parameterFrame(11, 2150)));
        QTRY_COMPARE(b.told().size(), 2);
        QCOMPARE(b.told().constLast(), (QPair<quint64, WriteState>{*loaded, WriteState::SentLate}));
    } else {
        QCOMPARE(b.told(),
                 (Told{{*behind, WriteState::NotConfirmed}, {*loaded, WriteState::NotConfirmed}}));
    }
    // The board polls again: a read, nothing more of either write.
    QCOMPARE(b.exchange("Q", 1), QByteArray("R"));
    QCOMPARE(b.queue.waiting(), std::size_t(0));
    QCOMPARE(b.queue.unconfirmed(), std::size_t(0));
}

QTEST_GUILESS_MAIN(TestWriteQueue)
#include "tst_write_queue.moc"
