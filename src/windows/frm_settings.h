#pragma once
// The communication settings dialog: edits the stored port number, baud rate, line levels
// and time-out, and hands them to the settings owner at Ok.

#include "store/settings_keeper.h"

#include <QString>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace kelvaro {

class Frm_Settings : public QWidget
{
    Q_OBJECT
public:
    // The accepted ranges: a port number names a device from 1 on, a baud rate is any
    // positive 32-bit number, the time-out any non-negative 16-bit number of seconds.
    static constexpr qint32 PortMin = 1;
    static constexpr qint32 PortMax = 32767;
    static constexpr qint32 BaudMin = 1;
    static constexpr qint32 BaudMax = 2147483647;
    static constexpr qint32 TimeOutMin = 0;
    static constexpr qint32 TimeOutMax = 32767;

    explicit Frm_Settings(SettingsKeeper& keeper, QWidget* parent = nullptr);

private:
    void buildControls();
    void Form_Load();
    void Cmd_Ok_Click();
    void Cmd_Cancel_Click();

    SettingsKeeper& m_keeper;
    QComboBox* Cmb_Port = nullptr;
    QComboBox* Cmb_Baudrate = nullptr;
    QComboBox* Cmb_RTS = nullptr;
    QComboBox* Cmb_DTR = nullptr;
    QLineEdit* Txt_TimeOut = nullptr;
    QPushButton* Cmd_Ok = nullptr;
    QPushButton* Cmd_Cancel = nullptr;
};

} // namespace kelvaro
