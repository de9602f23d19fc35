#include "net/Deployment.h"

#include <algorithm>

#include <QByteArray>
#include <QtGlobal>

namespace Orvane {
namespace Launcher {

QString Deployment::Text(const char* p_Variable, const char* p_Default)
{
    QByteArray l_Value = qgetenv(p_Variable).trimmed();
    return l_Value.isEmpty() ? QString::fromUtf8(p_Default) : QString::fromUtf8(l_Value);
}

qint64 Deployment::Number(const char* p_Variable, qint64 p_Default)
{
    bool l_Ok = false;
    qint64 l_Value = qgetenv(p_Variable).trimmed().toLongLong(&l_Ok);
    return (l_Ok && l_Value > 0) ? l_Value : p_Default;
}

QString Deployment::ServerBaseUrl()
{
    QString l_Url = Text("KESTRUN_SERVER_URL", KESTRUN_SERVER_URL_DEFAULT);
    if (!l_Url.endsWith('/'))
        l_Url += '/';
    return l_Url;
}

QString Deployment::DefaultCdnHost()
{
    return Text("KESTRUN_CDN_HOST", KESTRUN_CDN_HOST_DEFAULT);
}

QString Deployment::NewsImageHost()
{
    return QString::fromUtf8(KESTRUN_NEWS_HOST_DEFAULT);
}

int Deployment::StallTimeoutMs()
{
    return int(Number("KESTRUN_STALL_TIMEOUT_MS", KESTRUN_STALL_TIMEOUT_MS_DEFAULT));
}

qint64 Deployment::ReadBufferBytes()
{
    return Number("KESTRUN_READ_BUFFER_BYTES", KESTRUN_READ_BUFFER_BYTES_DEFAULT);
}

qint64 Deployment::HeldBodyBytes()
{
    return std::max<qint64>(64 * 1024, Number("KESTRUN_HELD_BODY_BYTES", 8 * 1024 * 1024));
}

int Deployment::MaxSelfRestarts()
{
    return int(Number("KESTRUN_MAX_SELF_RESTARTS", KESTRUN_MAX_SELF_RESTARTS_DEFAULT));
}

qint64 Deployment::MaxDocumentBytes()
{
    return Number("KESTRUN_MAX_DOCUMENT_BYTES", KESTRUN_MAX_DOCUMENT_BYTES_DEFAULT);
}

int Deployment::SizeTimeoutMs()
{
    return int(Number("KESTRUN_SIZE_TIMEOUT_MS", KESTRUN_SIZE_TIMEOUT_MS_DEFAULT));
}

bool Deployment::HashWhileWriting()
{
    return qgetenv("KESTRUN_HASH_WHILE_WRITING").trimmed() != "0";
}

bool Deployment::AskAhead()
{
    return qgetenv("KESTRUN_ASK_AHEAD").trimmed() != "0";
}

} // namespace Launcher
} // namespace Orvane
