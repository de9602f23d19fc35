#include "launcher/LauncherLocale.h"

namespace Orvane {
namespace Launcher {

namespace {
LauncherLocale Row(int32_t p_Locale, const char* p_English, const char* p_Native, const char* p_Tag,
                   QLocale::Language p_Language)
{
    LauncherLocale l_Row;
    l_Row._Locale = p_Locale;
    l_Row._EnglishName = QString::fromUtf8(p_English);
    l_Row._NativeName = QString::fromUtf8(p_Native);
    if (p_Tag[0])
        l_Row._TranslationFile = QStringLiteral("Locales/locale_") + QString::fromLatin1(p_Tag) + QStringLiteral(".qm");
    l_Row._Tag = QString::fromLatin1(p_Tag);
    l_Row._QLocale = QLocale(p_Language, QLocale::AnyCountry);
    return l_Row;
}
} // namespace

// Row 4 starts with a Latin capital P followed by Cyrillic letters, as the launcher has always shown it.
const LauncherLocale g_LauncherLocales[LauncherLocaleCount] = {
    Row(English, "English", "English", "enUS", QLocale::English),
    Row(French, "French", "Fran\xc3\xa7" "ais", "frFR", QLocale::French),
    Row(0, "", "", "", QLocale::English),
    Row(Spanish, "Spanish", "Espa\xc3\xb1ol", "esES", QLocale::Spanish),
    Row(Russian, "Russian", "P\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9", "ruRU", QLocale::Russian),
    Row(0, "", "", "", QLocale::English),
    Row(0, "", "", "", QLocale::English),
    Row(Portuguese, "Portuguese", "Portugu\xc3\xaas", "ptBR", QLocale::Portuguese),
    Row(0, "", "", "", QLocale::English),
};

const LauncherLocale& LauncherLocaleByTag(const QString& p_Tag)
{
    for (const LauncherLocale& l_Row : g_LauncherLocales)
        if (!l_Row._Tag.isEmpty() && l_Row._Tag == p_Tag)
            return l_Row;
    return g_LauncherLocales[0];
}

} // namespace Launcher
} // namespace Orvane
