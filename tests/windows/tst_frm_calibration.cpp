#include "calibration/thermistor.h"
#include "core/kelv_main.h"
#include "store/settings_file.h"
#include "windows/frm_calibration.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kelvaro::Settings_Record)

using namespace kelvaro;

namespace {

Settings_Record designSettings()
{
    Settings_Record s;
    s.Ntc_R0 = LooseValue::number(4540);
    s.Ntc_T0 = 4850;
    s.Ntc_B = LooseValue::number(4300);
    s.Ntc_R25 = LooseValue::number(10000);
    s.Ntc_MinTH = LooseValue::number(-6);
    s.Ntc_MaxTH = 46;
    return s;
}

// An open window with its own state, folder and collected messages.
struct Opened
{
    Kelv_Main state;
    QTemporaryDir dir;
    QStringList messages;
    std::unique_ptr<SettingsKeeper> keeper;
    QPointer<Frm_Calibration> window;

    explicit Opened(const Settings_Record& settings = designSettings(), QString folder = {})
    {
        state.settings = settings;
        keeper = std::make_unique<SettingsKeeper>(state.settings,
                                                  folder.isEmpty() ? dir.path() : folder);
        window = new Frm_Calibration(*keeper);
        window->setMessageHandler([this](const QString& text) { messages << text; });
        window->show();
        QCoreApplication::processEvents(); // a refusal at load is told once the window is up
    }
    ~Opened() { delete window; }

    QLineEdit* box(const QString& name) const { return window->findChild<QLineEdit*>(name); }
    QString table() const
    {
        return window->findChild<QPlainTextEdit*>(QStringLiteral("NTC_arr"))->toPlainText();
    }
    QLineSeries* series() const
    {
        auto* view = window->findChild<QChartView*>(QStringLiteral("MSChart1"));
        return qobject_cast<QLineSeries*>(view->chart()->series().constFirst());
    }
    void type(const QString& name, const QString& text) const
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    void click(const QString& name) const
    {
        QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // a closed window
    }
};

// A caption fits when the label's own layout needs no more room than its fixed box.
bool captionFits(const QLabel* label)
{
    if (label->wordWrap())
        return label->heightForWidth(label->width()) <= label->height();
    const QSize needed = label->sizeHint();
    return needed.width() <= label->width() && needed.height() <= label->height();
}

} // namespace

class TestFrmCalibration : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void load_showsSettingsAsPlainNumbers_data();
    void load_showsSettingsAsPlainNumbers();
    void load_noSettings_designValuesGiveBoardTable();
    void calibrate_afterChangingB_replacesTableChartAndSettings();
    void calibrate_minimumAboveZero_pointsAtOwnTemperatures();
    void calibrate_refused_keepsEverything_data();
    void calibrate_refused_keepsEverything();
    void cancel_leavesFileUntouched();
    void ok_savesAndCloses();
    void ok_saveFails_staysOpen();
    void captions_fitTheirBoxes();
};

void TestFrmCalibration::load_showsSettingsAsPlainNumbers_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<Settings_Record>("settings");
    QTest::addColumn<QStringList>("shown"); // R0, T0, B, NTC, MinTH, MaxTH
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    Settings_Record fractions = designSettings();
    fractions.Ntc_R0 = LooseValue::number(4539.8);
    fractions.Ntc_R25 = LooseValue::number(1234567);
    fractions.Ntc_MinTH = LooseValue::number(-6.5);
    fractions.Ntc_MaxTH = 45.5;

    QTest::newRow("-6 and 46 without decimals")
        << english << designSettings()
        << QStringList{u"4540"_s, u"4850"_s, u"4300"_s, u"10000"_s, u"-6"_s, u"46"_s};
    QTest::newRow("German comma, no grouping")
        << german << fractions
        << QStringList{u"4539,8"_s, u"4850"_s, u"4300"_s, u"1234567"_s, u"-6,5"_s, u"45,5"_s};
    QTest::newRow("no settings yet: design texts")
        << german << Settings_Record{}
        << QStringList{u"4540"_s, u"4850"_s, u"4300"_s, u"10000"_s, u"-6,00"_s, u"46,00"_s};
}

void TestFrmCalibration::load_showsSettingsAsPlainNumbers()
{
    QFETCH(QLocale, locale);
    QFETCH(Settings_Record, settings);
    QFETCH(QStringList, shown);
    QLocale::setDefault(locale);
    const Opened w(settings);
    const QStringList names{u"R0"_s, u"T0"_s, u"B"_s, u"NTC"_s, u"MinTH"_s, u"MaxTH"_s};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(w.box(names[i])->text(), shown[i]);
    // What is shown reads back: the load-time Calibrate accepted it.
    QVERIFY(w.messages.isEmpty());
    QCOMPARE(w.table().split(QStringLiteral(", ")).size(), 53);
}

void TestFrmCalibration::load_noSettings_designValuesGiveBoardTable()
{
    const Opened w(Settings_Record{});
    const QStringList entries = w.table().split(QStringLiteral(", "));
    QCOMPARE(entries.size(), 53);
    QCOMPARE(entries.mid(0, 5),
             (QStringList{u"61903"_s, u"58575"_s, u"55464"_s, u"52555"_s, u"49832"_s}));
    QCOMPARE(entries.mid(48), (QStringList{u"9753"_s, u"9546"_s, u"9349"_s, u"9161"_s, u"8982"_s}));
    QCOMPARE(entries[31], QStringLiteral("15533"));
    QCOMPARE(w.state.settings, designSettings());

    const QList<QPointF> points = w.series()->points();
    QCOMPARE(points.size(), 53);
    QCOMPARE(points.first().x(), -6.0);
    QCOMPARE(QString::number(points[31].y(), 'f', 4), QStringLiteral("15.5328")); // ms at 25 °C
}

void TestFrmCalibration::calibrate_afterChangingB_replacesTableChartAndSettings()
{
    const Opened w;
    const QString before = w.table();
    w.type(QStringLiteral("B"), QStringLiteral("3950"));
    w.click(QStringLiteral("Calibrate"));

    const auto expected = calibrateThermistor({4850, 4540, 3950, 10000, -6, 46}).value();
    QVERIFY(w.messages.isEmpty());
    QVERIFY(w.table() != before);
    QCOMPARE(w.table(), expected.curveText);
    QCOMPARE(w.state.settings.Ntc_B, LooseValue::number(3950));
    QCOMPARE(w.series()->points().first().y(), expected.points.front().pulseUs / 1000.0);
}

void TestFrmCalibration::calibrate_minimumAboveZero_pointsAtOwnTemperatures()
{
    const Opened w;
    w.type(QStringLiteral("MinTH"), QStringLiteral("10"));
    w.type(QStringLiteral("MaxTH"), QStringLiteral("20"));
    w.click(QStringLiteral("Calibrate"));
    const QList<QPointF> points = w.series()->points();
    QCOMPARE(points.size(), 11);
    QCOMPARE(points.first().x(), 10.0);
    QCOMPARE(points.last().x(), 20.0);
    const auto* axis = qobject_cast<QValueAxis*>(w.series()->attachedAxes().constFirst());
    QCOMPARE(axis->orientation(), Qt::Horizontal);
    QCOMPARE(axis->min(), 10.0);
    QCOMPARE(axis->max(), 20.0);
}

void TestFrmCalibration::calibrate_refused_keepsEverything_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::newRow("letters in B") << "B"
                                  << "abc";
    QTest::newRow("German comma in English") << "NTC"
                                             << "10000,5";
    QTest::newRow("R0 of 0") << "R0"
                             << "0";
    QTest::newRow("minimum above maximum") << "MinTH"
                                           << "47";
}

void TestFrmCalibration::calibrate_refused_keepsEverything()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    const Opened w;
    const QString table = w.table();
    const QList<QPointF> points = w.series()->points();
    w.type(QStringLiteral("T0"), QStringLiteral("5000")); // a good value that must not land
    w.type(box, text);
    w.click(QStringLiteral("Calibrate"));
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.table(), table);
    QCOMPARE(w.series()->points(), points);
    QCOMPARE(w.state.settings, designSettings());
}

void TestFrmCalibration::cancel_leavesFileUntouched()
{
    Opened w;
    const QByteArray original = "[Communication]\r\nold file\r\n";
    QFile file(w.dir.filePath(SettingsFileName));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(original);
    file.close();

    w.type(QStringLiteral("B"), QStringLiteral("3950"));
    w.click(QStringLiteral("Calibrate"));
    w.click(QStringLiteral("Command2"));
    QVERIFY(w.window.isNull());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), original);
    // What Calibrate took stays in memory for the next save of any window.
    QCOMPARE(w.state.settings.Ntc_B, LooseValue::number(3950));
}

void TestFrmCalibration::ok_savesAndCloses()
{
    Opened w;
    w.type(QStringLiteral("MinTH"), QStringLiteral("-6.5"));
    w.click(QStringLiteral("Calibrate"));
    w.click(QStringLiteral("Command1"));
    QVERIFY(w.window.isNull());
    Settings_Record read;
    LoadSettings(read, w.dir.path());
    QCOMPARE(read.Ntc_MinTH, LooseValue::number(-6.5));
    QCOMPARE(read.Ntc_R0, LooseValue::number(4540));
}

void TestFrmCalibration::ok_saveFails_staysOpen()
{
    QTemporaryDir dir;
    Opened w(designSettings(), dir.filePath(QStringLiteral("no/such/folder")));
    w.click(QStringLiteral("Command1"));
    QVERIFY(!w.window.isNull());
    QCOMPARE(w.messages.size(), 1);
}

void TestFrmCalibration::captions_fitTheirBoxes()
{
    const Opened w;
    QCOMPARE(w.window->size(), QSize(779, 440));
    for (const QLabel* label : w.window->findChildren<QLabel*>())
        QVERIFY2(captionFits(label), qPrintable(label->text()));
}

QTEST_MAIN(TestFrmCalibration)
#include "tst_frm_calibration.moc"
