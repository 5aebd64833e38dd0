#pragma once
// What an unattended recorder tells its journal: one plain line for each change of the
// line's state (opened, device removed and retried, board silent, reopened, answers dropped
// because the line takes nothing and taken again) and of the log
// writing (failed and why, written again). Silence is told when it begins and then at
// each doubling of its length, so a board that is off for a week does not flood the
// journal.

#include <QObject>
#include <QString>
#include <functional>

namespace kelvaro {

class BoardSession;

class LineJournal : public QObject
{
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& line)>;
    LineJournal(BoardSession& session, Writer write, QObject* parent = nullptr);

private:
    void onOpened();
    void onProblem(const QString& problem);

    BoardSession& m_session;
    Writer m_write;
    bool m_hadProblem = false;
};

} // namespace kelvaro
