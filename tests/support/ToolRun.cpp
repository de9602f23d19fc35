#include "support/ToolRun.h"

#include <QtTest>

QByteArray ToolRun::Describe() const
{
    return "exit " + QByteArray::number(Code) + "\n" + Out + "\n" + Err;
}

ToolRun ToolRun::Run(const QString& p_Program, const QStringList& p_Arguments, int p_TimeoutMs)
{
    QProcess l_Process;
    return Run(l_Process, p_Program, p_Arguments, p_TimeoutMs);
}

ToolRun ToolRun::Run(QProcess& p_Process, const QString& p_Program, const QStringList& p_Arguments, int p_TimeoutMs)
{
    p_Process.start(p_Program, p_Arguments);
    return Wait(p_Process, p_TimeoutMs);
}

ToolRun ToolRun::Wait(QProcess& p_Process, int p_TimeoutMs)
{
    ToolRun l_Run;
    const QString l_Name = p_Process.program() + " " + p_Process.arguments().join(' ');
    QString l_Failure;
    if (p_Process.state() == QProcess::NotRunning && p_Process.error() == QProcess::FailedToStart)
        l_Failure = "did not start: " + p_Process.errorString();
    else if (!p_Process.waitForFinished(p_TimeoutMs) && p_Process.state() != QProcess::NotRunning)
    {
        l_Failure = "did not end within " + QString::number(p_TimeoutMs) + " ms";
        p_Process.kill();
        p_Process.waitForFinished(10000);
    }
    else if (p_Process.exitStatus() != QProcess::NormalExit)
        l_Failure = "crashed (" + p_Process.errorString() + ")";
    else
        l_Run.Code = p_Process.exitCode();
    l_Run.Out = p_Process.readAllStandardOutput();
    l_Run.Err = p_Process.readAllStandardError();
    if (!l_Failure.isEmpty())
    {
        const QByteArray l_Message = (l_Name + " " + l_Failure + "\n").toUtf8() + l_Run.Err.right(2000);
        QTest::qFail(l_Message.constData(), __FILE__, __LINE__);
    }
    return l_Run;
}
