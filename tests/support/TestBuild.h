#pragma once
#include "support/Files.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class TestHttpServer;

/// A game build for tests: its manifest ("info.json"), version document and
/// CDN list, published on a TestHttpServer. The application server lives under
/// "srv/" (ServerUrl), the CDN at the server's root, so a request shows which
/// one was asked.
class TestBuild
{
public:
    struct File
    {
        QString Path;
        QByteArray Bytes;
        int Flags = 0;
        QString Locale;
        bool Streamed = false;
        QString Location; ///< defaults to "files/" + the path
        QString Md5;      ///< defaults to the upper-case digest of Bytes
    };

    QString Build = QStringLiteral("b1");
    QString BuildStr = QStringLiteral("8.3.7 b1");
    QList<QPair<QString, QString>> Locales = {{QStringLiteral("enUS"), QStringLiteral("English")},
                                              {QStringLiteral("frFR"), QStringLiteral("Francais")}};
    QList<File> Files;

    File& Add(const QString& p_Path, const QByteArray& p_Bytes, int p_Flags = 0, const QString& p_Locale = QString(),
              bool p_Streamed = false);

    static QString Md5Of(const QByteArray& p_Bytes);
    static QString ServerUrl(const TestHttpServer& p_Server);
    /// Path on the server the file is fetched from (CDN, or the application server for flag 0x40).
    static QString ServedPath(const File& p_File);

    QByteArray ManifestJson() const;
    /// Version document, manifest, "cdns.info" and every file.
    void Publish(TestHttpServer& p_Server) const;

    // Files on disk for tests.
    /// p_Size bytes that differ with p_Seed.
    static QByteArray Pattern(int p_Size, int p_Seed);
    /// ReadFile and WriteFile under the names the store tests use.
    static QByteArray Read(const QString& p_Path) { return ReadFile(p_Path); }
    static bool Write(const QString& p_Path, const QByteArray& p_Bytes) { return WriteFile(p_Path, p_Bytes); }
};
