#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A content store forged in process into a temporary folder, with its summary.
class CascStore
{
public:
    /// Forges with `casc-tool forge` options; false (and Error()) when the forge refused.
    bool Forge(const QStringList& p_Args);
    /// Takes a store forged elsewhere.
    bool Open(const QString& p_Root);

    QString Root() const { return m_Root; }
    QString Install() const { return m_Root + "/install/"; }
    QString CdnDocRoot() const { return m_Root + "/cdn"; }
    const QJsonObject& Summary() const { return m_Summary; }
    QJsonArray Blobs() const { return m_Summary["blobs"].toArray(); }
    QString Config(const char* p_Which) const { return m_Summary["configs"].toObject()[p_Which].toString(); }
    /// Where its CDN serves a keyed file (p_Kind: config, data or patch).
    QString CdnPath(const QString& p_Kind, const QString& p_Key) const;
    /// The served file's bytes as forged.
    QByteArray Served(const QString& p_Kind, const QString& p_Key) const;
    /// CDN archive names, data archives first, and whether each is a patch archive.
    QStringList Archives(bool p_Patch) const;
    QString Error() const { return m_Error; }

private:
    QTemporaryDir m_Dir;
    QString m_Root = m_Dir.path();
    QJsonObject m_Summary;
    QString m_Error;
};
