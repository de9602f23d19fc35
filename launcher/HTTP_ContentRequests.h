#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

class QNetworkReply;

namespace Orvane {
namespace Launcher {

/// One in-memory content request (HTTP_GetContent).
struct HTTP_GetContentRequest
{
    QString Url;
    std::function<void(QString, QByteArray*)> OnDone;
    QNetworkReply* Reply = nullptr;
    QByteArray Data;
};

/// One content-size request (HTTP_GetContentSize).
struct HTTP_GetContentSizeRequest
{
    QString Url;
    std::function<void(QString, quint64)> OnSize;
    QNetworkReply* Reply = nullptr;
};

} // namespace Launcher
} // namespace Orvane
