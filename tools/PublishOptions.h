#pragma once
#include "cli/CommandLine.h"
#include "tools/GlobPattern.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

namespace Orvane {
namespace Publish {

/// What one run of orvane-publish was asked to do.
struct PublishOptions
{
    struct FlagRule
    {
        GlobPattern m_Pattern;
        int32_t m_Flags = 0;
        QString m_Option; ///< as written, for messages
    };
    struct LocaleRule
    {
        GlobPattern m_Pattern;
        QString m_Tag;
        QString m_Option;
    };

    QString m_InputDir;
    QString m_OutputDir;
    QString m_BuildId;
    QString m_BuildStr;
    int m_BuildNumber = 0;
    QString m_AppKey = QStringLiteral("wow_bfa");
    std::map<QString, QString> m_Locales; ///< offered locales: tag -> display name
    std::vector<GlobPattern> m_Streamed;
    std::vector<GlobPattern> m_Excluded;
    std::vector<FlagRule> m_FlagRules;
    std::vector<LocaleRule> m_LocaleRules;
    QStringList m_CdnHosts;
    bool m_Dev = false;     ///< also point the development channel at the build
    bool m_DevOnly = false; ///< point only the development channel at the build
    bool m_Quiet = false;
    bool m_NoCdn = false;   ///< empty "cdns.info" on purpose (without --cdn it is kept)
    bool m_Replace = false; ///< a build id already published with other content may be replaced

    enum class ParseResult { Ok, Help, Version, UsageError };
    /// Reads the command line (program name first). On UsageError p_Error says why.
    static ParseResult Parse(const QStringList& p_Arguments, PublishOptions& p_Options, QString& p_Error);
    static QString HelpText();

private:
    static void Define(Tools::CommandLine& p_Line);
};

} // namespace Publish
} // namespace Orvane
