#include "metrics/metrics_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace kelvaro;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets the process's umask for one scope.
class UmaskScope
{
public:
    explicit UmaskScope(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskScope() { ::umask(m_old); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t m_old;
};

} // namespace

class TestMetricsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void write_replacesTheFileWhole_readableByEveryone_data();
    void write_replacesTheFileWhole_readableByEveryone();
    void concurrentReader_alwaysSeesAWholeExposition();
    void unwritableFolder_reportsTheFile();
};

void TestMetricsFile::write_replacesTheFileWhole_readableByEveryone_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("existingMode");
    QTest::addColumn<int>("processUmask");

    // The service runs with umask 0027; the exporter reads the file as another user.
    QTest::newRow("new file under the service's umask 0027") << false << 0 << 0027;
    QTest::newRow("new file under umask 0077") << false << 0 << 0077;
    QTest::newRow("old file 0600 replaced") << true << 0600 << 0027;
    QTest::newRow("old file 0666 replaced") << true << 0666 << 0022;
    QTest::newRow("longer old file leaves no tail") << true << 0644 << 0027;
}

void TestMetricsFile::write_replacesTheFileWhole_readableByEveryone()
{
    QFETCH(bool, existing);
    QFETCH(int, existingMode);
    QFETCH(int, processUmask);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kelvaro-ttyUSB0.prom"));
    if (existing) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'x'));
        old.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(existingMode)) ==
                0);
    }
    const QByteArray text = "# HELP kelvaro_line_open x\n# TYPE kelvaro_line_open gauge\n"
                            "kelvaro_line_open{folder=\"/b\"} 1\n";
    {
        const UmaskScope mask(static_cast<mode_t>(processUmask));
        const FileResult result = writeMetricsFile(path, text);
        QVERIFY2(result, qPrintable(result.reason()));
    }
    QCOMPARE(readAll(path), text);
    QCOMPARE(modeOf(path), mode_t(0644));
    // Nothing else is left in the folder, least of all a temporary file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("kelvaro-ttyUSB0.prom")});
}

void TestMetricsFile::concurrentReader_alwaysSeesAWholeExposition()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("board.prom"));
    // Two texts of different lengths: a file written in place would show a mix of the
    // two, a cut one or an empty one to a reader at the wrong moment.
    const QByteArray first = QByteArray("kelvaro_a{folder=\"/b\"} 1\n").repeated(2000);
    const QByteArray second = QByteArray("kelvaro_b{folder=\"/b\"} 22\n").repeated(3000);
    QVERIFY(writeMetricsFile(path, first));

    std::atomic<bool> stop = false;
    std::atomic<int> reads = 0;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!stop) {
            const QByteArray seen = readAll(path);
            if (seen != first && seen != second)
                ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 300; ++i) {
        if (!writeMetricsFile(path, i % 2 ? first : second)) {
            stop = true;
            reader.join();
            QFAIL("a write failed");
        }
    }
    stop = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(torn.load(), 0);
}

void TestMetricsFile::unwritableFolder_reportsTheFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A folder that is a plain file cannot take the temporary file, even for root.
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    QFile plain(notAFolder);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const FileResult result =
        writeMetricsFile(notAFolder + QStringLiteral("/board.prom"), "kelvaro_a{folder=\"\"} 1\n");
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(QStringLiteral("board.prom")), qPrintable(result.reason()));
}

QTEST_GUILESS_MAIN(TestMetricsFile)
#include "tst_metrics_file.moc"
