#pragma once
// Cases that need an ordinary user: root writes into read-only folders and opens devices
// without access rights, so those cases prove nothing as root, which is how CI runs. As
// root, the test executable starts itself again as "nobody" (setpriv, from util-linux)
// for the current test function and data row only, and takes over the child's outcome.

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kelvaro::test {

inline bool runsAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

// Runs the current test function (and data row) as nobody; empty when it passed there,
// otherwise what went wrong with the child's output.
inline QString runCurrentTestAsNobody()
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        return QStringLiteral("setpriv (util-linux) is needed to run this case as nobody");
    QString selector = QString::fromLatin1(QTest::currentTestFunction());
    if (const char* tag = QTest::currentDataTag(); tag && *tag)
        selector += QLatin1Char(':') + QString::fromLatin1(tag);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's, not nobody's
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(QStringLiteral("/tmp"));
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                          QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                          selector});
    if (!child.waitForFinished(60000))
        return QStringLiteral("the unprivileged run did not finish: %1").arg(child.errorString());
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("failed as nobody:\n%1").arg(output);
    if (output.contains(QStringLiteral("SKIP   :")) || !output.contains(QStringLiteral("PASS   :")))
        return QStringLiteral("did not run as nobody:\n%1").arg(output);
    return {};
}

} // namespace kelvaro::test

// At the top of a test function that must not run as root: as root, runs it as nobody
// instead and returns with that outcome. Where this build's programs run under qemu-user
// (KELVARO_TEST_NO_CHILD_PROCESSES set, the arm64 tests), no child process can be
// started (Qt starts them with clone(CLONE_PIDFD), which qemu-user refuses): skipped.
#define KELVARO_RUN_UNPRIVILEGED()                                                                 \
    do {                                                                                           \
        if (kelvaro::test::runsAsRoot() &&                                                         \
            qEnvironmentVariableIsSet("KELVARO_TEST_NO_CHILD_PROCESSES"))                          \
            QSKIP("cannot run as nobody: no child processes under qemu-user");                     \
        if (kelvaro::test::runsAsRoot()) {                                                         \
            const QString kelvaroFailure = kelvaro::test::runCurrentTestAsNobody();                \
            if (!kelvaroFailure.isEmpty())                                                         \
                QFAIL(qPrintable(kelvaroFailure));                                                 \
            return;                                                                                \
        }                                                                                          \
    } while (false)
