#include "windows/frm_logging.h"

#include "logging/log_recorder.h"
#include "windows/operator_message.h"
#include "windows/window_style.h"

#include <QComboBox>
#include <QDate>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

namespace kelvaro {

namespace {

// The field box text that ends the list of logged fields.
const QString NoField = QStringLiteral("None");

template <std::size_t N> QStringList listOf(const std::array<QString, N>& table)
{
    return QStringList(table.begin(), table.end());
}

} // namespace

Frm_Logging::Frm_Logging(const Kelv_Main& state, SettingsKeeper& keeper, QWidget* parent)
    : QWidget(parent), m_state(state), m_keeper(keeper)
{
    setupDialogWindow(this, tr("Logging Control"), 4575, 5775);
    buildControls();
    fitDialogFont(this);
    Form_Load();
}

void Frm_Logging::buildControls()
{
    QWidget* nameFrame =
        addFrame(this, QStringLiteral("Frame1"), tr("Filename Format"), 60, 0, 4455, 615);
    addLabel(nameFrame, QStringLiteral("Label_Filename"), tr("Logging filename:"), 120, 240, 1335,
             255);
    Cmb_Filename = addEditableList(nameFrame, QStringLiteral("Cmb_Filename"),
                                   {QStringLiteral("DD-MM-YYYY"), QStringLiteral("MM-DD-YYYY")},
                                   1440, 180, 2895, 315);

    QWidget* fieldFrame =
        addFrame(this, QStringLiteral("Frame2"), tr("Logged Fields"), 60, 660, 4455, 3855);
    for (int i = 0; i < LogFieldCount; ++i) {
        const bool wideLabel = i == 0 || i == LogFieldCount - 1;
        addLabel(fieldFrame, QStringLiteral("Label_Fields_%1").arg(i), tr("Field %1:").arg(i + 1),
                 120, 240 + 360 * i, wideLabel ? 615 : 555, 255);
        QComboBox* box = addEditableList(fieldFrame, QStringLiteral("Cmb_Fields_%1").arg(i), {},
                                         1440, 180 + 360 * i, 2895, 315);
        // Only a pick from the list runs the choice rule; typing and the texts set at
        // opening do not. A typed text that matches an entry makes the box send
        // `activated` when the typing is finished (focus out, Enter): the filter marks
        // that moment so the signal is not taken for a choice.
        connect(box, &QComboBox::activated, this, [this, box, i] {
            if (m_finishingEdit != box)
                Cmb_Fields_Click(i);
        });
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
        Cmb_Fields[i] = box;
    }

    QWidget* eventFrame =
        addFrame(this, QStringLiteral("Frame3"), tr("Logging Event"), 60, 4560, 4455, 615);
    addLabel(eventFrame, QStringLiteral("Label_Event"), tr("Events:"), 120, 240, 735, 255);
    Cmb_Event = addEditableList(eventFrame, QStringLiteral("Cmb_Event"), {}, 1440, 180, 2895, 315);

    Cmd_Ok = addButton(this, QStringLiteral("Cmd_Ok"), tr("Ok"), 1320, 5280, 975, 375);
    Cmd_Cancel = addButton(this, QStringLiteral("Cmd_Cancel"), tr("Cancel"), 2340, 5280, 975, 375);
    addPicture(this, QStringLiteral("Image1"), IconPicture, 60, 5220, 480, 480);
    connect(Cmd_Ok, &QPushButton::clicked, this, &Frm_Logging::Cmd_Ok_Click);
    connect(Cmd_Cancel, &QPushButton::clicked, this, &Frm_Logging::Cmd_Cancel_Click);

    QWidget* previous = Cmb_Filename;
    for (QWidget* next : Cmb_Fields) {
        setTabOrder(previous, next);
        previous = next;
    }
    setTabOrder(previous, Cmd_Cancel);
    setTabOrder(Cmd_Cancel, Cmd_Ok);
    setTabOrder(Cmd_Ok, Cmb_Event);
}

void Frm_Logging::Form_Load()
{
    const QStringList fieldNames = listOf(m_state.Field_Names);
    for (QComboBox* box : Cmb_Fields)
        box->addItems(fieldNames);
    Cmb_Event->addItems(listOf(m_state.Event_Names));

    // setEditText shows the stored text as it is: an unset value stays an empty box
    // rather than selecting the first list entry, and no activated signal is sent.
    const Settings_Record& settings = m_keeper.settings();
    Cmb_Filename->setEditText(settings.Log_NameFormat.toText());
    for (int i = 0; i < LogFieldCount; ++i)
        Cmb_Fields[i]->setEditText(settings.Log_Fields[i].toText());
    Cmb_Event->setEditText(settings.Log_Event.toText());

    for (int i = 1; i < LogFieldCount; ++i) {
        if (Cmb_Fields[i - 1]->currentText() == NoField)
            Cmb_Fields[i]->setEnabled(false);
    }
}

void Frm_Logging::Cmb_Fields_Click(int index)
{
    if (Cmb_Fields[index]->currentText() == NoField) {
        for (int j = index + 1; j < LogFieldCount; ++j)
            Cmb_Fields[j]->setEnabled(false);
        return;
    }
    // Enables the following boxes up to and including the first later one showing "None".
    for (int j = index + 1; j < LogFieldCount; ++j) {
        if (Cmb_Fields[j - 1]->currentText() == NoField)
            break;
        Cmb_Fields[j]->setEnabled(true);
    }
}

bool Frm_Logging::eventFilter(QObject* watched, QEvent* event)
{
    const bool finishesEdit = event->type() == QEvent::FocusOut ||
                              (event->type() == QEvent::KeyPress &&
                               (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                                static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter));
    if (!finishesEdit)
        return QWidget::eventFilter(watched, event);
    auto* box = qobject_cast<QComboBox*>(watched);
    if (!box)
        box = qobject_cast<QComboBox*>(watched->parent());
    // The box handles the event itself (sending `activated` from it, if at all) while it
    // is marked here; the mark is taken away once the event is done.
    // A key the box ignores still goes on to its parents: QApplication looks at the
    // event's accepted flag, not at what the filter returns.
    m_finishingEdit = box;
    watched->event(event);
    m_finishingEdit = nullptr;
    return true;
}

LoggingChoices Frm_Logging::SaveLogging() const
{
    LoggingChoices choices;
    choices.nameFormat = Cmb_Filename->currentText();
    for (int i = 0; i < LogFieldCount; ++i)
        choices.fields[i] = Cmb_Fields[i]->currentText();
    choices.event = Cmb_Event->currentText();
    return choices;
}

void Frm_Logging::Cmd_Ok_Click()
{
    // A pattern that cannot name a file in the working folder is refused here, where the
    // operator can still correct it, rather than failing at every logging pass. The empty
    // pattern is one of them: with it nothing would ever be logged.
    const QString pattern = Cmb_Filename->currentText();
    if (const Outcome<QString> name = logFileName(pattern, QDate::currentDate()); !name) {
        showOperatorMessage(this, windowTitle(),
                            tr("The logging filename \"%1\" cannot be used: %2.\nChoose "
                               "DD-MM-YYYY or MM-DD-YYYY from the list, or type a date pattern "
                               "made of DD, MM, YYYY and \"-\".")
                                .arg(pattern, name.reason()));
        return;
    }

    // As in the communication dialog: a failed save keeps the dialog open beside the
    // message.
    const SettingsOutcome outcome = m_keeper.setLogging(SaveLogging());
    if (!outcome) {
        showOperatorMessage(this, windowTitle(), outcome.message);
        return;
    }
    close();
}

void Frm_Logging::Cmd_Cancel_Click()
{
    close();
}

} // namespace kelvaro
