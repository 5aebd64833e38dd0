#include "core/kelv_main.h"
#include "store/settings_file.h"
#include "windows/frm_cal_timers.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kelvaro::Settings_Record)

using namespace kelvaro;

namespace {

Settings_Record timerSettings(double calValue, double setSeconds, double actualSeconds)
{
    Settings_Record s;
    s.Timer_CalValue = LooseValue::number(calValue);
    s.Timer_SetTimeOn = LooseValue::number(setSeconds);
    s.Timer_ActTimeOn = actualSeconds;
    return s;
}

// An open window with its own state, folder and collected messages.
struct Opened
{
    Kelv_Main state;
    QTemporaryDir dir;
    QStringList messages;
    SettingsKeeper keeper{state.settings, dir.path()};
    QPointer<Frm_Cal_Timers> window;

    explicit Opened(const Settings_Record& settings = {})
    {
        state.settings = settings;
        reopen();
    }
    ~Opened() { delete window; }

    void reopen()
    {
        window = new Frm_Cal_Timers(keeper);
        window->setMessageHandler([this](const QString& text) { messages << text; });
        window->show();
    }
    QString text(const char* name) const { return box(name)->text(); }
    QLineEdit* box(const char* name) const
    {
        return window->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    // Types into the set, measured and value boxes; an empty text leaves a box alone.
    void type(const QString& set, const QString& actual, const QString& value = {}) const
    {
        for (const auto& [name, typed] :
             {std::pair{"Txt_TimeOn", set}, {"Txt_ActTimeOn", actual}, {"Txt_CalTimers", value}}) {
            if (typed.isNull())
                continue;
            box(name)->clear();
            QTest::keyClicks(box(name), typed);
        }
    }
    void click(const char* name) const
    {
        QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(name)),
                          Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // a closed window
    }
    bool fileWritten() const { return QFile::exists(dir.filePath(SettingsFileName)); }
};

// A caption fits when the label's own layout needs no more room than its fixed box.
bool captionFits(const QLabel* label)
{
    if (label->wordWrap())
        return label->heightForWidth(label->width()) <= label->height();
    const QSize needed = label->sizeHint();
    return needed.width() <= label->width() && needed.height() <= label->height();
}

void row(const char* name, const char* set, const char* actual, const char* value)
{
    QTest::newRow(name) << QString::fromLatin1(set) << QString::fromLatin1(actual)
                        << QString::fromLatin1(value);
}

void addTimeColumns()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("value");
}

} // namespace

class TestFrmCalTimers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void load_showsStoredValues_data();
    void load_showsStoredValues();
    void calibrate_changesValueBoxOnly_data();
    void calibrate_changesValueBoxOnly();
    void calibrate_refused_keepsValue_data();
    void calibrate_refused_keepsValue();
    void cancelAfterCalibrate_changesNothing();
    void ok_storesSavesAndReopensWithValues_data();
    void ok_storesSavesAndReopensWithValues();
    void ok_refused_storesNothing_data();
    void ok_refused_storesNothing();
    void captions_fitTheirBoxes();
};

void TestFrmCalTimers::load_showsStoredValues_data()
{
    QTest::addColumn<Settings_Record>("settings");
    addTimeColumns();
    QTest::newRow("nothing stored: nominal clock") << Settings_Record{} << "0:00"
                                                   << "0:00"
                                                   << "10000";
    QTest::newRow("measured 62.5 s to even 62") << timerSettings(9677, 60, 62.5) << "1:00"
                                                << "1:02"
                                                << "9677";
    QTest::newRow("an hour and more") << timerSettings(10000, 3600, 7325) << "60:00"
                                      << "122:05"
                                      << "10000";
}

void TestFrmCalTimers::load_showsStoredValues()
{
    QFETCH(Settings_Record, settings);
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(QString, value);
    const Opened w(settings);
    QCOMPARE(w.text("Txt_TimeOn"), set);
    QCOMPARE(w.text("Txt_ActTimeOn"), actual);
    QCOMPARE(w.text("Txt_CalTimers"), value);
}

void TestFrmCalTimers::calibrate_changesValueBoxOnly_data()
{
    addTimeColumns();
    row("1:00 measured 1:02", "1:00", "1:02", "9677");
    row("1:00 measured 0:58", "1:00", "0:58", "10345");
    row("2:00 measured 2:00", "2:00", "2:00", "10000");
    row("equal times", "0:37", "0:37", "10000");
    row("312.5 to even 312", "0:01", "0:32", "312");
    row("937.5 to even 938", "0:03", "0:32", "938");
}

void TestFrmCalTimers::calibrate_changesValueBoxOnly()
{
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(QString, value);
    const Settings_Record stored = timerSettings(9000, 30, 31);
    const Opened w(stored);
    w.type(set, actual);
    w.click("Calibrate");
    QVERIFY(w.messages.isEmpty());
    QCOMPARE(w.text("Txt_CalTimers"), value);
    QCOMPARE(w.state.settings, stored);
}

void TestFrmCalTimers::calibrate_refused_keepsValue_data()
{
    addTimeColumns();
    row("letters", "abc", "1:00", "9677");
    row("measured 0:00", "1:00", "0:00", "9677");
    row("beyond 32767", "1:00", "0:18", "9677");
}

void TestFrmCalTimers::calibrate_refused_keepsValue()
{
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(QString, value);
    const Opened w(timerSettings(9677, 60, 62));
    w.type(set, actual);
    w.click("Calibrate");
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.text("Txt_CalTimers"), value);
}

void TestFrmCalTimers::cancelAfterCalibrate_changesNothing()
{
    const Settings_Record stored = timerSettings(9677, 60, 62);
    Opened w(stored);
    w.type(QStringLiteral("1:00"), QStringLiteral("1:00"));
    w.click("Calibrate");
    QCOMPARE(w.text("Txt_CalTimers"), QStringLiteral("10000"));
    w.click("Command2");
    QVERIFY(w.window.isNull());
    QCOMPARE(w.state.settings, stored);
    QVERIFY(!w.fileWritten());
}

void TestFrmCalTimers::ok_storesSavesAndReopensWithValues_data()
{
    addTimeColumns(); // value: typed after Calibrate; empty keeps the calculated one
    QTest::addColumn<Settings_Record>("stored");
    QTest::addColumn<QStringList>("shown"); // set, measured, value after reopening
    QTest::newRow("calibrated") << "1:00"
                                << "1:02"
                                << "" << timerSettings(9677, 60, 62)
                                << QStringList{u"1:00"_s, u"1:02"_s, u"9677"_s};
    QTest::newRow("minutes alone")
        << "5"
        << "5:3"
        << "" << timerSettings(9901, 300, 303) << QStringList{u"5:00"_s, u"5:03"_s, u"9901"_s};
    QTest::newRow("typed fraction to even")
        << "1:00"
        << "1:00"
        << "9676.5" << timerSettings(9676, 60, 60) << QStringList{u"1:00"_s, u"1:00"_s, u"9676"_s};
}

void TestFrmCalTimers::ok_storesSavesAndReopensWithValues()
{
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(QString, value);
    QFETCH(Settings_Record, stored);
    QFETCH(QStringList, shown);
    Opened w;
    w.type(set, actual);
    w.click("Calibrate");
    w.type({}, {}, value.isEmpty() ? QString() : value);
    w.click("Command1");
    QVERIFY(w.messages.isEmpty());
    QVERIFY(w.window.isNull());
    QCOMPARE(w.state.settings, stored);
    Settings_Record read;
    LoadSettings(read, w.dir.path());
    QCOMPARE(read.Timer_CalValue, stored.Timer_CalValue);
    QCOMPARE(read.Timer_SetTimeOn, stored.Timer_SetTimeOn);
    QCOMPARE(read.Timer_ActTimeOn, stored.Timer_ActTimeOn);

    w.reopen();
    QCOMPARE((QStringList{w.text("Txt_TimeOn"), w.text("Txt_ActTimeOn"), w.text("Txt_CalTimers")}),
             shown);
}

void TestFrmCalTimers::ok_refused_storesNothing_data()
{
    addTimeColumns();
    row("value 0", "1:00", "1:00", "0");
    row("value letters", "1:00", "1:00", "abc");
    row("value beyond 16 bits", "1:00", "1:00", "32768");
    row("set time unreadable", "1:xx", "1:00", "10000");
}

void TestFrmCalTimers::ok_refused_storesNothing()
{
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(QString, value);
    const Settings_Record stored = timerSettings(9677, 60, 62);
    Opened w(stored);
    w.type(set, actual, value);
    w.click("Command1");
    QCOMPARE(w.messages.size(), 1);
    QVERIFY(!w.window.isNull());
    QCOMPARE(w.state.settings, stored);
    QVERIFY(!w.fileWritten());
}

void TestFrmCalTimers::captions_fitTheirBoxes()
{
    const Opened w;
    QCOMPARE(w.window->size(), QSize(369, 239));
    for (const QLabel* label : w.window->findChildren<QLabel*>())
        QVERIFY2(captionFits(label), qPrintable(label->text()));
}

QTEST_MAIN(TestFrmCalTimers)
#include "tst_frm_cal_timers.moc"
