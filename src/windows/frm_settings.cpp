#include "windows/frm_settings.h"

#include "values/parameter_values.h"
#include "windows/operator_message.h"
#include "windows/window_style.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStringList>
#include <optional>

namespace kelvaro {

namespace {

const QString Yes = QStringLiteral("YES");
const QString No = QStringLiteral("NO");

// A whole number typed in the operator's locale within [min, max]; when it is not, a line
// for the operator naming the box and what it accepts.
std::optional<qint32> readWholeNumber(const QString& text, const QString& boxName, qint32 min,
                                      qint32 max, QStringList& problems)
{
    const std::optional<qint32> value = integerFromText(text, QLocale(), min, max);
    if (!value)
        problems << Frm_Settings::tr("%1 must be a whole number from %2 to %3.")
                        .arg(boxName)
                        .arg(min)
                        .arg(max);
    return value;
}

} // namespace

Frm_Settings::Frm_Settings(SettingsKeeper& keeper, QWidget* parent)
    : QWidget(parent), m_keeper(keeper)
{
    setupDialogWindow(this, tr("Communication Settings"), 3480, 2700);
    buildControls();
    fitDialogFont(this);
    Form_Load();
}

void Frm_Settings::buildControls()
{
    QWidget* frame = addFrame(this, QStringLiteral("Frame1"), tr("Settings"), 60, 0, 3375, 2115);
    addLabel(frame, QStringLiteral("Label1_3"), tr("Port:"), 120, 240, 1455, 255);
    Cmb_Port = addEditableList(frame, QStringLiteral("Cmb_Port"),
                               {QStringLiteral("1"), QStringLiteral("2")}, 1560, 240, 915, 315);
    addLabel(frame, QStringLiteral("Label1_0"), tr("Baudrate:"), 120, 600, 795, 255);
    Cmb_Baudrate =
        addEditableList(frame, QStringLiteral("Cmb_Baudrate"),
                        {QStringLiteral("1200"), QStringLiteral("4800"), QStringLiteral("9600"),
                         QStringLiteral("19200"), QStringLiteral("38400")},
                        1560, 600, 1515, 315);
    addLabel(frame, QStringLiteral("Label1_1"), tr("RTS Active:"), 120, 960, 975, 255);
    Cmb_RTS = addEditableList(frame, QStringLiteral("Cmb_RTS"), {Yes, No}, 1560, 960, 915, 315);
    addLabel(frame, QStringLiteral("Label1_2"), tr("DTR Active:"), 120, 1320, 975, 255);
    Cmb_DTR = addEditableList(frame, QStringLiteral("Cmb_DTR"), {Yes, No}, 1560, 1320, 915, 315);
    addLabel(frame, QStringLiteral("Label1_4"), tr("Time Out  (sec):"), 120, 1680, 1395, 255);
    Txt_TimeOut = addTextBox(frame, QStringLiteral("Txt_TimeOut"), QStringLiteral("0"), 1560, 1680,
                             1095, 315);

    addPicture(this, QStringLiteral("Image2"), IconPicture, 60, 2160, 480, 480);
    Cmd_Ok = addButton(this, QStringLiteral("Cmd_Ok"), tr("Ok"), 780, 2220, 975, 375);
    Cmd_Cancel = addButton(this, QStringLiteral("Cmd_Cancel"), tr("Cancel"), 1800, 2220, 975, 375);
    connect(Cmd_Ok, &QPushButton::clicked, this, &Frm_Settings::Cmd_Ok_Click);
    connect(Cmd_Cancel, &QPushButton::clicked, this, &Frm_Settings::Cmd_Cancel_Click);
}

void Frm_Settings::Form_Load()
{
    const Settings_Record& settings = m_keeper.settings();
    Cmb_Port->setEditText(QString::number(settings.Comm_Port));
    Cmb_Baudrate->setEditText(QString::number(settings.Comm_Baud));
    Cmb_RTS->setEditText(settings.Comm_RTS ? Yes : No);
    Cmb_DTR->setEditText(settings.Comm_DTR ? Yes : No);
    Txt_TimeOut->setText(QString::number(settings.Comm_TimeOut));
}

void Frm_Settings::Cmd_Ok_Click()
{
    // Every box is checked before anything is stored: one bad entry leaves the whole
    // record as it was, and the operator hears about all bad entries at once.
    QStringList problems;
    const std::optional<qint32> port =
        readWholeNumber(Cmb_Port->currentText(), tr("Port"), PortMin, PortMax, problems);
    const std::optional<qint32> baud =
        readWholeNumber(Cmb_Baudrate->currentText(), tr("Baudrate"), BaudMin, BaudMax, problems);
    const std::optional<qint32> timeOut = readWholeNumber(Txt_TimeOut->text(), tr("Time Out (sec)"),
                                                          TimeOutMin, TimeOutMax, problems);
    if (!port || !baud || !timeOut) {
        showOperatorMessage(this, windowTitle(), problems.join(QLatin1Char('\n')));
        return;
    }

    const CommunicationSettings values{static_cast<qint16>(*port), *baud,
                                       Cmb_RTS->currentText() == Yes, Cmb_DTR->currentText() == Yes,
                                       static_cast<qint16>(*timeOut)};
    // A failed save keeps the dialog open, so the message stays beside the entries it
    // concerns and the operator can press Ok again once the cause is fixed.
    const SettingsOutcome outcome = m_keeper.setCommunication(values);
    if (!outcome) {
        showOperatorMessage(this, windowTitle(), outcome.message);
        return;
    }
    close();
}

void Frm_Settings::Cmd_Cancel_Click()
{
    close();
}

} // namespace kelvaro
