#pragma once
// The logging dialog: the date pattern of the log file name, up to ten register fields
// and the event that writes a line. Ok stores them and saves the settings file.

#include "core/kelv_main.h"

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
    // `folder` holds Settings.txt and the log files.
    Frm_Logging(Kelv_Main& state, QString folder, QWidget* parent = nullptr);

    // Copies the boxes into the settings record, each as the text it shows.
    void SaveLogging();

private:
    void buildControls();
    void Form_Load();
    void Cmb_Fields_Click(int index);
    void Cmd_Ok_Click();
    void Cmd_Cancel_Click();

    Kelv_Main& m_state;
    QString m_folder;
    QComboBox* Cmb_Filename = nullptr;
    std::array<QComboBox*, LogFieldCount> Cmb_Fields{};
    QComboBox* Cmb_Event = nullptr;
    QPushButton* Cmd_Ok = nullptr;
    QPushButton* Cmd_Cancel = nullptr;
};

} // namespace kelvaro
