#include "TestBuild.h"
#include "TestHttpServer.h"

#include "platform/Md5.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace {
QString LocationOf(const TestBuild::File& p_File)
{
    return p_File.Location.isEmpty() ? "files/" + p_File.Path : p_File.Location;
}
} // namespace

TestBuild::File& TestBuild::Add(const QString& p_Path, const QByteArray& p_Bytes, int p_Flags,
                                const QString& p_Locale, bool p_Streamed)
{
    Files.append(File{p_Path, p_Bytes, p_Flags, p_Locale, p_Streamed, QString(), QString()});
    return Files.last();
}

QString TestBuild::Md5Of(const QByteArray& p_Bytes)
{
    return QString::fromLatin1(Orvane::Md5::HexHash(p_Bytes));
}

QString TestBuild::ServerUrl(const TestHttpServer& p_Server)
{
    return p_Server.BaseUrl() + "srv/";
}

QString TestBuild::ServedPath(const File& p_File)
{
    return ((p_File.Flags & 0x40) ? "/srv/wow_bfa/" : "/wow_bfa/") + LocationOf(p_File);
}

QByteArray TestBuild::ManifestJson() const
{
    QJsonArray l_Locales, l_Base, l_Streamed;
    for (const auto& l_Locale : Locales)
        l_Locales.append(QJsonObject{{"tag", l_Locale.first}, {"name", l_Locale.second}});
    for (const File& l_File : Files)
        (l_File.Streamed ? l_Streamed : l_Base)
            .append(QJsonObject{{"location", LocationOf(l_File)},
                                {"path", l_File.Path},
                                {"md5", l_File.Md5.isEmpty() ? Md5Of(l_File.Bytes) : l_File.Md5},
                                {"flags", l_File.Flags},
                                {"locale", l_File.Locale}});
    return QJsonDocument(QJsonObject{{"build_id", Build},
                                     {"build_str", BuildStr},
                                     {"build_number", 30993},
                                     {"available_locales", l_Locales},
                                     {"content", QJsonObject{{"base_win", l_Base}}},
                                     {"streamed_content", l_Streamed}})
        .toJson();
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

QByteArray TestBuild::Pattern(int p_Size, int p_Seed)
{
    QByteArray l_Bytes(p_Size, '\0');
    QRandomGenerator l_Random(static_cast<quint32>(p_Seed));
    for (char& l_Byte : l_Bytes)
        l_Byte = char(l_Random.generate());
    return l_Bytes;
}
