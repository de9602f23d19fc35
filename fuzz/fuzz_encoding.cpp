// The decoded encoding file comes from the CDN: any bytes must parse or be refused without
// reading past the data, and a refused file must leave the map as it was.
#include "casc/CASCEncodingFile.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <climits>
#include <cstdint>
#include <cstdlib>

using namespace Orvane::CASC;

static void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    if (p_Size > size_t(INT_MAX))
        return 0;
    static const bool s_Quiet = [] {
        qInstallMessageHandler(Quiet);
        // Lines nobody reads are not formatted either.
        QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
        return true;
    }();
    Q_UNUSED(s_Quiet);
    const QByteArray l_Bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(p_Data), int(p_Size));
    CASCEncodingMap l_Map;
    char l_Key[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    CASCEncodingRecord l_Known = CASCEncodingRecord::ForKey(l_Key);
    l_Map.Merge({l_Known});
    if (!CASCEncodingFile::Parse(l_Bytes, l_Map) && l_Map.Size() != 1)
        std::abort();
    if (l_Map.Size() < 1 || !l_Map.Find(l_Key))
        std::abort();
    return 0;
}
