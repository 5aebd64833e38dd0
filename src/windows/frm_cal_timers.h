#pragma once
// The timer calibration window: a relay time set on the board and the time measured with
// a stopwatch give the calibration value every relay-time conversion uses.

#include "store/settings_keeper.h"

#include <QString>
#include <QWidget>
#include <functional>

class QLineEdit;

namespace kelvaro {

class Frm_Cal_Timers : public QWidget
{
    Q_OBJECT
public:
    // Operator messages go here; by default a message box over the window.
    using MessageHandler = std::function<void(const QString& text)>;

    // The boxes are filled from the keeper's record.
    explicit Frm_Cal_Timers(SettingsKeeper& keeper, QWidget* parent = nullptr);

    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

private:
    void buildControls();
    void addStepTexts();
    void loadSettings();
    void Calibrate_Click();
    void Command1_Click();
    void Command2_Click();
    void showMessage(const QString& text);

    SettingsKeeper& m_keeper;
    MessageHandler m_messageHandler;

    QLineEdit* m_Txt_TimeOn = nullptr;
    QLineEdit* m_Txt_ActTimeOn = nullptr;
    QLineEdit* m_Txt_CalTimers = nullptr;
};

} // namespace kelvaro
