#pragma once
#include "casc/CASCConfigRecords.h"

#include <QByteArray>
#include <QObject>

#include <functional>

class QNetworkAccessManager;

namespace Orvane {
namespace CASC {

class CASCApplication;

/// Fetches and parses the CDN and build configuration of the build the region's version
/// entry names. Lives on the thread that calls Init; the owner deletes it.
class CASCVersion : public QObject
{
    Q_OBJECT

public:
    explicit CASCVersion(CASCApplication* p_Owner);
    ~CASCVersion() override;

    /// Fetches the CDN configuration, then the build configuration; InitComplete or an
    /// error raised on the owner.
    void Init();

    const CASCCDNConfig& GetCDNConfig() const { return m_CDNConfig; }
    const CASCBuildConfig& GetBuildConfig() const { return m_BuildConfig; }
    /// The encoding file's encoding key: the last value of "encoding = ", empty without one.
    const QString& GetEncodingKey() const;

    /// http://HOST/PATH/config/K[0..2]/K[2..4]/K
    static QString ConfigUrl(const QString& p_Host, const QString& p_Path, const QString& p_Key);

    /// Stops every callback of a fetch still running: nothing is parsed, emitted or raised
    /// after this. The owner calls it before it lets go of this object.
    void Retire();

signals:
    void InitComplete();

private:
    void GetContent(const QString& p_Url, std::function<void(QString, QByteArray)> p_OnSuccess,
                    std::function<void(int)> p_OnError);
    void ParseCDNConfig(const QString& p_Text);
    void ParseBuildConfig(const QString& p_Text);

    CASCApplication* m_Owner;                          // set once; the owner outlives it
    QNetworkAccessManager* m_NetworkManager = nullptr; // Init's thread; replaced by each Init
    CASCCDNConfig m_CDNConfig;                         // Init's thread
    CASCBuildConfig m_BuildConfig;                     // Init's thread
    quint64 m_Generation = 0;                          // Init's thread; callbacks of older fetches bail out
    bool m_Retired = false;                            // Init's thread
};

} // namespace CASC
} // namespace Orvane
