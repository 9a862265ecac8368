#pragma once

// Runs the command-line joiner as a user runs it. The including test
// program defines SONAWELD_JOIN_PATH.
#include <QProcess>
#include <QString>
#include <QStringList>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace sonaweld::test {

struct ToolRun
{
    int exitCode = -1; // -2: the program crashed
    QString out;
    QString err;
};

inline ToolRun joinTool(const QStringList &args, const QString &folder = {})
{
    QProcess p;
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(QStringLiteral(SONAWELD_JOIN_PATH), args);
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

#ifndef _WIN32
// Writes past `bytes` fail with EFBIG in the started program, as on a full
// disk, instead of killing it.
inline void limitFileSize(QProcess &p, rlim_t bytes)
{
    p.setChildProcessModifier([bytes] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited{};
        getrlimit(RLIMIT_FSIZE, &limited);
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    });
}
#endif

} // namespace sonaweld::test
