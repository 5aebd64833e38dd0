#pragma once
// The thermistor calibration window: the NE555 stage's resistor, shorted pulse and the
// thermistor's data in, the board's EEPROM curve table and a chart of it out.

#include "store/settings_keeper.h"

#include <QString>
#include <QWidget>
#include <functional>

class QChartView;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QValueAxis;

namespace kelvaro {

class Frm_Calibration : public QWidget
{
    Q_OBJECT
public:
    // Operator messages go here; by default a message box over the window.
    using MessageHandler = std::function<void(const QString& text)>;

    // The boxes are filled from the keeper's record and the table is calculated at once.
    explicit Frm_Calibration(SettingsKeeper& keeper, QWidget* parent = nullptr);

    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

private:
    void buildControls();
    void addStepTexts();
    void loadSettings();
    // Reads the six boxes, calculates the table and, only when every value is usable,
    // takes the values into the settings and shows the table and the chart. Returns the
    // reason when it refuses.
    QString calibrate();
    void Calibrate_Click();
    void Command1_Click();
    void Command2_Click();
    void showMessage(const QString& text);

    SettingsKeeper& m_keeper;
    MessageHandler m_messageHandler;

    QLineEdit* m_R0 = nullptr;
    QLineEdit* m_T0 = nullptr;
    QLineEdit* m_B = nullptr;
    QLineEdit* m_NTC = nullptr;
    QLineEdit* m_MinTH = nullptr;
    QLineEdit* m_MaxTH = nullptr;
    QPlainTextEdit* m_NTC_arr = nullptr;
    QChartView* m_MSChart1 = nullptr;
    QLineSeries* m_series = nullptr;
    QValueAxis* m_axisX = nullptr;
    QValueAxis* m_axisY = nullptr;
};

} // namespace kelvaro
