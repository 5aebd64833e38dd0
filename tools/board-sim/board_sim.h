#pragma once
// The running simulator: the model ticking in real time, the board's exchange on a
// pseudo-terminal behind a comN link, and the commands read from stdin.

#include "board_exchange.h"
#include "pty_port.h"
#include "sim_command.h"
#include "thermostat_model.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace kelvaro::boardsim {

struct SimOptions
{
    QString folder = QStringLiteral(".");
    int port = 1;
    int pollMs = 250;           // 0: poll again as soon as an exchange is over
    int answerTimeoutMs = 1000; // for the answer to a poll and for the frame after "S"
    int baud = 9600;            // 0: unpaced
    double startCelsius = 19.5;
    double timeScale = 1.0; // simulated seconds per real second
    // The stdin faults, armed from the start.
    bool stopBlock = false;
    bool garbage = false;
    bool ignoreWrite = false;
    bool silent = false;
};

class BoardSim : public QObject, private BoardOutput
{
    Q_OBJECT

public:
    explicit BoardSim(const SimOptions& options, QObject* parent = nullptr);
    ~BoardSim() override;

    // Opens the port, makes the link, prints the "port N is" line and starts polling.
    // Returns an error text, empty on success.
    QString start();
    // Prints the stats line, removes the link and closes the port.
    void finish();
    void runCommand(const SimCommand& command);

Q_SIGNALS:
    void quitRequested();

private:
    void sendToProgram(QByteArrayView bytes) override;
    QString openPort();
    void closePort();
    void armPoll();
    void pollNow();
    void received(const QByteArray& bytes);
    void answerOverdue();
    void exchangeEnded();
    void sendGarbageIfIdle();
    void advanceModel();
    void readStdin();
    void say(const QString& line);
    void complain(const QString& line);
    QString linkPath() const;

    SimOptions m_options;
    ThermostatModel m_model;
    BoardExchange m_exchange{m_model, *this};
    PtyPort m_port;
    QString m_linkTarget; // the slave path our link was last pointed at
    QTimer m_pollTimer;
    QTimer m_answerTimer;
    QTimer m_modelTimer;
    QElapsedTimer m_modelClock;
    bool m_silent = false;
    bool m_garbagePending = false;
    bool m_pollWhenDrained = false;
    bool m_started = false;
    bool m_finished = false;
    QSocketNotifier* m_stdinNotifier = nullptr;
    QByteArray m_stdinBuffer;
};

} // namespace kelvaro::boardsim
