// kelvaro-bench-host: the program's own start sequence (splash, then the main window with
// its start-up), for the performance benchmark. Two differences only: the splash is
// dismissed through its own timer as soon as it is shown, instead of after ten seconds,
// and three moments are written to stdout as CLOCK_MONOTONIC nanoseconds, one line each:
//   main <ns>          main() entered
//   splash <ns>        the splash was shown
//   paint <ns>         the main window received its first paint event
// Everything else (settings, port, link, display, logging) is the real code, unchanged.

#include "core/kelv_main.h"
#include "windows/frm_main.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

long long monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void report(const char* moment, long long ns)
{
    std::printf("%s %lld\n", moment, ns);
    std::fflush(stdout);
}

// Starts the splash's own timer with no delay once the splash is shown, so the main
// window opens by the splash's usual path at the first turn of the event loop.
class SplashDismisser : public QObject
{
public:
    explicit SplashDismisser(kelvaro::Frm_Splash* splash) : QObject(splash), m_splash(splash)
    {
        splash->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_splash && event->type() == QEvent::Show) {
            report("splash", monotonicNs());
            m_splash->removeEventFilter(this);
            m_splash->timer()->start(0);
        }
        return false;
    }

private:
    kelvaro::Frm_Splash* m_splash;
};

// Reports the first paint event delivered to the main window or any of its children,
// then removes itself from the application.
class FirstPaintProbe : public QObject
{
public:
    explicit FirstPaintProbe(kelvaro::Frm_Main*& window) : m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_window && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == m_window) {
            report("paint", monotonicNs());
            qApp->removeEventFilter(this);
        }
        return false;
    }

private:
    kelvaro::Frm_Main*& m_window;
};

} // namespace

int main(int argc, char* argv[])
{
    report("main", monotonicNs());

    // From here on the same steps as the program's main().
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(QStringLiteral("1.38"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));

    kelvaro::Kelv_Main state;
    const QString folder = QDir::currentPath();

    auto* splash = new kelvaro::Frm_Splash;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    kelvaro::Frm_Main* mainWindow = nullptr;
    const FirstPaintProbe paintProbe(mainWindow);
    new SplashDismisser(splash);
    QObject::connect(splash, &kelvaro::Frm_Splash::showMainWindow, splash, [&] {
        if (mainWindow)
            return;
        mainWindow = new kelvaro::Frm_Main(state, folder);
        mainWindow->setAttribute(Qt::WA_DeleteOnClose);
        mainWindow->startUp(splash);
        mainWindow->show();
    });
    splash->show();
    return QApplication::exec();
}
