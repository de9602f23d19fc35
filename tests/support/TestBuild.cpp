#include "TestBuild.h"
#include "TestHttpServer.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

TestBuild::File& TestBuild::Add(const QString& p_Path, const QByteArray& p_Bytes, int p_Flags,
                                const QString& p_Locale, bool p_Streamed)
{
    File l_File;
    l_File.Path = p_Path;
    l_File.Bytes = p_Bytes;
    l_File.Flags = p_Flags;
    l_File.Locale = p_Locale;
    l_File.Streamed = p_Streamed;
    Files.append(l_File);
    return Files.last();
}

QString TestBuild::Md5Of(const QByteArray& p_Bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(p_Bytes, QCryptographicHash::Md5).toHex().toUpper());
}

QString TestBuild::ServerUrl(const TestHttpServer& p_Server)
{
    return p_Server.BaseUrl() + "srv/";
}

QString TestBuild::ServedPath(const File& p_File)
{
    QString l_Location = p_File.Location.isEmpty() ? "files/" + p_File.Path : p_File.Location;
    return ((p_File.Flags & 0x40) ? "/srv/wow_bfa/" : "/wow_bfa/") + l_Location;
}

QString TestBuild::LocationOf(const File& p_File) const
{
    return p_File.Location.isEmpty() ? "files/" + p_File.Path : p_File.Location;
}

QByteArray TestBuild::ManifestJson() const
{
    QJsonObject l_Root;
    l_Root["build_id"] = Build;
    l_Root["build_str"] = BuildStr;
    l_Root["build_number"] = 30993;
    QJsonArray l_Locales;
    for (const auto& l_Locale : Locales)
        l_Locales.append(QJsonObject{{"tag", l_Locale.first}, {"name", l_Locale.second}});
    l_Root["available_locales"] = l_Locales;
    QJsonArray l_Base, l_Streamed;
    for (const File& l_File : Files)
    {
        QJsonObject l_Object{{"location", LocationOf(l_File)},
                             {"path", l_File.Path},
                             {"md5", l_File.Md5.isEmpty() ? Md5Of(l_File.Bytes) : l_File.Md5},
                             {"flags", l_File.Flags},
                             {"locale", l_File.Locale}};
        (l_File.Streamed ? l_Streamed : l_Base).append(l_Object);
    }
    l_Root["content"] = QJsonObject{{"base_win", l_Base}};
    l_Root["streamed_content"] = l_Streamed;
    return QJsonDocument(l_Root).toJson();
}

void TestBuild::Publish(TestHttpServer& p_Server) const
{
    const QByteArray l_Version = QJsonDocument(QJsonObject{{"build", Build}}).toJson();
    p_Server.SetResource("/srv/wow_bfa/version.json", l_Version);
    p_Server.SetResource("/srv/wow_bfa/version_dev.json", l_Version);
    p_Server.SetResource("/srv/wow_bfa/builds/" + Build + "/info.json", ManifestJson());
    p_Server.SetResource("/srv/cdns.info", QString("127.0.0.1:%1\n").arg(p_Server.Port()).toUtf8());
    for (const File& l_File : Files)
        p_Server.SetResource(ServedPath(l_File), l_File.Bytes);
}
