#include "WarningLog.h"

WarningLog* WarningLog::s_Current = nullptr;

WarningLog::WarningLog()
{
    s_Current = this;
    m_Previous = qInstallMessageHandler(&WarningLog::Handler);
}

WarningLog::~WarningLog()
{
    qInstallMessageHandler(m_Previous);
    s_Current = nullptr;
}

void WarningLog::Handler(QtMsgType p_Type, const QMessageLogContext& p_Context, const QString& p_Message)
{
    WarningLog* l_Log = s_Current;
    if (!l_Log)
        return;
    if (p_Type == QtWarningMsg)
    {
        {
            QMutexLocker l_Lock(&l_Log->m_Mutex);
            l_Log->m_Lines.append(p_Message);
        }
        if (l_Log->OnLine)
            l_Log->OnLine(p_Message);
        if (l_Log->Silence && l_Log->Silence(p_Message))
            return;
    }
    if (l_Log->m_Previous)
        l_Log->m_Previous(p_Type, p_Context, p_Message);
}

QStringList WarningLog::Lines() const
{
    QMutexLocker l_Lock(&m_Mutex);
    return m_Lines;
}

QStringList WarningLog::Starting(const QString& p_Prefix) const
{
    QStringList l_Found;
    for (const QString& l_Line : Lines())
        if (l_Line.startsWith(p_Prefix))
            l_Found.append(l_Line);
    return l_Found;
}
