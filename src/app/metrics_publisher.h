#pragma once
// Keeps the recorder's metrics file current: rewritten after every complete block and at
// every change of the line's state (so an unplugged or silent board shows at once, not
// only at the next block), and once more when the recorder stops. A failed write is told
// once until a write succeeds again.

#include <QObject>
#include <QString>
#include <functional>

namespace kelvaro {

class BoardSession;

class MetricsPublisher : public QObject
{
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& line)>;
    MetricsPublisher(BoardSession& session, QString path, Writer tell, QObject* parent = nullptr);

    // Writes the file from the session's present state.
    void publish();

private:
    BoardSession& m_session;
    QString m_path;
    Writer m_tell;
    bool m_failing = false;
};

} // namespace kelvaro
