#pragma once
// The object as the closed launcher was compiled to read it: declared from the interface alone, in its order
// and with its types, never from Application's own declaration, so that a member moved there shows here.
#include "launcher/LauncherLocale.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include "platform/QtCompat.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>

class QNetworkAccessManager;
class QNetworkReply;

namespace Orvane {
namespace Test {

/// The status record, field by field.
struct HostStatusView
{
    int32_t ApplicationState;
    int32_t DownloadStatus;
    bool Busy;
    int32_t Percent;
    int64_t Done;
    int64_t Total;
    int64_t Speed;
    QString Detail;
    int32_t DetailValue;
    bool DetailVisible;
    QString Message;
};

/// Everything the host reads, after QObject's own words.
struct HostView : QObject
{
    using RequestTable = std::map<QNetworkReply*, void*>;
    using TaskQueue = std::deque<std::function<void()>>;

    void (*ShowMessageBox)(QString, bool);
    QVariant (*GetLocalSetting)(QString, QVariant);
    void (*SetLocalSetting)(QString, QVariant);
    QStringList (*GetLocalSettingKeys)();
    void (*RemoveLocalSetting)(QString);
    Launcher::LauncherLocale (*GetLauncherLocale)();
    bool (*IsDownloadLocked)();
    void (*LockDownload)();
    void (*UnlockDownload)();
    bool (*IsLauncherRunning)();
    bool (*IsDevChannel)();
    void* HostWords[5];

    bool StateChanged;
    QString Name;
    QString FolderName;
    QString InstallationPath;

    QNetworkAccessManager* NetworkManager;

    RequestTable UnusedRequests;
    QMutex UnusedRequestsMutex{QMutex::Recursive};
    RequestTable ContentRequests;
    QMutex ContentRequestsMutex{QMutex::Recursive};
    RequestTable ContentSizeRequests;
    QMutex ContentSizeRequestsMutex{QMutex::Recursive};

    TaskQueue MainTasks;
    QMutex MainTasksMutex;
    TaskQueue WorkerTasks;
    QMutex WorkerTasksMutex;
    TaskQueue HostTasks;
    QMutex HostTasksMutex;
    int64_t HostNumber;
    QMutex HostMutex{QMutex::Recursive};

    HostStatusView Status;

    int64_t SpeedSamples[20];
    int SpeedSampleIndex;
    Compat::ElapsedTimer SpeedTimer; ///< a QTime on the launcher's Qt 5.12, which the header picks there
};

} // namespace Test
} // namespace Orvane
