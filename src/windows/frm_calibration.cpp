#include "windows/frm_calibration.h"

#include "calibration/thermistor.h"
#include "values/locale_numbers.h"
#include "windows/operator_message.h"
#include "windows/twips.h"
#include "windows/window_style.h"

#include <QChart>
#include <QChartView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <optional>

namespace kelvaro {

namespace {

// The values the board was designed with; shown while no calibration has been stored.
constexpr double DesignR0 = 4540;
constexpr double DesignT0 = 4850;
constexpr double DesignB = 4300;
constexpr double DesignR25 = 10000;
constexpr double DesignMinTH = -6;
constexpr double DesignMaxTH = 46;

// A plain decimal number in the operator's locale: no grouping, no fixed decimals, the
// shortest text that reads back to the same value.
QString plainText(double value)
{
    return operatorLocale().toString(value, 'f', QLocale::FloatingPointShortest);
}

QString plainText(const LooseValue& value)
{
    return value.isText() ? value.toText() : plainText(value.toNumber());
}

// A fresh start (no settings file, or one never calibrated) leaves all six at zero or unset.
bool noThermistorSettings(const Settings_Record& s)
{
    return s.Ntc_T0 == 0.0 && s.Ntc_MaxTH == 0.0 && s.Ntc_R0.equalsNumber(0) &&
           s.Ntc_MinTH.equalsNumber(0) && s.Ntc_R25.equalsNumber(0) && s.Ntc_B.equalsNumber(0);
}

// A tick step of 1, 2 or 5 times a power of ten that gives at most eight labels.
double tickStep(double range)
{
    double step = 1;
    for (int i = 0; range / step > 8; ++i)
        step *= (i % 3 == 1) ? 2.5 : 2;
    return step;
}

// A caption that wraps within its box, condensed or made smaller where it must be.
void addWrappedLabel(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height)
{
    fitWrappedLabel(addLabel(parent, name, caption, left, top, width, height));
}

// A one-line caption level with the box beside it.
void addRowLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width)
{
    QLabel* label = addLabel(parent, name, caption, left, top, width, 315);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

// One row of the third step: caption, box and an optional unit.
QLineEdit* addValueRow(QGroupBox* frame, const QString& name, const QString& caption,
                       const QString& unit, int top)
{
    addRowLabel(frame, QStringLiteral("Lbl_") + name, caption, 120, top, 3480);
    QLineEdit* box = addTextBox(frame, name, QString(), 3720, top, 1095, 315);
    if (!unit.isEmpty())
        addRowLabel(frame, QStringLiteral("Lbl_Unit") + name, unit, 4860, top, 495);
    return box;
}

} // namespace

Frm_Calibration::Frm_Calibration(SettingsKeeper& keeper, QWidget* parent)
    : QWidget(parent), m_keeper(keeper), m_messageHandler([this](const QString& text) {
          showOperatorMessage(this, windowTitle(), text);
      })
{
    setupDialogWindow(this, QStringLiteral("Calibration of the Kelvaro NTC Thermistor"), 11685,
                      6600);
    buildControls();
    // The font is fitted to the one-line captions; the two-line step texts follow in it.
    fitDialogFont(this);
    addStepTexts();
    loadSettings();
    // A refusal at load is told once the window is up, not before it appears.
    const QString refusal = calibrate();
    if (!refusal.isEmpty())
        QTimer::singleShot(0, this, [this, refusal] { showMessage(refusal); });
}

void Frm_Calibration::buildControls()
{
    QGroupBox* step1 = addFrame(this, QStringLiteral("Frame1"),
                                QStringLiteral("Step1 (Put the correct value)"), 60, 0, 5415, 735);
    m_R0 = addTextBox(step1, QStringLiteral("R0"), QStringLiteral("4540"), 3720, 240, 1095, 315);
    addRowLabel(step1, QStringLiteral("Lbl_UnitR0"), QStringLiteral(" Ohm"), 4860, 240, 495);

    QGroupBox* step2 =
        addFrame(this, QStringLiteral("Frame2"), QStringLiteral("Step2 (Put the correct value)"),
                 60, 780, 5415, 735);
    m_T0 = addTextBox(step2, QStringLiteral("T0"), QStringLiteral("4850"), 3720, 240, 1095, 315);
    addRowLabel(step2, QStringLiteral("Lbl_UnitT0"), QStringLiteral(" us"), 4860, 240, 495);

    QGroupBox* step3 =
        addFrame(this, QStringLiteral("Frame3"), QStringLiteral("Step3 (Put the correct value)"),
                 60, 1560, 5415, 1815);
    m_B = addValueRow(step3, QStringLiteral("B"), QStringLiteral("NTC Thermistor B value"),
                      QString(), 240);
    m_NTC =
        addValueRow(step3, QStringLiteral("NTC"), QStringLiteral("NTC Thermistor Resistor on 25°C"),
                    QStringLiteral(" Ohm"), 600);
    m_MinTH = addValueRow(step3, QStringLiteral("MinTH"),
                          QStringLiteral("Minimum Temperature value"), QStringLiteral(" °C"), 960);
    m_MaxTH = addValueRow(step3, QStringLiteral("MaxTH"),
                          QStringLiteral("Maximum Temperature value"), QStringLiteral(" °C"), 1320);

    QGroupBox* step4 =
        addFrame(this, QStringLiteral("Frame4"), QStringLiteral("Step4"), 60, 3420, 5415, 735);
    addLabel(step4, QStringLiteral("Label4"), QStringLiteral("Start the Calibration "), 120, 360,
             3315, 255);
    QPushButton* calibrateButton =
        addButton(step4, QStringLiteral("Calibrate"), QStringLiteral("Calibrate NTC array"), 3480,
                  240, 1815, 375);

    QGroupBox* step5 =
        addFrame(this, QStringLiteral("Frame5"),
                 QStringLiteral("Step5 (NTC_Curve_array[53] [e2prom])"), 60, 4200, 5415, 1815);
    m_NTC_arr = new QPlainTextEdit(step5);
    m_NTC_arr->setObjectName(QStringLiteral("NTC_arr"));
    m_NTC_arr->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_NTC_arr->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    placeAt(m_NTC_arr, 120, 240, 5175, 1455);

    QGroupBox* chartFrame = addFrame(this, QStringLiteral("Frame6"),
                                     QStringLiteral("NTC Thermistor Chart"), 5520, 0, 6135, 6555);
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    m_series = new QLineSeries(chart);
    chart->addSeries(m_series);
    m_axisX = new QValueAxis(chart);
    m_axisX->setTitleText(QStringLiteral("°C"));
    m_axisX->setLabelFormat(QStringLiteral("%d"));
    m_axisX->setTickType(QValueAxis::TicksDynamic);
    m_axisX->setTickAnchor(0);
    m_axisY = new QValueAxis(chart);
    m_axisY->setTitleText(QStringLiteral("ms"));
    m_axisY->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(m_axisY, Qt::AlignLeft);
    m_series->attachAxis(m_axisX);
    m_series->attachAxis(m_axisY);
    m_MSChart1 = new QChartView(chart, chartFrame);
    m_MSChart1->setObjectName(QStringLiteral("MSChart1"));
    m_MSChart1->setRenderHint(QPainter::Antialiasing);
    placeAt(m_MSChart1, 120, 180, 5895, 6255);

    QPushButton* ok =
        addButton(this, QStringLiteral("Command1"), QStringLiteral("Ok"), 1560, 6120, 975, 375);
    QPushButton* cancel =
        addButton(this, QStringLiteral("Command2"), QStringLiteral("Cancel"), 2580, 6120, 975, 375);
    addPicture(this, QStringLiteral("Image1"), IconPicture, 60, 6060, 480, 480);

    connect(calibrateButton, &QPushButton::clicked, this, &Frm_Calibration::Calibrate_Click);
    connect(ok, &QPushButton::clicked, this, &Frm_Calibration::Command1_Click);
    connect(cancel, &QPushButton::clicked, this, &Frm_Calibration::Command2_Click);
}

void Frm_Calibration::addStepTexts()
{
    auto* step1 = findChild<QGroupBox*>(QStringLiteral("Frame1"));
    auto* step2 = findChild<QGroupBox*>(QStringLiteral("Frame2"));
    addWrappedLabel(step1, QStringLiteral("Label1"),
                    QStringLiteral("Measure the value of the R0  (resistor), using an accurate "
                                   "instrument "),
                    120, 240, 3315, 435);
    addWrappedLabel(step2, QStringLiteral("Label2"),
                    QStringLiteral("Make a short circuit on the NTC Thermistor and leave the "
                                   "AT90S2313 to measure the R0"),
                    120, 240, 3315, 435);
}

void Frm_Calibration::loadSettings()
{
    const Settings_Record& s = m_keeper.settings();
    if (noThermistorSettings(s)) {
        m_R0->setText(plainText(DesignR0));
        m_T0->setText(plainText(DesignT0));
        m_B->setText(plainText(DesignB));
        m_NTC->setText(plainText(DesignR25));
        m_MinTH->setText(formatTwoDecimals(DesignMinTH, QLocale()));
        m_MaxTH->setText(formatTwoDecimals(DesignMaxTH, QLocale()));
        return;
    }
    m_T0->setText(plainText(s.Ntc_T0));
    m_R0->setText(plainText(s.Ntc_R0));
    m_MinTH->setText(plainText(s.Ntc_MinTH));
    m_MaxTH->setText(plainText(s.Ntc_MaxTH));
    m_NTC->setText(plainText(s.Ntc_R25));
    m_B->setText(plainText(s.Ntc_B));
}

QString Frm_Calibration::calibrate()
{
    struct Field
    {
        QLineEdit* box;
        const char* what;
        double* value;
    };
    ThermistorInput in;
    const Field fields[] = {
        {m_R0, "R0", &in.R0},
        {m_T0, "T0", &in.T0},
        {m_B, "The B value", &in.B},
        {m_NTC, "The resistance at 25 °C", &in.R25},
        {m_MinTH, "The minimum temperature", &in.MinTH},
        {m_MaxTH, "The maximum temperature", &in.MaxTH},
    };
    for (const Field& f : fields) {
        const std::optional<double> value = readLocaleNumber(f.box->text(), QLocale());
        if (!value)
            return QStringLiteral("%1 \"%2\" is not a number.")
                .arg(QString::fromUtf8(f.what), f.box->text());
        *f.value = *value;
    }

    const Outcome<ThermistorTable> result = calibrateThermistor(in);
    if (!result)
        return QStringLiteral("The NTC array was not calculated: %1").arg(result.reason());
    const ThermistorTable& table = result.value();

    m_keeper.applyThermistor({in.T0, in.R0, in.MinTH, in.MaxTH, in.R25, in.B});

    m_NTC_arr->setPlainText(table.curveText);

    // Each point sits at its own temperature, whatever the sign of the minimum.
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(table.points.size()));
    double low = table.points.front().pulseUs;
    double high = low;
    for (const ThermistorPoint& p : table.points) {
        points.append(QPointF(p.celsius, p.pulseUs / 1000.0));
        low = std::min(low, p.pulseUs);
        high = std::max(high, p.pulseUs);
    }
    m_series->replace(points);
    const int first = table.points.front().celsius;
    const int last = table.points.back().celsius;
    if (first == last)
        m_axisX->setRange(first - 1, last + 1);
    else
        m_axisX->setRange(first, last);
    m_axisX->setTickInterval(tickStep(m_axisX->max() - m_axisX->min()));
    if (high - low < 1.0) { // one point, or a flat curve: give the line some room
        low -= 1000.0;
        high += 1000.0;
    }
    m_axisY->setRange(low / 1000.0, high / 1000.0);
    m_axisY->applyNiceNumbers();
    return {};
}

void Frm_Calibration::Calibrate_Click()
{
    const QString refusal = calibrate();
    if (!refusal.isEmpty())
        showMessage(refusal);
}

void Frm_Calibration::Command1_Click()
{
    const SettingsOutcome outcome = m_keeper.save();
    if (!outcome) {
        showMessage(outcome.message);
        return;
    }
    close();
}

void Frm_Calibration::Command2_Click()
{
    close();
}

void Frm_Calibration::showMessage(const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(text);
}

} // namespace kelvaro
