#include "link/line_journal.h"

#include "link/board_session.h"

namespace kelvaro {

namespace {

// 5 s, 10 s, 20 s, 40 s ... of silence (in steps of the silence limit) are told.
bool silenceWorthTelling(std::chrono::milliseconds silentFor, std::chrono::milliseconds step)
{
    if (step.count() <= 0 || silentFor.count() % step.count() != 0)
        return true;
    const auto steps = quint64(silentFor.count() / step.count());
    return steps != 0 && (steps & (steps - 1)) == 0;
}

} // namespace

LineJournal::LineJournal(BoardSession& session, Writer write, QObject* parent)
    : QObject(parent), m_session(session), m_write(std::move(write))
{
    BoardLink& link = session.link();
    connect(&link, &BoardLink::opened, this, &LineJournal::onOpened);
    connect(&link, &BoardLink::problemChanged, this, &LineJournal::onProblem);
    connect(&link, &BoardLink::outputBlocked, this, [this] {
        m_write(m_session.link().deviceName() +
                QStringLiteral(": the line takes no bytes; answers to the board are dropped "
                               "until it does"));
    });
    connect(&link, &BoardLink::outputResumed, this, [this](quint64 dropped) {
        m_write(
            m_session.link().deviceName() +
            QStringLiteral(": the line takes bytes again; %1 answers dropped in all").arg(dropped));
    });
    connect(&session, &BoardSession::logFailing, this,
            [this](const QString& reason, bool newEpisode) {
                if (newEpisode)
                    m_write(QStringLiteral("log write failed: ") + reason);
            });
    connect(&session, &BoardSession::logRecovered, this,
            [this] { m_write(QStringLiteral("log written again")); });
}

void LineJournal::onOpened()
{
    const BoardLink& link = m_session.link();
    m_write((link.reopenCount() == 0 ? QStringLiteral("opened ") : QStringLiteral("reopened ")) +
            link.deviceName());
}

void LineJournal::onProblem(const QString& problem)
{
    if (problem.isEmpty()) {
        if (m_hadProblem)
            m_write(QStringLiteral("line working again"));
        m_hadProblem = false;
        return;
    }
    m_hadProblem = true;
    const BoardLink& link = m_session.link();
    if (link.silentFor().count() > 0 && !silenceWorthTelling(link.silentFor(), link.silenceLimit()))
        return;
    m_write(problem);
}

} // namespace kelvaro
