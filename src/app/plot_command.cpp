#include "app/plot_command.h"

#include "history/history_data.h"
#include "values/parameter_values.h"
#include "windows/chart_painter.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace kelvaro {

namespace {

void tell(const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

} // namespace

int runPlotCommand(int argc, char* argv[], const HistoryCommand& command)
{
    // Drawing needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    const QString folder = QDir::currentPath();
    const HistorySource source = historySource(folder, command);
    QStringList errors;
    const std::unique_ptr<HistoryData> data =
        HistoryData::load(source.files, source.loggedNames, readingThreads(), &errors);
    for (const QString& error : errors)
        tell(error);
    if (!source.files.empty() && data->days().empty()) {
        tell(QStringLiteral("kelvaro: none of the log files could be read"));
        return 1;
    }

    // The range asked for, or the days found; today when there is nothing at all.
    QDate from = command.from.value_or(QDate());
    QDate to = command.to.value_or(QDate());
    if (!from.isValid())
        from = data->days().empty() ? (to.isValid() ? to : QDate::currentDate())
                                    : data->days().front().date;
    if (!to.isValid())
        to = data->days().empty() ? from : std::max(from, data->days().back().date);

    ChartView view;
    view.t0 = QDateTime(from, QTime(0, 0)).toMSecsSinceEpoch();
    view.t1 = QDateTime(to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    const ValueUnits units{source.state.settings.Use_Fahrenheit,
                           calibrationValue(source.state.settings.Timer_CalValue)};

    QImage image(command.size, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        ChartPainter chart(*data, units);
        chart.layout(image.rect(), view);
        chart.paint(painter);
    }
    if (!image.save(command.plotFile, "PNG")) {
        tell(QStringLiteral("kelvaro: cannot write %1").arg(command.plotFile));
        return 1;
    }
    return 0;
}

} // namespace kelvaro
