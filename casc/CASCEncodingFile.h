#pragma once
#include "casc/CASCEncodingMap.h"

#include <QByteArray>

#include <atomic>
#include <functional>

namespace Orvane {
namespace CASC {

/// Reads a decoded encoding file into the encoding map. Every read is bounded by the data:
/// a short file, a page that runs past the file or an entry that runs past its page fails
/// the parse, and the map is then left as it was.
class CASCEncodingFile
{
public:
    /// Called with the number of entries read so far, at most once per ProgressIntervalMs.
    using Progress = std::function<void(quint32 p_Entries)>;

    /// p_CallOff, when given, is read once per page: set, the parse fails at the next page.
    static bool Parse(const QByteArray& p_Data, CASCEncodingMap& p_Map, const Progress& p_Progress = Progress(),
                      const std::atomic<bool>* p_CallOff = nullptr);

    static constexpr qint64 PageSize = 4096;
    static constexpr qint64 HeaderSize = 22;
    static constexpr qint64 ProgressIntervalMs = 250;
};

} // namespace CASC
} // namespace Orvane
