#pragma once
// The timer calibration window: a relay time set on the board and the time measured with
// a stopwatch give the calibration value every relay-time conversion uses.

#include "core/kelv_main.h"

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

    // `folder` is the working directory that holds Settings.txt. The boxes are filled
    // from `state.settings`.
    Frm_Cal_Timers(Kelv_Main& state, QString folder, QWidget* parent = nullptr);

    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

private:
    void buildControls();
    void addStepTexts();
    void loadSettings();
    void Calibrate_Click();
    void Command1_Click();
    void Command2_Click();
    void showMessage(const QString& text);

    Kelv_Main& m_state;
    QString m_folder;
    MessageHandler m_messageHandler;

    QLineEdit* m_Txt_TimeOn = nullptr;
    QLineEdit* m_Txt_ActTimeOn = nullptr;
    QLineEdit* m_Txt_CalTimers = nullptr;
};

} // namespace kelvaro
