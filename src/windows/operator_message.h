#pragma once
// Messages for the operator: a message box that does not block the event loop, so the
// board link and the refresh timer keep running while it is shown, and tests can find
// and close it like any other window.

#include <QMessageBox>
#include <QString>
#include <QWidget>

namespace kelvaro {

// Shows a window-modal box over `parent` with an OK button and returns at once.
// The box deletes itself when closed.
inline QMessageBox* showOperatorMessage(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::Icon icon = QMessageBox::Warning)
{
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

} // namespace kelvaro
