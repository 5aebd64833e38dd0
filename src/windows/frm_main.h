#pragma once
// The main window: live values over the background diagram, the parameter entry boxes,
// the raw-register column, the menus and the status bar. It shows what the session's line
// brings and refreshes the display on the session's two-second tick; it does not own the
// line.

#include "core/kelv_main.h"
#include "store/settings_keeper.h"
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

namespace service {
class AttachedBoard;
}

class BoardSession;
class Frm_About;
class Frm_Calibration;
class Frm_Cal_Timers;
class Frm_Chart;
class Frm_Logging;
class Frm_Settings;
class ValueLabel;

class Frm_Main : public QMainWindow
{
    Q_OBJECT
public:
    // The window of `session`, whose working folder holds Settings.txt, Parameters.txt,
    // the log files and the comN port links.
    explicit Frm_Main(BoardSession& session, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // The session's start-up (tables, settings, port), then the window's own: boxes,
    // status bar, menus. Each step that fails is skipped. Hides `splash` at the end.
    void startUp(QWidget* splash = nullptr);

    void Update_Outputs();
    void Update_RelayStatus();
    void Update_Inputs();
    bool WrParam(qint16 address, qint32 value);
    void CloseApplication();

    // Enter (13) in box `index` commits its text; other keys are left to the box.
    void Txt_Inputs_KeyPress(int index, int keyAscii);
    // The two-second refresh of the labels and the raw column.
    void mainTimer_Timer();

    SettingsKeeper& settingsKeeper() { return m_settings; }
    // Work through the service on `socket` instead of opening the line; called before
    // startUp.
    void attachAtStart(const QString& socket) { m_attachSocket = socket; }
    // The recorder's service this window works through, when it is attached to one.
    service::AttachedBoard& attachedBoard() { return *m_service; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void buildStatusBar();
    void applyWidth();
    void reportSettings(const SettingsOutcome& outcome);
    void showLogFailure(const QString& reason, bool newEpisode);
    void clearLogFailure();
    void showMessage(const QString& title, const QString& text);
    // Names logging settings that cannot work or log nothing, once at start.
    void showStartLoggingFindings();
    void updatePortToolTip();
    void showAttached(bool on, const QString& text);
    void showSettings();

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

    BoardSession& m_session;
    Kelv_Main& m_state;
    QString m_folder;
    SettingsKeeper& m_settings;

    std::array<QLineEdit*, 10> m_inputs{};
    std::array<ValueLabel*, 8> m_outputs{};
    std::array<ValueLabel*, 20> m_direct{};
    QPushButton* m_reset = nullptr;
    std::array<QLabel*, 5> m_panels{};

    QAction* m_mnuCtoF = nullptr;
    QAction* m_mnuDirectData = nullptr;
    QAction* m_mnuLogStart = nullptr;

    service::AttachedBoard* m_service = nullptr;
    QString m_attachSocket;

    QTimer m_clockTimer;
    QPointer<QWidget> m_splash;
    QPointer<Frm_Settings> m_settingsWindow;
    QPointer<Frm_Calibration> m_calibrationWindow;
    QPointer<Frm_About> m_aboutWindow;
    QPointer<Frm_Logging> m_loggingWindow;
    QPointer<Frm_Cal_Timers> m_timersWindow;
    // The live trend: every complete block of the last 24 hours, for the chart window.
    QPointer<Frm_Chart> m_chartWindow;
};

} // namespace kelvaro
