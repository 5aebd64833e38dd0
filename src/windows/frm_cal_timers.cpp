#include "windows/frm_cal_timers.h"

#include "calibration/timer_calibration.h"
#include "core/rounding.h"
#include "values/duration.h"
#include "values/locale_numbers.h"
#include "values/parameter_values.h"
#include "windows/operator_message.h"
#include "windows/window_style.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <limits>
#include <optional>

namespace kelvaro {

namespace {

// Seconds as "m:ss" at the nominal clock; a value the conversion cannot show reads 0:00.
QString durationText(double seconds)
{
    const std::optional<qint32> whole = roundToInteger<qint32>(seconds);
    return Board_Seconds_To_Duration(whole.value_or(0), NominalCalibration)
        .value_or(QStringLiteral("0:00"));
}

// A caption that wraps within its box, condensed or made smaller where it must be.
void addWrappedLabel(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height)
{
    fitWrappedLabel(addLabel(parent, name, caption, left, top, width, height));
}

} // namespace

Frm_Cal_Timers::Frm_Cal_Timers(SettingsKeeper& keeper, QWidget* parent)
    : QWidget(parent), m_keeper(keeper), m_messageHandler([this](const QString& text) {
          showOperatorMessage(this, windowTitle(), text);
      })
{
    setupDialogWindow(this, QStringLiteral("Calibration of the Kelvaro Timers"), 5535, 3585);
    buildControls();
    // The font is fitted to the one-line captions; the two-line step texts follow in it.
    fitDialogFont(this);
    addStepTexts();
    loadSettings();
}

void Frm_Cal_Timers::buildControls()
{
    QGroupBox* step1 = addFrame(this, QStringLiteral("Frame1"),
                                QStringLiteral("Step1 (Put the correct value)"), 60, 0, 5415, 735);
    m_Txt_TimeOn = addTextBox(step1, QStringLiteral("Txt_TimeOn"), QStringLiteral("0:00"), 3720,
                              240, 1095, 315);

    QGroupBox* step2 =
        addFrame(this, QStringLiteral("Frame2"), QStringLiteral("Step2 (Put the correct value)"),
                 60, 780, 5415, 735);
    m_Txt_ActTimeOn = addTextBox(step2, QStringLiteral("Txt_ActTimeOn"), QStringLiteral("0:00"),
                                 3720, 240, 1095, 315);

    QGroupBox* step3 =
        addFrame(this, QStringLiteral("Frame3"), QStringLiteral("Step3"), 60, 1560, 5415, 735);
    addLabel(step3, QStringLiteral("Label3"), QStringLiteral("Start the Calibration "), 120, 360,
             3315, 255);
    QPushButton* calibrateButton =
        addButton(step3, QStringLiteral("Calibrate"), QStringLiteral("Calibrate Timers"), 3480, 240,
                  1815, 375);

    QGroupBox* step4 =
        addFrame(this, QStringLiteral("Frame4"), QStringLiteral("Step4"), 60, 2340, 5415, 675);
    addLabel(step4, QStringLiteral("Label4"), QStringLiteral("Timers Calculation Value:"), 120, 300,
             3315, 255);
    m_Txt_CalTimers = addTextBox(step4, QStringLiteral("Txt_CalTimers"), QStringLiteral("0"), 3720,
                                 240, 1095, 315);

    QPushButton* ok =
        addButton(this, QStringLiteral("Command1"), QStringLiteral("Ok"), 1680, 3120, 975, 375);
    QPushButton* cancel =
        addButton(this, QStringLiteral("Command2"), QStringLiteral("Cancel"), 2700, 3120, 975, 375);
    addPicture(this, QStringLiteral("Image1"), IconPicture, 60, 3060, 480, 480);

    connect(calibrateButton, &QPushButton::clicked, this, &Frm_Cal_Timers::Calibrate_Click);
    connect(ok, &QPushButton::clicked, this, &Frm_Cal_Timers::Command1_Click);
    connect(cancel, &QPushButton::clicked, this, &Frm_Cal_Timers::Command2_Click);
}

void Frm_Cal_Timers::addStepTexts()
{
    auto* step1 = findChild<QGroupBox*>(QStringLiteral("Frame1"));
    auto* step2 = findChild<QGroupBox*>(QStringLiteral("Frame2"));
    addWrappedLabel(step1, QStringLiteral("Label1"),
                    QStringLiteral("Put the Low Time On Value and lower the setpoint to "
                                   "activate the relay"),
                    120, 240, 3315, 435);
    addWrappedLabel(step2, QStringLiteral("Label2"),
                    QStringLiteral("Measure the actual Low Time On of the Relay on the Kelvaro"),
                    120, 240, 3315, 435);
}

void Frm_Cal_Timers::loadSettings()
{
    const Settings_Record& s = m_keeper.settings();
    // The value the duration conversions use: an unset value is the nominal 10000.
    m_Txt_CalTimers->setText(operatorLocale().toString(calibrationValue(s.Timer_CalValue)));
    m_Txt_TimeOn->setText(durationText(s.Timer_SetTimeOn.toNumber()));
    m_Txt_ActTimeOn->setText(durationText(s.Timer_ActTimeOn));
}

void Frm_Cal_Timers::Calibrate_Click()
{
    const Outcome<qint32> result = calibrateTimers(m_Txt_TimeOn->text(), m_Txt_ActTimeOn->text());
    if (!result) {
        showMessage(result.reason());
        return;
    }
    m_Txt_CalTimers->setText(operatorLocale().toString(result.value()));
}

void Frm_Cal_Timers::Command1_Click()
{
    // A value of 0 or below would leave every relay time without a conversion, so only
    // a positive 16-bit value is stored.
    constexpr qint32 maxValue = std::numeric_limits<qint16>::max();
    const std::optional<qint32> value =
        integerFromText(m_Txt_CalTimers->text(), QLocale(), 1, maxValue);
    const std::optional<qint32> set =
        Duration_To_Board_Seconds(m_Txt_TimeOn->text(), NominalCalibration);
    const std::optional<qint32> actual =
        Duration_To_Board_Seconds(m_Txt_ActTimeOn->text(), NominalCalibration);

    QStringList problems;
    if (!set)
        problems
            << QStringLiteral("The set time \"%1\" is not a time m:ss.").arg(m_Txt_TimeOn->text());
    if (!actual)
        problems << QStringLiteral("The measured time \"%1\" is not a time m:ss.")
                        .arg(m_Txt_ActTimeOn->text());
    if (!value)
        problems << QStringLiteral("The calculation value \"%1\" is not a whole number from 1 "
                                   "to %2.")
                        .arg(m_Txt_CalTimers->text())
                        .arg(maxValue);
    if (!problems.isEmpty()) {
        showMessage(problems.join(QLatin1Char('\n')));
        return;
    }

    const SettingsOutcome outcome = m_keeper.setTimers({*value, *set, *actual});
    if (!outcome) {
        showMessage(outcome.message);
        return;
    }
    close();
}

void Frm_Cal_Timers::Command2_Click()
{
    close();
}

void Frm_Cal_Timers::showMessage(const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(text);
}

} // namespace kelvaro
