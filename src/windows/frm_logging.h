#pragma once
// The logging dialog: the date pattern of the log file name, up to ten register fields
// and the event that writes a line. Ok hands them to the settings owner.

#include "core/kelv_main.h"
#include "store/settings_keeper.h"

#include <QString>
#include <QWidget>
#include <array>

class QComboBox;
class QPushButton;

namespace kelvaro {

class Frm_Logging : public QWidget
{
    Q_OBJECT
public:
    // The lists come from `state`'s name tables, the texts from the keeper's record.
    Frm_Logging(const Kelv_Main& state, SettingsKeeper& keeper, QWidget* parent = nullptr);

    // The boxes, each as the text it shows.
    LoggingChoices SaveLogging() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    void Cmb_Fields_Click(int index);
    void Cmd_Ok_Click();
    void Cmd_Cancel_Click();

    const Kelv_Main& m_state;
    SettingsKeeper& m_keeper;
    // The field box whose typed text is being finished (focus leaving it, Enter); its
    // activated signal then comes from typing, not from a choice in the list.
    QObject* m_finishingEdit = nullptr;
    QComboBox* Cmb_Filename = nullptr;
    std::array<QComboBox*, LogFieldCount> Cmb_Fields{};
    QComboBox* Cmb_Event = nullptr;
    QPushButton* Cmd_Ok = nullptr;
    QPushButton* Cmd_Cancel = nullptr;
};

} // namespace kelvaro
