#pragma once
#include <QLocale>
#include <QString>
#include <cstdint>

namespace Orvane {
namespace Launcher {

enum Locales : int32_t
{
    English    = 0,
    French     = 1,
    Spanish    = 3,
    Russian    = 4,
    Portuguese = 7,
};

struct LauncherLocale
{
    int32_t _Locale = 0;
    QString _EnglishName;
    QString _NativeName;
    QString _TranslationFile;
    QString _Tag;
    QLocale _QLocale;
};

enum { LauncherLocaleCount = 9 };

/// The launcher's locale table, indexed by the Locales value.
extern const LauncherLocale g_LauncherLocales[LauncherLocaleCount];

/// Row of the table whose tag is p_Tag; row 0 (English) when none matches.
const LauncherLocale& LauncherLocaleByTag(const QString& p_Tag);

} // namespace Launcher
} // namespace Orvane
