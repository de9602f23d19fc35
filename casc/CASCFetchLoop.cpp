#include "casc/CASCFetchLoop.h"

#include "casc/CASCHttpGet.h"
#include "casc/CascLog.h"
#include "net/ModuleNetwork.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

namespace Orvane {
namespace CASC {

using Launcher::Transfer;
using Launcher::TransferResult;

CASCFetchLoop::CASCFetchLoop(QObject* p_Parent, Hooks p_Hooks) : QObject(p_Parent), m_Hooks(std::move(p_Hooks)) {}

CASCFetchLoop::~CASCFetchLoop()
{
    Release();
}

void CASCFetchLoop::Renew(bool p_Now)
{
    if (p_Now)
        CASCHttpGet::Release(m_NetworkManager);
    else
        CASCHttpGet::Abandon(m_NetworkManager); // possibly from inside one of its transfers' handlers
    m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    m_NetworkManager->moveToThread(QThread::currentThread());
}

void CASCFetchLoop::Release()
{
    // Nothing of the transfers may reach a half-destroyed owner.
    CASCHttpGet::Release(m_NetworkManager);
    m_NetworkManager = nullptr;
}

bool CASCFetchLoop::Resume()
{
    m_Stopped = false;
    std::function<void()> l_Held = std::move(m_Held);
    m_Held = nullptr;
    if (!l_Held)
        return false;
    l_Held();
    return true;
}

void CASCFetchLoop::Step(std::function<void()> p_Step)
{
    if (m_Stopped)
        m_Held = std::move(p_Step);
    else
        p_Step();
}

Transfer* CASCFetchLoop::NewTransfer()
{
    if (!m_NetworkManager)
        Renew(true);
    // A child of the manager: a new one takes it away with the old.
    auto* l_Transfer = new Transfer(m_NetworkManager, m_NetworkManager);
    // Asked before the request goes out and while it runs: a stop is never lost.
    l_Transfer->SetStopWhen([this] { return m_Stopped.load(); });
    return l_Transfer;
}

void CASCFetchLoop::AskSize(const QString& p_Url, std::function<void(quint64)> p_OnSize, std::function<void()> p_OnFailed)
{
    Transfer* l_Transfer = NewTransfer();
    connect(l_Transfer, &Transfer::Ended, this, [this, l_Transfer, p_Url, p_OnSize, p_OnFailed] {
        l_Transfer->deleteLater();
        const TransferResult& l_Result = l_Transfer->Result();
        if (l_Result.Outcome == TransferResult::Verdict::Stopped)
        {
            // Held, and asked again by the resume.
            Step([this, p_Url, p_OnSize, p_OnFailed] { AskSize(p_Url, p_OnSize, p_OnFailed); });
            return;
        }
        const int l_Status = l_Result.Ending.Status;
        if (l_Status < 200 || l_Status > 299)
        {
            // Every failure is reported, so that nothing waits on a size that cannot come.
            int l_Code = CASCHttpGet::FailureCode(l_Result);
            if (l_Code == 0)
                l_Code = QNetworkReply::ProtocolFailure;
            if (p_OnFailed)
                p_OnFailed();
            m_Hooks._Raise(Errors::Network, CASCHttpGet::ErrorMessage(l_Code, p_Url));
            return;
        }
        p_OnSize(quint64(qMax<qint64>(0, l_Result.FullSize)));
    });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Asked.SizeOnly = true;
    l_Transfer->Start(l_Asked, nullptr);
}

void CASCFetchLoop::Issue(CASCFetchRequest& p_Request, QObject* p_Context, std::function<void(Transfer*)> p_OnEnded,
                          std::function<void(Transfer*, qint64)> p_OnBody)
{
    Transfer* l_Engine = NewTransfer();
    CASCHttpGet::KeepWith(l_Engine, p_Request._Sink);
    p_Request._Engine = l_Engine;
    if (p_OnBody)
        connect(l_Engine, &Transfer::BodyWritten, p_Context, [l_Engine, p_OnBody](qint64 p_Bytes) { p_OnBody(l_Engine, p_Bytes); });
    connect(l_Engine, &Transfer::Ended, p_Context, [l_Engine, p_OnEnded] { p_OnEnded(l_Engine); });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Request._Url;
    if (p_Request._To >= 0)
    {
        l_Asked.From = qint64(p_Request._From);
        l_Asked.To = p_Request._To;
    }
    l_Asked.ExpectedSize = p_Request._Cap;
    l_Engine->Start(l_Asked, p_Request._Sink.get());
}

void CASCFetchLoop::Fetch(const QString& p_Url, const QString& p_Path, quint64 p_From, qint64 p_To, qint64 p_Cap,
                          std::function<void()> p_Completion)
{
    m_File._Url = p_Url;
    m_File._Path = p_Path;
    m_File._From = p_From;
    m_File._To = p_To;
    m_File._Cap = p_Cap;
    m_File._Completion = std::move(p_Completion);
    m_File._Attempts = 0;
    Request();
}

void CASCFetchLoop::Request()
{
    CASCFetchRequest& l_File = m_File;
    l_File._Received = 0;
    l_File._Stopped = false;
    l_File._Failed = false;
    Errors::Type l_Kind = Errors::Network;
    const QString l_Problem = m_Hooks._Prepare ? m_Hooks._Prepare(l_File, &l_Kind) : QString();
    if (!l_Problem.isEmpty())
    {
        // Nothing went out: given up at once, and asked again by the resume.
        l_File._Stopped = true;
        l_File._Failed = true;
        m_Hooks._Raise(l_Kind, l_Problem);
        return;
    }
    Issue(l_File, this, [this](Transfer* p_Engine) { FileEnded(p_Engine); },
          [this](Transfer* p_Engine, qint64 p_Bytes) { FileBody(p_Engine, p_Bytes); });
}

void CASCFetchLoop::FileBody(Transfer* p_Engine, qint64 p_Bytes)
{
    if (!m_File._Engine || p_Engine != m_File._Engine)
        return;
    m_File._Received += p_Bytes;
    m_Done += quint64(p_Bytes);
    if (m_Hooks._Tick)
        m_Hooks._Tick();
}

void CASCFetchLoop::FileEnded(Transfer* p_Engine)
{
    CASCFetchRequest& l_File = m_File;
    Transfer* l_Engine = l_File._Engine;
    if (!l_Engine || p_Engine != l_Engine)
        return;
    l_Engine->deleteLater();
    l_File._Engine = nullptr;
    const TransferResult l_Result = l_Engine->Result();
    if (l_Result.Outcome == TransferResult::Verdict::Stopped)
    {
        // Held until the resume asks it again, unless the resume came first.
        l_File._Stopped = true;
        if (!m_Stopped)
            Restart();
        return;
    }
    const Verdict l_Verdict = m_Hooks._Judge(l_File, l_Result);
    if (l_Verdict._Quiet)
        return;
    if (!l_Verdict._Whole)
        return Fail(l_Verdict);
    if (m_Hooks._Tick)
        m_Hooks._Tick();
    const std::function<void()> l_Completion = l_File._Completion; // it may start the next file
    if (l_Completion)
        l_Completion();
}

void CASCFetchLoop::Fail(const Verdict& p_Verdict)
{
    CASCFetchRequest& l_File = m_File;
    if (Transfer* l_Engine = l_File._Engine)
    {
        // What it still signals belongs to no request.
        l_File._Engine = nullptr;
        l_Engine->disconnect(this);
        l_Engine->deleteLater();
    }
    l_File._Stopped = true;
    l_File._Failed = true;
    Uncount(quint64(l_File._Received));
    l_File._Received = 0;
    if (!p_Verdict._Final && l_File._Attempts + 1 < m_Hooks._MaxAttempts)
    {
        qCWarning(CascLog).noquote() << m_Hooks._Name + "::FailTransfer() asking again: " + p_Verdict._Message;
        ++l_File._Attempts;
        Request();
        return;
    }
    m_Hooks._Raise(p_Verdict._Kind, p_Verdict._Message);
}

void CASCFetchLoop::Restart()
{
    CASCFetchRequest& l_File = m_File;
    if (!l_File._Stopped || l_File._Url.isEmpty() || l_File._Engine)
        return;
    // From the first byte again: the partial bytes leave the count.
    m_Done -= quint64(l_File._Received);
    l_File._Received = 0;
    l_File._Attempts = 0;
    m_Rate.Restart(m_Done);
    if (l_File._Failed && m_Hooks._Refresh)
        m_Hooks._Refresh([this] { Request(); });
    else
        Request();
}

void CASCFetchLoop::StartCount(quint64 p_Total)
{
    m_Total = p_Total;
    m_Done = 0;
    m_Rate.Start(0);
}

void CASCFetchLoop::Uncount(quint64 p_Bytes)
{
    m_Done -= p_Bytes;
    m_Rate.Lower(m_Done);
}

bool CASCFetchLoop::Sample(quint64* p_Speed, int* p_Percent)
{
    if (!m_Rate.Due())
        return false;
    *p_Speed = m_Rate.Sample(m_Done);
    *p_Percent = int(float(m_Done) / float(m_Total == 0 ? 1 : m_Total) * 100.0f);
    return true;
}

} // namespace CASC
} // namespace Orvane
