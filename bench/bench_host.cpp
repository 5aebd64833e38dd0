// kelvaro-bench-host: the program's own start sequence (splash, then the main window with
// its start-up), for the performance benchmark. Two differences only: the splash is
// dismissed through its own timer as soon as it is shown, instead of after ten seconds,
// and three moments are written to stdout as CLOCK_MONOTONIC nanoseconds, one line each:
//   main <ns>          main() entered
//   splash <ns>        the splash was shown
//   paint <ns>         the main window received its first paint event
// Everything else (settings, port, link, display, logging) is the real code, unchanged.

#include "core/kelv_main.h"
#include "core/version.h"
#include "link/board_session.h"
#include "windows/frm_main.h"
#include "windows/frm_splash.h"
#include "windows/program_start.h"

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

// Reports the first paint event delivered to the main window or any of its children,
// then removes itself from the application.
class FirstPaintProbe : public QObject
{
public:
    void watch(kelvaro::Frm_Main* window)
    {
        m_window = window;
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
    kelvaro::Frm_Main* m_window = nullptr;
};

} // namespace

int main(int argc, char* argv[])
{
    report("main", monotonicNs());

    // From here on the same steps as the program's main().
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(kelvaro::versionText());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));

    kelvaro::Kelv_Main state;
    kelvaro::BoardSession session(state, QDir::currentPath());

    FirstPaintProbe paintProbe;
    kelvaro::Frm_Splash* splash = kelvaro::startProgram(
        session, [&paintProbe](kelvaro::Frm_Main* window) { paintProbe.watch(window); });
    // The splash is shown now; its own timer opens the main window at the first turn of
    // the event loop instead of after ten seconds.
    report("splash", monotonicNs());
    splash->timer()->start(0);
    return QApplication::exec();
}
