// Saves that cannot complete: the old file must survive byte for byte, no temporary file
// may be left behind, and the failure must be reported with a reason.

#include "store/parameter_file.h"
#include "store/settings_file.h"
#include "store/test_files.h"
#include "support/unprivileged.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace kelvaro;
using namespace kelvaro::test;
using namespace Qt::StringLiterals;

namespace {

enum class Which
{
    Settings,
    Parameters
};

QString fileNameOf(Which which)
{
    return which == Which::Settings ? SettingsFileName : ParametersFileName;
}

// Saves a first (`old`) or a different second version of the file.
FileResult save(Which which, const QString& folder, bool old)
{
    if (which == Which::Settings) {
        Settings_Record record;
        record.Comm_Port = old ? 1 : 2;
        record.Acrobat_Path = old ? u"/usr/bin/okular"_s : u"/usr/bin/evince"_s;
        return SaveSettings(record, folder);
    }
    RegisterWords words{};
    words.fill(old ? 1 : 65535);
    return SaveParameters(words, folder);
}

} // namespace

Q_DECLARE_METATYPE(Which)

class TestStoreFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data();
    void saveIntoReadOnlyFolder_keepsOldFile();
    void saveOnFullDisk_keepsOldFile();
    void saveIntoMissingFolder_reportsFailure();
};

void TestStoreFaults::initTestCase_data()
{
    QTest::addColumn<Which>("which");
    QTest::newRow("settings") << Which::Settings;
    QTest::newRow("parameters") << Which::Parameters;
}

void TestStoreFaults::saveIntoReadOnlyFolder_keepsOldFile()
{
    QFETCH_GLOBAL(Which, which);
    KELVARO_RUN_UNPRIVILEGED(); // root writes into read-only folders anyway
    QTemporaryDir dir;
    QVERIFY(save(which, dir.path(), true));
    const QString path = dir.filePath(fileNameOf(which));
    const QByteArray before = readBytes(path);
    const QStringList entries = folderEntries(dir.path());

    const auto writable = QFile::permissions(dir.path());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(dir.path(), writable); });
    const FileResult result = save(which, dir.path(), false);

    QVERIFY(!result);
    QVERIFY2(result.reason().contains(fileNameOf(which)), qPrintable(result.reason()));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(folderEntries(dir.path()), entries);
}

// A file-size limit makes every write beyond a few bytes fail, as a full disk does, and
// it holds for root too.
void TestStoreFaults::saveOnFullDisk_keepsOldFile()
{
    QFETCH_GLOBAL(Which, which);
    QTemporaryDir dir;
    QVERIFY(save(which, dir.path(), true));
    const QString path = dir.filePath(fileNameOf(which));
    const QByteArray before = readBytes(path);
    const QStringList entries = folderEntries(dir.path());

    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = previous;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const FileResult result = save(which, dir.path(), false);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!result);
    QVERIFY2(result.reason().contains(fileNameOf(which)), qPrintable(result.reason()));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(folderEntries(dir.path()), entries);
}

void TestStoreFaults::saveIntoMissingFolder_reportsFailure()
{
    QFETCH_GLOBAL(Which, which);
    QTemporaryDir dir;
    const QString missing = dir.filePath(u"absent"_s);
    const FileResult result = save(which, missing, false);
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(u"absent"_s), qPrintable(result.reason()));
    QVERIFY(!QFile::exists(missing));
}

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_store_faults.moc"
