#include "windows/frm_splash.h"

#include "windows/window_style.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace kelvaro {

Frm_Splash::Frm_Splash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(320, 220);
    Image1 = addPicture(this, QStringLiteral("Image1"), SplashPicture, 0, 0, 4800, 3300);
    connect(Image1, &SvgPicture::clicked, this, &Frm_Splash::Image1_Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - width()) / 2,
             area.top() + (area.height() - height()) / 2);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    connect(Timer1, &QTimer::timeout, this, &Frm_Splash::Timer1_Timer);
    Timer1->start();
}

void Frm_Splash::Image1_Click()
{
    openMainWindow();
}

void Frm_Splash::Timer1_Timer()
{
    openMainWindow();
}

void Frm_Splash::openMainWindow()
{
    // The main window's start-up runs inside the signal and may take long or process
    // events; the timer is stopped and the request marked first, so neither a tick nor a
    // click during or after it can open a second main window.
    Timer1->stop();
    if (m_mainWindowRequested)
        return;
    m_mainWindowRequested = true;
    Q_EMIT showMainWindow();
}

} // namespace kelvaro
