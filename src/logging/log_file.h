#pragma once
// Internal to the logger: the POSIX append step, apart from opening, so tests can drive
// it with descriptors that fail (a full device, a file-size limit).

#include <QByteArrayView>
#include <QtGlobal>

#ifdef Q_OS_UNIX

namespace kelvaro::logfile {

struct AppendOutcome
{
    int error = 0;            // errno of the failed write; 0 when every byte was written
    bool partialLeft = false; // some bytes were written and could not be cut off again
};

// Writes all of `bytes` to `fd` (opened with O_APPEND), retrying partial writes and
// EINTR. When a write fails after part of the bytes went out (a disk that fills up
// midway), the file is truncated to its size before the call, so the next line does not
// get glued to a fragment of this one.
AppendOutcome appendAll(int fd, QByteArrayView bytes);

} // namespace kelvaro::logfile

#endif
