#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

/// One finished run of a program in a test: its exit status and what it wrote. A crash, a hang
/// (killed after the time-out) or a program that does not start fails the running test function
/// at once, whatever the caller goes on to check: the exit code of a crashed process is whatever
/// it last held and must never pass for an answer. Code is then -1.
class ToolRun
{
public:
    int Code = -1;
    QByteArray Out;
    QByteArray Err;

    // UTF-8 on every system; lines end in CRLF in Windows' text mode.
    QString OutText() const { return QString::fromUtf8(Out).replace("\r\n", "\n"); }
    QString ErrText() const { return QString::fromUtf8(Err).replace("\r\n", "\n"); }
    /// "exit N", then stdout and stderr: for the message of a failed check.
    QByteArray Describe() const;

    /// Runs p_Program to its end.
    static ToolRun Run(const QString& p_Program, const QStringList& p_Arguments, int p_TimeoutMs = 60000);
    /// Starts p_Process (set up by the caller: environment, folder, channels) and runs it to its end.
    static ToolRun Run(QProcess& p_Process, const QString& p_Program, const QStringList& p_Arguments,
                       int p_TimeoutMs = 60000);
    /// Waits for a process the caller started (and perhaps signalled) to end.
    static ToolRun Wait(QProcess& p_Process, int p_TimeoutMs = 60000);
};
