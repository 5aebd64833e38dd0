#include "windows/frm_main.h"

#include "core/version.h"
#include "link/board_session.h"
#include "link/settings_check.h"
#include "logging/log_recorder.h"
#include "service/attached_board.h"
#include "store/parameter_file.h"
#include "store/settings_file.h"
#include "values/display_texts.h"
#include "values/parameter_entry.h"
#include "values/parameter_values.h"
#include "windows/frm_about.h"
#include "windows/frm_cal_timers.h"
#include "windows/frm_calibration.h"
#include "windows/frm_chart.h"
#include "windows/frm_logging.h"
#include "windows/frm_settings.h"
#include "windows/main_layout.h"
#include "windows/operator_message.h"
#include "windows/twips.h"
#include "windows/value_label.h"
#include "windows/window_style.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QSvgRenderer>
#include <type_traits>

namespace kelvaro {

namespace {

namespace L = main_layout;

inline const QString UnitCelsius = QStringLiteral("[\u00B0C] Celsius");
inline const QString UnitFahrenheit = QStringLiteral("[\u00B0F] Fareneit");
inline const QString ContactText = QStringLiteral("support@kelvaro.example");
inline const QString ReaderMissingText =
    QStringLiteral("Can't find Adobe Acrobat Reader .Use Help -> Acrobat to find the Reader.");
inline const QString ReaderMissingTitle = QStringLiteral("Adobe Acrobat Reader not Found");

// The operator's diagram behind every control, drawn from its SVG at any scale.
class Diagram : public QWidget
{
public:
    explicit Diagram(QWidget* parent)
        : QWidget(parent), m_svg(QStringLiteral(":/assets/background.svg"))
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        if (m_svg.isValid())
            m_svg.render(&painter, QRectF(twipsRect(0, 0, L::WideClientWidth, L::PictureHeight)));
    }

private:
    QSvgRenderer m_svg;
};

void place(QWidget* widget, const L::Box& box)
{
    placeAt(widget, box.left, box.top, box.width, box.height);
}

ValueLabel* valueLabel(QWidget* parent, const QString& caption, const QString& value,
                       const QString& hint)
{
    auto* label = new ValueLabel(caption, value, parent);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
    label->setPalette(palette);
    label->setToolTip(hint);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setMargin(2);
    return label;
}

} // namespace

Frm_Main::Frm_Main(BoardSession& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_state(session.state()), m_folder(session.folder()),
      m_settings(session.settingsKeeper())
{
    setObjectName(QStringLiteral("Frm_Main"));
    setWindowTitle(QStringLiteral("Kelvaro Ver. ") + versionText());
    setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    buildControls();
    buildMenus();
    buildStatusBar();
    applyWidth();
    fitDialogFont(centralWidget());
    for (QLabel* label : centralWidget()->findChildren<QLabel*>()) {
        if (label->wordWrap())
            fitWrappedLabel(label);
    }
    statusBar()->setFont(centralWidget()->font());

    BoardLink& link = m_session.link();
    connect(&link, &BoardLink::statusChanged, m_panels[2], &QLabel::setText);
    connect(&link, &BoardLink::problemChanged, this, &Frm_Main::updatePortToolTip);
    connect(&link, &BoardLink::inputsLoaded, this, &Frm_Main::Update_Inputs);
    connect(&m_session, &BoardSession::refresh, this, &Frm_Main::mainTimer_Timer);
    connect(&m_session, &BoardSession::logFailing, this, &Frm_Main::showLogFailure);
    connect(&m_session, &BoardSession::logRecovered, this, &Frm_Main::clearLogFailure);
    // The live trend keeps every block from the start, whether or not the chart is open.
    m_session.keepTrend();
    connect(&m_session, &BoardSession::trendAppended, this, [this] {
        if (m_chartWindow)
            m_chartWindow->onTrendAppended();
    });

    // The recorder's service, when it keeps the line: the same labels, boxes and menus,
    // fed from its socket.
    m_service = new service::AttachedBoard(m_session, this);
    connect(m_service, &service::AttachedBoard::attachedChanged, this, &Frm_Main::showAttached);
    connect(m_service, &service::AttachedBoard::lineTakenBack, this, [this] {
        m_panels[0]->setText(ContactText);
        const QString text = QStringLiteral("%1 did not come back; this window keeps the line "
                                            "itself.")
                                 .arg(m_service->serviceProgram());
        m_panels[0]->setToolTip(text);
        m_panels[0]->setAccessibleDescription(text);
    });
    connect(m_service, &service::AttachedBoard::lineStatus, this,
            [this](const QString& status, const QString& problem) {
                m_panels[2]->setText(status);
                m_panels[2]->setToolTip(problem);
            });
    connect(m_service, &service::AttachedBoard::inputsDue, this, &Frm_Main::Update_Inputs);
    connect(m_service, &service::AttachedBoard::settingsAdopted, this, &Frm_Main::showSettings);
    connect(m_service, &service::AttachedBoard::logFailing, this, &Frm_Main::showLogFailure);
    connect(m_service, &service::AttachedBoard::logRecovered, this, &Frm_Main::clearLogFailure);
    connect(m_service, &service::AttachedBoard::writeRefused, this,
            [this](const QString& reason) { showMessage(QStringLiteral("Kelvaro"), reason); });
    connect(m_service, &service::AttachedBoard::settingsNotSaved, this, &Frm_Main::reportSettings);

    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &Frm_Main::refreshClock);
    refreshClock();
}

Frm_Main::~Frm_Main() = default;

void Frm_Main::buildControls()
{
    auto* central = new Diagram(this);
    setCentralWidget(central);

    m_reset = new QPushButton(QString::fromUtf8(L::ResetCaption), central);
    m_reset->setObjectName(QStringLiteral("Cmd_Reset"));
    place(m_reset, L::ResetButton);
    connect(m_reset, &QPushButton::clicked, this, &Frm_Main::Cmd_Reset_Click);

    std::array<QLabel*, L::Captions.size()> captions{};
    for (std::size_t i = 0; i < L::Captions.size(); ++i) {
        auto* label = new QLabel(QString::fromUtf8(L::Captions[i].text), central);
        label->setObjectName(QStringLiteral("Label1_%1").arg(i));
        QFont bold; // only the weight is set here; family and size come from the window
        bold.setBold(true);
        label->setFont(bold);
        label->setWordWrap(L::Captions[i].box.height > 255);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(label, L::Captions[i].box);
        captions[i] = label;
    }

    for (int i = 0; i < InputBoxCount; ++i) {
        auto* box = new QLineEdit(QStringLiteral("0"), central);
        box->setObjectName(QStringLiteral("Txt_Inputs_%1").arg(i));
        box->setToolTip(QString::fromUtf8(L::Inputs[i].text));
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
        palette.setColor(QPalette::Text, palette.color(QPalette::ToolTipText));
        box->setPalette(palette);
        place(box, L::Inputs[i].box);
        QLabel* caption = captions[L::InputCaption[i]];
        caption->setBuddy(box);
        box->setAccessibleName(caption->text());
        connect(box, &QLineEdit::returnPressed, this, [this, i] { Txt_Inputs_KeyPress(i, 13); });
        m_inputs[i] = box;
    }

    const std::array<QString, OutputLabelCount> initial{
        QStringLiteral("0"),   QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
        QStringLiteral("Off"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    for (int i = 0; i < OutputLabelCount; ++i) {
        auto* label = valueLabel(central, captions[L::OutputCaption[i]]->text(), initial[i],
                                 QString::fromUtf8(L::Outputs[i].text));
        label->setObjectName(QStringLiteral("Lbl_Outputs_%1").arg(i));
        place(label, L::Outputs[i].box);
        m_outputs[i] = label;
    }

    for (int k = 0; k < RegisterCount; ++k) {
        auto* label = valueLabel(central, QStringLiteral("Register %1:").arg(k),
                                 QStringLiteral("0"), QString::fromUtf8(L::DirectHints[k]));
        label->setObjectName(QStringLiteral("Lbl_DirectRead_%1").arg(k));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        placeAt(label, L::DirectLeft, L::directTop(k), L::DirectWidth, L::DirectHeight);
        m_direct[k] = label;
    }
}

void Frm_Main::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto addMenu = [bar](const char* name, const QString& title) {
        QMenu* menu = bar->addMenu(title);
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto addEntry = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto addSeparator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* file = addMenu("mnuFile", QStringLiteral("File"));
    addEntry(file, "mnuLoadParameters", QStringLiteral("Load Parameters"),
             &Frm_Main::mnuLoadParameters_Click);
    addEntry(file, "mnuSaveParameters", QStringLiteral("Save Parameters"),
             &Frm_Main::mnuSaveParameters_Click);
    addSeparator(file, "Sp000");
    addEntry(file, "mnuExit", QStringLiteral("Exit"), [this] {
        CloseApplication();
        close();
    });

    QMenu* tools = addMenu("mnuTools", QStringLiteral("Tools"));
    m_mnuCtoF = addEntry(tools, "mnuCtoF", UnitCelsius, &Frm_Main::mnuCtoF_Click);
    m_mnuDirectData = addEntry(tools, "mnuDirectData", QStringLiteral("Direct Data"),
                               &Frm_Main::mnuDirectData_Click);
    m_mnuDirectData->setCheckable(true);
    addSeparator(tools, "sp10");
    QMenu* calibration = tools->addMenu(QStringLiteral("Calibration"));
    calibration->setObjectName(QStringLiteral("mnuCalibration"));
    addEntry(calibration, "mnuThermistor", QStringLiteral("Thermistor"),
             [this] { showWindow(m_calibrationWindow); });
    addEntry(calibration, "mnuTimersDuration", QStringLiteral("Timers Duration"),
             [this] { showWindow(m_timersWindow); });
    addSeparator(tools, "sp3");
    addEntry(tools, "mnuCommunication", QStringLiteral("Communication"),
             [this] { showWindow(m_settingsWindow); });

    QMenu* logging = addMenu("mnuLogging", QStringLiteral("Logging"));
    m_mnuLogStart =
        addEntry(logging, "mnuLogStart", QStringLiteral("Start"), &Frm_Main::mnuLogStart_Click);
    m_mnuLogStart->setCheckable(true);
    addSeparator(logging, "Sp0");
    addEntry(logging, "mnuLogSettings", QStringLiteral("Settings"),
             [this] { showWindow(m_loggingWindow); });
    addEntry(logging, "mnuLogChart", QStringLiteral("Chart"), [this] {
        if (!m_chartWindow) {
            m_chartWindow = new Frm_Chart(m_state, m_session.keepTrend(), m_folder, this);
            m_chartWindow->setRecorder([this] { return m_service->client(); });
        }
        m_chartWindow->show();
        m_chartWindow->raise();
        m_chartWindow->activateWindow();
    });

    QMenu* help = addMenu("mnuHelp", QStringLiteral("Help"));
    addEntry(help, "mnuAcrobat", QStringLiteral("Acrobat"), &Frm_Main::mnuAcrobat_Click);
    addSeparator(help, "sp2");
    addEntry(help, "mnuOperation", QStringLiteral("Operation"),
             [this] { openManual(ManualOperation); });
    addEntry(help, "mnuModes", QStringLiteral("Modes"), [this] { openManual(ManualModes); });
    addEntry(help, "mnuDrawings", QStringLiteral("Drawings"),
             [this] { openManual(ManualDrawings); });
    addEntry(help, "mnuSource", QStringLiteral("Source"), [this] { openManual(ManualSource); });

    QAction* about = bar->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, [this] { showWindow(m_aboutWindow); });
}

void Frm_Main::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(twips(L::StatusHeight));
    bar->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setFixedWidth(twips(L::PanelWidths[i]));
        panel->setContentsMargins(2, 0, 2, 0);
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
}

void Frm_Main::applyWidth()
{
    // One rule for the width, the check mark and the refresh: the raw column is shown
    // while Show_Direct equals 1, whatever else an edited file holds.
    const int client = m_state.settings.Show_Direct == 1 ? L::WideClientWidth : L::ClientWidth;
    centralWidget()->setFixedSize(twips(client), twips(L::StatusTop));
    setFixedSize(twips(client), menuBar()->sizeHint().height() + twips(L::ClientHeight));
}

void Frm_Main::startUp(QWidget* splash)
{
    if (!m_attachSocket.isEmpty())
        m_service->attachTo(m_attachSocket);
    m_session.start();
    const Settings_Record& settings = m_state.settings;
    updatePortToolTip();

    Update_Inputs();

    m_panels[0]->setText(ContactText);
    const LogSwitch logging = loggingAtStartup(settings);
    m_panels[1]->setText(logging.statusText);
    m_panels[2]->setText(StatusWait);
    m_mnuLogStart->setChecked(logging.checked);
    showStartLoggingFindings();

    m_mnuDirectData->setChecked(settings.Show_Direct == 1);
    applyWidth();
    m_mnuCtoF->setText(settings.Use_Fahrenheit ? UnitFahrenheit : UnitCelsius);

    m_splash = splash;
    if (m_splash)
        m_splash->hide();
}

DisplayUnits Frm_Main::displayUnits() const
{
    return m_session.displayUnits();
}

void Frm_Main::Update_Outputs()
{
    const Words& words = m_state.registers.Reg_Words;
    if (m_state.settings.Show_Direct == 1) {
        for (int k = 0; k < RegisterCount; ++k)
            m_direct[k]->setValue(directText(words[k]));
    }
    const auto texts = outputTexts(words, displayUnits());
    for (int i : {0, 1, 2, 3, 5, 7, 6})
        m_outputs[i]->setValue(texts[i]);
}

void Frm_Main::Update_RelayStatus()
{
    m_outputs[4]->setValue(relayStatusText(m_state.registers.Reg_Words));
}

void Frm_Main::Update_Inputs()
{
    const auto texts = inputTexts(m_state.registers.Reg_Words, displayUnits());
    for (int i : {0, 1, 3, 2, 7, 6, 5, 4, 8, 9})
        m_inputs[i]->setText(texts[i]);
}

bool Frm_Main::WrParam(qint16 address, qint32 value)
{
    return m_session.queueWrite(address, value).has_value();
}

void Frm_Main::Txt_Inputs_KeyPress(int index, int keyAscii)
{
    if (keyAscii != 13 || index < 0 || index >= InputBoxCount)
        return;
    const Outcome<ParameterWrite> result =
        commitEntry(index, m_inputs[index]->text(), m_state.registers.Reg_Words, displayUnits());
    if (!result) {
        showMessage(QStringLiteral("Kelvaro"), result.reason());
        return;
    }
    const ParameterWrite write = result.value();
    m_state.registers.Reg_Words[write.word] = write.value;
    if (m_service->isAttached()) {
        // The recorder checks the text again against its own image and queues it.
        m_service->writeEntry(index, m_inputs[index]->text(), displayUnits());
        return;
    }
    WrParam(qint16(write.word), write.value);
}

void Frm_Main::mainTimer_Timer()
{
    Update_Outputs();
    Update_RelayStatus();
}

void Frm_Main::updatePortToolTip()
{
    if (!m_session.isAttached())
        m_panels[2]->setToolTip(m_session.link().problem());
}

void Frm_Main::showAttached(bool on, const QString& text)
{
    // The first panel names the line's keeper while another process keeps it, or while it
    // is waited for.
    // A board on another machine is named by its device and host, in the title as well.
    const QString remote = m_service->remoteLabel();
    m_panels[0]->setText((on ? QStringLiteral("Line: ") : QStringLiteral("Waiting for ")) +
                         (remote.isEmpty() ? m_service->serviceProgram() : remote));
    setWindowTitle(QStringLiteral("Kelvaro Ver. ") + versionText() +
                   (remote.isEmpty() ? QString() : QStringLiteral(" - ") + remote));
    m_panels[0]->setToolTip(text);
    m_panels[0]->setAccessibleDescription(text);
    if (!on) {
        m_panels[2]->setText(m_session.link().status());
        updatePortToolTip();
        m_panels[2]->setToolTip(text + QLatin1Char('\n') + m_panels[2]->toolTip());
    }
}

void Frm_Main::showSettings()
{
    const Settings_Record& settings = m_state.settings;
    m_mnuCtoF->setText(settings.Use_Fahrenheit ? UnitFahrenheit : UnitCelsius);
    m_mnuDirectData->setChecked(settings.Show_Direct == 1);
    applyWidth();
    const LogSwitch logging = loggingAtStartup(settings);
    m_mnuLogStart->setChecked(logging.checked);
    m_panels[1]->setText(logging.statusText);
    Update_Inputs();
    Update_Outputs();
    if (m_chartWindow)
        m_chartWindow->onUnitChanged();
}

void Frm_Main::Cmd_Reset_Click()
{
    if (m_service->isAttached())
        m_service->reset();
    else
        m_session.queueReset();
}

void Frm_Main::reportSettings(const SettingsOutcome& outcome)
{
    if (!outcome)
        showMessage(QStringLiteral("Settings not saved"), outcome.message);
}

void Frm_Main::showLogFailure(const QString& reason, bool newEpisode)
{
    QLabel* panel = m_panels[1];
    panel->setToolTip(QStringLiteral("Logging failed: %1\nNo line is logged until this is "
                                     "fixed; logging tries again with every line that is due.")
                          .arg(reason));
    panel->setAutoFillBackground(true);
    QPalette warning = panel->palette();
    warning.setColor(QPalette::Window, QColor(255, 200, 200));
    warning.setColor(QPalette::WindowText, QColor(128, 0, 0));
    panel->setPalette(warning);
    // Once per failure episode; the panel keeps saying it until a line is written.
    if (newEpisode)
        showMessage(QStringLiteral("Logging failed"),
                    QStringLiteral("%1\nLogging stays on and tries again with every line that is "
                                   "due. Until a line is written the logging panel of the status "
                                   "bar is marked and its tool tip gives the reason.")
                        .arg(reason));
}

void Frm_Main::clearLogFailure()
{
    QLabel* panel = m_panels[1];
    panel->setToolTip(QString());
    panel->setAutoFillBackground(false);
    panel->setPalette(QPalette());
}

void Frm_Main::showStartLoggingFindings()
{
    // The port's findings are in the link panel's tool tip already (the line says why it
    // cannot open), and "logging is off" is what the logging panel shows; what is left is
    // logging that is on but cannot work or logs nothing. Told at start, in the logging
    // panel's tool tip, until a log failure or its end replaces it.
    const StartSettingsCheck check =
        checkStartSettings(m_state.settings, m_session.folder(), false, QDate::currentDate());
    QStringList lines;
    for (const QList<SettingsFinding>* findings : {&check.faults, &check.notes}) {
        for (const SettingsFinding& finding : *findings) {
            if (finding.line > LogActiveLine)
                lines.append(findingText(finding));
        }
    }
    if (!lines.isEmpty())
        m_panels[1]->setToolTip(lines.join(QLatin1Char('\n')));
}

void Frm_Main::showMessage(const QString& title, const QString& text)
{
    showOperatorMessage(this, title, text);
}

void Frm_Main::mnuCtoF_Click()
{
    // The record says which unit is in use; the caption follows it.
    const SettingsOutcome outcome = m_settings.setFahrenheit(!m_state.settings.Use_Fahrenheit);
    m_mnuCtoF->setText(m_state.settings.Use_Fahrenheit ? UnitFahrenheit : UnitCelsius);
    Update_Inputs();
    if (m_chartWindow)
        m_chartWindow->onUnitChanged();
    reportSettings(outcome);
}

void Frm_Main::mnuDirectData_Click()
{
    const SettingsOutcome outcome =
        m_settings.setShowDirect(m_state.settings.Show_Direct == 1 ? 0 : 1);
    m_mnuDirectData->setChecked(m_state.settings.Show_Direct == 1);
    applyWidth();
    reportSettings(outcome);
}

void Frm_Main::mnuLogStart_Click()
{
    Settings_Record next = m_state.settings;
    const LogSwitch logging = toggleLogging(next);
    const SettingsOutcome outcome = m_settings.setLogActive(next.Log_Active);
    m_mnuLogStart->setChecked(logging.checked);
    m_panels[1]->setText(logging.statusText);
    if (!logging.checked)
        m_session.endLogFailureEpisode(); // switched off: nothing is failing any more
    reportSettings(outcome);
}

void Frm_Main::mnuLoadParameters_Click()
{
    const FileResult result = LoadParameters(m_state.registers.Reg_Words, m_folder);
    if (!result) {
        showMessage(QStringLiteral("Parameters not loaded"), result.reason());
        return;
    }
    Update_Inputs();
}

void Frm_Main::mnuSaveParameters_Click()
{
    const FileResult result = SaveParameters(m_state.registers.Reg_Words, m_folder);
    if (!result)
        showMessage(QStringLiteral("Parameters not saved"), result.reason());
}

void Frm_Main::mnuAcrobat_Click()
{
    const QString remembered = QDir::currentPath();
    auto* dialog = new QFileDialog(this, QStringLiteral("Find Adobe Acrobat Reader"));
    dialog->setObjectName(QStringLiteral("CommonDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
#ifdef Q_OS_WIN
    dialog->setNameFilter(QStringLiteral("Executable Files (acro*.exe)"));
#else
    // There is no acro*.exe here: offer the programs the operator may run.
    dialog->setNameFilter(QStringLiteral("Executable Files (*)"));
    dialog->setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
#endif
    connect(dialog, &QFileDialog::fileSelected, this, [this, remembered](const QString& path) {
        QDir::setCurrent(remembered);
        reportSettings(m_settings.setReaderPath(QDir::toNativeSeparators(path)));
    });
    connect(dialog, &QFileDialog::rejected, this, [remembered] { QDir::setCurrent(remembered); });
    dialog->open();
}

void Frm_Main::openManual(int index)
{
    // The reader is started as a program with the document as its one argument, never
    // through a shell: blanks, quotes, ";", "&" or "$(...)" in the reader path or the
    // document name are plain characters. A relative name starting with "-" would be taken
    // as an option by most readers, so it goes as "./-name", the same file in the working
    // folder the reader starts in. An empty name starts the reader without a document, as
    // the bare command line "<reader> " did.
    // A reader path that is not an existing file may carry options ("okular --unique"): it
    // is split into the program and its arguments as a command line is, still without a
    // shell, and the document goes last.
    QString reader = m_state.settings.Acrobat_Path;
    QStringList arguments;
    if (!reader.isEmpty() && !QFileInfo::exists(reader)) {
        arguments = QProcess::splitCommand(reader);
        reader = arguments.isEmpty() ? QString() : arguments.takeFirst();
    }
    QString document = m_state.settings.Manual_Files[std::size_t(index)];
    if (document.startsWith(QLatin1Char('-')))
        document.prepend(QStringLiteral("./"));
    if (!document.isEmpty())
        arguments.append(document);
    const bool started = !reader.isEmpty() && QProcess::startDetached(reader, arguments, m_folder);
    if (!started)
        showOperatorMessage(this, ReaderMissingTitle, ReaderMissingText, QMessageBox::Information);
}

template <class Window> void Frm_Main::showWindow(QPointer<Window>& window)
{
    if (!window) {
        if constexpr (std::is_constructible_v<Window, const Kelv_Main&, SettingsKeeper&, QWidget*>)
            window = new Window(m_state, m_settings, this);
        else if constexpr (std::is_constructible_v<Window, SettingsKeeper&, QWidget*>)
            window = new Window(m_settings, this);
        else
            window = new Window(this);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void Frm_Main::CloseApplication()
{
    const std::array<QWidget*, 7> windows{m_settingsWindow, m_calibrationWindow, m_aboutWindow,
                                          m_loggingWindow,  m_timersWindow,      m_splash,
                                          m_chartWindow};
    for (QWidget* window : windows) {
        if (window)
            window->close();
    }
}

void Frm_Main::closeEvent(QCloseEvent* event)
{
    CloseApplication();
    m_service->detach();
    // Also when the port is not open: a device still waited for is then no longer tried.
    m_session.stop();
    event->accept();
}

void Frm_Main::refreshClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    m_panels[3]->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    m_panels[4]->setText(now.time().toString(QStringLiteral("HH:mm")));
    // Wake at the start of the next minute, not more often.
    const int msToNextMinute = 60000 - (now.time().second() * 1000 + now.time().msec());
    m_clockTimer.start(msToNextMinute + 20);
}

} // namespace kelvaro
