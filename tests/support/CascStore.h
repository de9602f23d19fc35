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

    QString Root() const { return m_Dir.path(); }
    QString Install() const { return m_Dir.path() + "/install/"; }
    QString CdnDocRoot() const { return m_Dir.path() + "/cdn"; }
    const QJsonObject& Summary() const { return m_Summary; }
    QJsonArray Blobs() const { return m_Summary["blobs"].toArray(); }
    QString Config(const char* p_Which) const { return m_Summary["configs"].toObject()[p_Which].toString(); }
    /// CDN archive names, data archives first, and whether each is a patch archive.
    QStringList Archives(bool p_Patch) const;
    QString Error() const { return m_Error; }

    static QByteArray Read(const QString& p_Path);
    static bool Write(const QString& p_Path, const QByteArray& p_Bytes);

private:
    QTemporaryDir m_Dir;
    QJsonObject m_Summary;
    QString m_Error;
};
