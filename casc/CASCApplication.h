#pragma once
#include "casc/CASCErrors.h"
#include "casc/CASCTableEntries.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QNetworkAccessManager;

namespace Orvane {
namespace CASC {

class CASCArchivesManager;
class CASCBaseVerifier;
class CASCIndexManager;
class CASCVersion;

/// The root of the content store: owns its workers, knows the installation, the CDN and the
/// region tables, and is the one way out for every content-store error (OnError). Lives on
/// the thread that calls Init; every worker reports on that thread.
class CASCApplication : public QObject
{
    Q_OBJECT

public:
    /// p_Product 0: the region tables live under "wow/" below p_CdnUrl.
    CASCApplication(int p_Product, QString p_InstallFolder, QString p_CdnUrl);
    ~CASCApplication() override;

    /// Fetches the "cdns" and "versions" tables, then the configuration of p_Region's build.
    void Init(int p_Region);

    /// Emits OnError; every worker reports its failures here.
    void RaiseError(Errors::Type p_Type, QString p_Message);

    CASCArchivesManager* GetArchivesManager() const { return m_ArchivesManager; }
    CASCBaseVerifier* GetBaseVerifier() const { return m_BaseVerifier; }
    CASCIndexManager* GetIndexManager() const { return m_IndexManager; }
    /// Null until the versions table has been read.
    CASCVersion* GetVersion() const { return m_Version; }
    int GetRegion() const { return m_Region; }
    QString GetInstallFolder() const { return m_InstallFolder; }
    QString GetCdnUrl() const { return m_CdnUrl; }

    /// One entry of the region drawn with rand(); null when the region has none.
    const CASCCdnEntry* GetRandomCDN(int p_Region) const;
    /// The region's entry, or a shared empty one.
    const CASCVersionEntry& GetVersionInfo(int p_Region) const;

    const CASCCdnTable& GetCdnTable() const { return m_CdnTable; }
    const CASCVersionTable& GetVersionTable() const { return m_VersionTable; }

signals:
    void OnError(Orvane::CASC::Errors::Type p_ErrorType, QString p_Message);
    void InitComplete();

private:
    void GetContent(const QString& p_Url, std::function<void(QString, QByteArray)> p_OnSuccess,
                    std::function<void(int)> p_OnFailure);
    void RetireVersion();

    const int m_Product;                      // set once
    const QString m_InstallFolder;            // set once; "/" separators, ends with "/"
    const QString m_CdnUrl;                   // set once; ends with "/"
    CASCVersionTable m_VersionTable;          // Init's thread
    CASCCdnTable m_CdnTable;                  // Init's thread
    int m_Region = 1;                         // Init's thread
    CASCVersion* m_Version = nullptr;         // Init's thread; owned
    QList<QPointer<CASCVersion>> m_Retired;   // Init's thread; earlier versions awaiting deletion
    CASCBaseVerifier* m_BaseVerifier;         // owned; created by the constructor
    CASCIndexManager* m_IndexManager;         // owned; created by the constructor
    CASCArchivesManager* m_ArchivesManager;   // owned; created by the constructor
    QNetworkAccessManager* m_NetworkManager = nullptr; // Init's thread; replaced by each Init
    quint64 m_Generation = 0;                 // Init's thread; callbacks of an earlier Init bail out
};

} // namespace CASC
} // namespace Orvane
