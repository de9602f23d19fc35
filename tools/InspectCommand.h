#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace Orvane {
namespace CASC {

/// What the read-side commands (tables, config, index) share: "FILE [--json] [--limit N]",
/// reading the file, printing JSON and failing with casc-tool's exit statuses.
class InspectCommand
{
public:
    struct Arguments
    {
        QString m_File;
        bool m_Json = false;
        qint64 m_Limit = -1; ///< -1: no limit
    };

    /// Parses the arguments and reads the file. 0, or the exit status after a message on p_Err.
    static int Prepare(const QString& p_Command, const QStringList& p_Args, bool p_TakesLimit, Arguments& p_Parsed,
                       QByteArray& p_Bytes, QTextStream& p_Err);
    static int Fail(QTextStream& p_Err, int p_Status, const QString& p_Message);
    static void PrintJson(const QJsonObject& p_Document, QTextStream& p_Out);
};

} // namespace CASC
} // namespace Orvane
