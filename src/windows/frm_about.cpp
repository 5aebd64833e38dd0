#include "windows/frm_about.h"

#include "windows/window_style.h"

#include <QPushButton>

namespace kelvaro {

Frm_About::Frm_About(QWidget* parent) : QWidget(parent)
{
    setupDialogWindow(this, tr("About"), 5175, 4170);
    addPicture(this, QStringLiteral("Image1"), AboutPicture, 60, 60, 5040, 3495);
    // Made after Image1, so it is drawn over the picture.
    addPicture(this, QStringLiteral("Image2"), IconPicture, 180, 180, 480, 480);
    QPushButton* Command1 =
        addButton(this, QStringLiteral("Command1"), tr("Ok"), 2160, 3720, 975, 375);
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    fitDialogFont(this);
}

} // namespace kelvaro
