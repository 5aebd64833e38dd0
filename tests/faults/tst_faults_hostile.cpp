// Hostile input from the settings and the working folder: reader paths and manual names
// built to fool a shell or a reader's option parser, a log file name that is a link
// leading out of the folder, and settings or parameter files that are huge, endless on
// one line or all NUL bytes.

#include "link/board_session.h"
#include "logging/log_recorder.h"
#include "store/parameter_file.h"
#include "store/settings_file.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace kelvaro;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Makes the file `size` bytes long without writing them: the rest is a hole of NULs.
bool extendSparse(const QString& path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(size);
}

Settings_Record sampleSettings()
{
    Settings_Record r;
    r.Comm_Port = 3;
    r.Comm_Baud = 9600;
    r.Acrobat_Path = QStringLiteral("/usr/bin/okular");
    r.Use_Fahrenheit = true;
    return r;
}

RegisterWords sampleWords()
{
    RegisterWords words{};
    for (int k = 0; k < RegisterCount; ++k)
        words[k] = 1000 + k;
    return words;
}

enum class BadFile
{
    Holes,             // 1 GB of NULs, no line end
    WholeThenHoles,    // a good file, then 1 GB of NULs
    OneLongLine,       // 1 MB of good-looking items without a line end
    NulInsideTheLines, // NUL bytes in the middle of lines
};

} // namespace

Q_DECLARE_METATYPE(BadFile)

class TestFaultsHostile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void manual_reachesTheReaderAsItsOneArgument_data();
    void manual_reachesTheReaderAsItsOneArgument();
    void helpEntry_opensItsOwnManual_data();
    void helpEntry_opensItsOwnManual();
    void readerWithOptions_splitWithoutAShell_data();
    void readerWithOptions_splitWithoutAShell();
    void logTick_linkInTheFolderLeadingOutside_writesNothingThere_data();
    void logTick_linkInTheFolderLeadingOutside_writesNothingThere();
    void badStoreFile_readQuicklyWithTheFallBack_data();
    void badStoreFile_readQuicklyWithTheFallBack();
};

void TestFaultsHostile::manual_reachesTheReaderAsItsOneArgument_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("manual"); // "%canary": a file no shell must ever create
    QTest::addColumn<QStringList>("arguments");

    const QString same = QStringLiteral("%same");
    QTest::newRow("blanks") << "mnuOperation"
                            << "the operation manual.pdf" << QStringList{same};
    QTest::newRow("double quotes") << "mnuDrawings"
                                   << "\"drawings\" \"\".pdf" << QStringList{same};
    QTest::newRow("single quote") << "mnuSource"
                                  << "it's.pdf" << QStringList{same};
    QTest::newRow("semicolon") << "mnuModes"
                               << "m.pdf; touch %canary" << QStringList{same};
    QTest::newRow("command substitution") << "mnuOperation"
                                          << "$(touch %canary).pdf" << QStringList{same};
    QTest::newRow("backquotes") << "mnuDrawings"
                                << "`touch %canary`.pdf" << QStringList{same};
    QTest::newRow("ampersand") << "mnuSource"
                               << "a.pdf & touch %canary &" << QStringList{same};
    QTest::newRow("pipe and redirection") << "mnuModes"
                                          << "a.pdf | tee %canary > %canary" << QStringList{same};
    QTest::newRow("leading dash: still a file in the working folder")
        << "mnuOperation"
        << "-rf manual.pdf" << QStringList{u"./-rf manual.pdf"_s};
    QTest::newRow("leading double dash") << "mnuModes"
                                         << "--help" << QStringList{u"./--help"_s};
    QTest::newRow("absolute path") << "mnuSource"
                                   << "/srv/manuals/-x.pdf" << QStringList{same};
    QTest::newRow("empty: the reader alone") << "mnuDrawings"
                                             << "" << QStringList{};
}

void TestFaultsHostile::manual_reachesTheReaderAsItsOneArgument()
{
    QFETCH(QString, menu);
    QFETCH(QString, manual);
    QFETCH(QStringList, arguments);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString canary = dir.filePath(QStringLiteral("canary"));
    manual.replace(QStringLiteral("%canary"), canary);
    arguments.replaceInStrings(QStringLiteral("%same"), manual);
    // The reader copied to a path that a shell would split, expand or run as commands.
    const QString readerFolder =
        dir.filePath(QStringLiteral("-Adobe \"Reader\"; $(touch %1) & x").arg(canary));
    QVERIFY(QDir().mkpath(readerFolder));
    const QString reader = readerFolder + QStringLiteral("/acro read 'x' \"y\".exe");
    QVERIFY(QFile::copy(QStringLiteral(ARGV_RECORDER), reader));
    const QString record = dir.filePath(QStringLiteral("argv"));
    qputenv("KELVARO_ARGV_RECORD", QFile::encodeName(record));

    Kelv_Main state;
    BoardSession session(state, dir.path());
    Frm_Main window(session);
    window.startUp();
    state.settings.Acrobat_Path = reader;
    state.settings.Manual_Files.fill(manual);
    window.findChild<QAction*>(menu)->trigger();

    QTRY_VERIFY(QFile::exists(record));
    const QList<QByteArray> recorded = readFile(record).split('\0');
    QStringList received;
    for (const QByteArray& argument : recorded.mid(1, recorded.size() - 2))
        received.append(QFile::decodeName(argument));
    QCOMPARE(QFile::decodeName(recorded.value(0)), QDir(dir.path()).canonicalPath());
    QCOMPARE(received, arguments);
    QVERIFY(!window.findChild<QMessageBox*>());
    QTest::qWait(50); // time for anything a shell might have started
    QVERIFY(!QFile::exists(canary));
}

namespace {

// Triggers `menu` with the recording reader at `readerPath` and returns the arguments it
// received; `readerPath` may hold "%reader", the recorder's path.
QStringList argumentsFor(const QString& menu, const QString& readerPath,
                         const std::array<QString, ManualCount>& manuals)
{
    QTemporaryDir dir;
    const QString reader = dir.filePath(QStringLiteral("my reader"));
    if (!QFile::copy(QStringLiteral(ARGV_RECORDER), reader))
        return {QStringLiteral("cannot copy the recorder")};
    const QString record = dir.filePath(QStringLiteral("argv"));
    qputenv("KELVARO_ARGV_RECORD", QFile::encodeName(record));
    Kelv_Main state;
    BoardSession session(state, dir.path());
    Frm_Main window(session);
    window.startUp();
    state.settings.Acrobat_Path = QString(readerPath).replace(QStringLiteral("%reader"), reader);
    state.settings.Manual_Files = manuals;
    window.findChild<QAction*>(menu)->trigger();
    if (auto* box = window.findChild<QMessageBox*>())
        return {box->text()};
    if (!QTest::qWaitFor([&] { return QFile::exists(record); }, 5000))
        return {QStringLiteral("the reader was not started")};
    const QList<QByteArray> recorded = readFile(record).split('\0');
    QStringList received;
    for (const QByteArray& argument : recorded.mid(1, recorded.size() - 2))
        received.append(QFile::decodeName(argument));
    return received;
}

const std::array<QString, ManualCount> DistinctManuals{
    QStringLiteral("operation.pdf"), QStringLiteral("drawings.pdf"), QStringLiteral("source.pdf"),
    QStringLiteral("modes.pdf")};

} // namespace

void TestFaultsHostile::helpEntry_opensItsOwnManual_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("manual");
    QTest::newRow("Operation") << "mnuOperation"
                               << "operation.pdf";
    QTest::newRow("Modes") << "mnuModes"
                           << "modes.pdf";
    QTest::newRow("Drawings") << "mnuDrawings"
                              << "drawings.pdf";
    QTest::newRow("Source") << "mnuSource"
                            << "source.pdf";
}

void TestFaultsHostile::helpEntry_opensItsOwnManual()
{
    QFETCH(QString, menu);
    QFETCH(QString, manual);
    QCOMPARE(argumentsFor(menu, QStringLiteral("%reader"), DistinctManuals), QStringList{manual});
}

void TestFaultsHostile::readerWithOptions_splitWithoutAShell_data()
{
    QTest::addColumn<QString>("readerPath");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("an existing file with blanks is the program")
        << "%reader" << QStringList{u"operation.pdf"_s};
    QTest::newRow("quoted program and an option")
        << "\"%reader\" --unique" << QStringList{u"--unique"_s, u"operation.pdf"_s};
    QTest::newRow("options with quotes and no shell")
        << "\"%reader\" -p \"a b\" ;echo"
        << QStringList{u"-p"_s, u"a b"_s, u";echo"_s, u"operation.pdf"_s};
}

void TestFaultsHostile::readerWithOptions_splitWithoutAShell()
{
    QFETCH(QString, readerPath);
    QFETCH(QStringList, arguments);
    QCOMPARE(argumentsFor(QStringLiteral("mnuOperation"), readerPath, DistinctManuals), arguments);
}

void TestFaultsHostile::logTick_linkInTheFolderLeadingOutside_writesNothingThere_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file outside") << true;
    QTest::newRow("dangling link to outside") << false;
}

void TestFaultsHostile::logTick_linkInTheFolderLeadingOutside_writesNothingThere()
{
    QFETCH(bool, targetExists);
    QTemporaryDir root;
    const QString work = root.filePath(QStringLiteral("work"));
    const QString outside = root.filePath(QStringLiteral("outside.txt"));
    QVERIFY(QDir().mkdir(work));
    if (targetExists)
        QVERIFY(writeFile(outside, "kept\r\n"));
    QVERIFY(QFile::link(outside, work + QStringLiteral("/07-12-2026.txt")));

    Kelv_Main state;
    Init_Field_Names(state.Field_Names);
    Init_Event_Names(state.Event_Names);
    state.settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    state.settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Counter_2sec (l08)"));
    state.settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    state.registers.Reg_Words[0] = 7;
    const LogPass pass =
        LogTick(state, work, [] { return QDateTime(QDate(2026, 12, 7), QTime(17, 5, 3)); });

    QVERIFY(!pass.wrote);
    QVERIFY2(!pass.result && pass.result.reason().contains(QStringLiteral("07-12-2026.txt")),
             qPrintable(pass.result.reason()));
    QCOMPARE(QFile::exists(outside), targetExists);
    if (targetExists)
        QCOMPARE(readFile(outside), QByteArray("kept\r\n"));
}

void TestFaultsHostile::badStoreFile_readQuicklyWithTheFallBack_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<BadFile>("bad");
    QTest::addColumn<bool>("loads"); // false: the record or the image is left as it was
    for (const QString& file : {SettingsFileName, ParametersFileName}) {
        const auto row = [&](const char* name) {
            return &(QTest::addRow("%s: %s", qPrintable(file), name) << file);
        };
        *row("1 GB of holes") << BadFile::Holes << false;
        *row("whole file, then 1 GB of holes") << BadFile::WholeThenHoles << true;
        *row("1 MB without a line end") << BadFile::OneLongLine << false;
        *row("NUL bytes inside the lines") << BadFile::NulInsideTheLines << false;
    }
}

void TestFaultsHostile::badStoreFile_readQuicklyWithTheFallBack()
{
    QFETCH(QString, file);
    QFETCH(BadFile, bad);
    QFETCH(bool, loads);
    const bool settings = file == SettingsFileName;
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    const QByteArray good =
        settings ? settingsFileBytes(sampleSettings()).value() : parametersFileBytes(sampleWords());
    switch (bad) {
    case BadFile::Holes:
        QVERIFY(extendSparse(path, qint64(1) << 30));
        break;
    case BadFile::WholeThenHoles:
        QVERIFY(writeFile(path, good) && extendSparse(path, qint64(1) << 30));
        break;
    case BadFile::OneLongLine:
        QVERIFY(writeFile(
            path,
            QByteArray(good).replace("\r\n", ",").repeated(int((1 << 20) / good.size()) + 1)));
        break;
    case BadFile::NulInsideTheLines:
        QVERIFY(writeFile(path, QByteArray(good).replace("\r\n", QByteArray("\0\r\n", 3))));
        break;
    }

    Settings_Record record;
    RegisterWords words{};
    words.fill(42);
    QElapsedTimer timer;
    timer.start();
    const bool loaded =
        settings ? LoadSettings(record, dir.path()) : bool(LoadParameters(words, dir.path()));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 100, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCOMPARE(loaded, loads);
    if (settings) {
        QCOMPARE(record, loads ? sampleSettings() : Settings_Record{});
    } else {
        RegisterWords untouched{};
        untouched.fill(42);
        QCOMPARE(words, loads ? sampleWords() : untouched);
    }
}

QTEST_MAIN(TestFaultsHostile)
#include "tst_faults_hostile.moc"
