#pragma once
// A LinkHandler for tests, fuzzers and benchmarks: records everything the exchange tells
// its owner, and can pass the answers on (to a port, to a simulated board).

#include "link/link_protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace kelvaro::testing {

class RecordingHandler : public LinkHandler
{
public:
    RecordingHandler() = default;
    explicit RecordingHandler(std::function<void(QByteArrayView)> forward)
        : m_forward(std::move(forward))
    {
    }

    void writeToBoard(QByteArrayView bytes) override
    {
        writes.append(bytes.toByteArray());
        sent += bytes.toByteArray();
        if (m_forward)
            m_forward(bytes);
    }
    void imageRebuilt() override { ++blocksReceived; }
    void Update_Inputs() override { ++updateInputsCalls; }
    void setLinkStatus(const QString& text) override { status = text; }

    QList<QByteArray> writes; // one entry per writeToBoard call
    QByteArray sent;          // everything written, in order
    int blocksReceived = 0;
    int updateInputsCalls = 0;
    QString status;

private:
    std::function<void(QByteArrayView)> m_forward;
};

} // namespace kelvaro::testing
