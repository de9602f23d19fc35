#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// casc-tool's read side, for people debugging a store: "tables" (a "cdns" or "versions" table,
/// rows by region), "config" (a CDN or build configuration, every field) and "index" (an
/// archive index, its entries and count). Each takes "FILE [--json]", index also "--limit N".
class InspectCommand
{
public:
    static bool Handles(const QString& p_Command);
    static QString Usage();
    /// p_Args follow the command's name.
    static int Run(const QString& p_Command, const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err);

private:
    struct Arguments
    {
        QString m_File;
        bool m_Json = false;
        qint64 m_Limit = -1; ///< -1: no limit
    };

    /// Parses the arguments and reads the file. 0, or the exit status after a message on p_Err.
    static int Prepare(const QString& p_Command, const QStringList& p_Args, Arguments& p_Parsed, QByteArray& p_Bytes,
                       QTextStream& p_Err);
    static int Fail(QTextStream& p_Err, int p_Status, const QString& p_Message);
    static void PrintJson(const QJsonObject& p_Document, QTextStream& p_Out);

    // One per command, in InspectCommandTables.cpp, InspectCommandConfig.cpp, InspectCommandIndex.cpp.
    static int Tables(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err);
    static int Config(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err);
    static int Index(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err);
};

} // namespace CASC
} // namespace Orvane
