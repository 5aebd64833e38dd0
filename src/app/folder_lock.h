#pragma once
// One recorder per board folder: a lock (flock) on a file in the folder, held for the
// whole run and released by the kernel however the process ends. Two recorders on one
// folder would interleave two boards' lines in one daily file; the second is refused with
// the holder named, as a port held by another program is.

#include <QString>

namespace kelvaro {

inline const QString FolderLockFileName = QStringLiteral(".kelvaro-recorder.lock");

class FolderLock
{
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class Result
    {
        Locked, // this process holds the folder
        Held,   // another process holds it: holder() names it
        NoLock  // the lock file cannot be made or opened: why() says why
    };
    // Takes the lock on `folder` without waiting, and writes this process's id and
    // `program` into the lock file for whoever is refused next.
    Result lock(const QString& folder, const QString& program);

    // "kelvaro-recorder (process 812)", from the lock file of a refused lock().
    QString holder() const { return m_holder; }
    QString why() const { return m_why; }

private:
    int m_fd = -1;
    QString m_holder;
    QString m_why;
};

} // namespace kelvaro
