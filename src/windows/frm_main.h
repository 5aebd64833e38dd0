#pragma once
// The main window: live values over the background diagram, the parameter entry boxes,
// the raw-register column, the menus and the status bar. It owns the serial port and the
// board link, and refreshes the display and the data logger every two seconds.

#include "core/kelv_main.h"
#include "history/trend_buffer.h"
#include "link/link_protocol.h"
#include "values/display_texts.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace kelvaro {

class SerialPort;
class Frm_About;
class Frm_Calibration;
class Frm_Cal_Timers;
class Frm_Chart;
class Frm_Logging;
class Frm_Settings;

class Frm_Main : public QMainWindow, public LinkHandler
{
    Q_OBJECT
public:
    // `folder` is the working directory: Settings.txt, Parameters.txt, the log files and
    // the comN port links live there.
    Frm_Main(Kelv_Main& state, QString folder, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // The start-up sequence: tables, settings, port, boxes, status bar, menus. Each step
    // that fails is skipped. Hides `splash` at the end.
    void startUp(QWidget* splash = nullptr);

    void Update_Outputs();
    void Update_RelayStatus();
    void Update_Inputs() override;
    void Update_Param() override;
    bool WrParam(qint16 address, qint32 value);
    void CloseApplication();

    // Enter (13) in box `index` commits its text; other keys are left to the box.
    void Txt_Inputs_KeyPress(int index, int keyAscii);
    void mainTimer_Timer();

    LinkProtocol& link() { return m_link; }
    SerialPort& port() { return *m_port; }

    // LinkHandler
    void writeToBoard(QByteArrayView bytes) override;
    void setLinkStatus(const QString& text) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void buildStatusBar();
    void applyWidth();
    void saveSettings();
    void showMessage(const QString& title, const QString& text);
    void updatePortToolTip();

    void mnuCtoF_Click();
    void mnuDirectData_Click();
    void mnuLogStart_Click();
    void mnuLoadParameters_Click();
    void mnuSaveParameters_Click();
    void mnuAcrobat_Click();
    void openManual(int index);
    void Cmd_Reset_Click();
    void refreshClock();
    DisplayUnits displayUnits() const;

    template <class Window> void showWindow(QPointer<Window>& window);

    Kelv_Main& m_state;
    QString m_folder;
    LinkProtocol m_link;
    SerialPort* m_port = nullptr;

    std::array<QLineEdit*, 10> m_inputs{};
    std::array<QLabel*, 8> m_outputs{};
    std::array<QLabel*, 20> m_direct{};
    QPushButton* m_reset = nullptr;
    std::array<QLabel*, 5> m_panels{};

    QAction* m_mnuCtoF = nullptr;
    QAction* m_mnuDirectData = nullptr;
    QAction* m_mnuLogStart = nullptr;

    QTimer m_mainTimer;
    QTimer m_clockTimer;
    QPointer<QWidget> m_splash;
    QPointer<Frm_Settings> m_settingsWindow;
    QPointer<Frm_Calibration> m_calibrationWindow;
    QPointer<Frm_About> m_aboutWindow;
    QPointer<Frm_Logging> m_loggingWindow;
    QPointer<Frm_Cal_Timers> m_timersWindow;
    // The live trend: every complete block of the last 24 hours, for the chart window.
    TrendBuffer m_trend;
    QPointer<Frm_Chart> m_chartWindow;
};

} // namespace kelvaro
