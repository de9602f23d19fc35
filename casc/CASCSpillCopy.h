#pragma once
#include "casc/CASCSlotCheck.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace Orvane {
namespace CASC {

class CASCEncodingMap;

/// Puts a blob that went through the spill file into its slot: its entry header and the blob in
/// pieces that look at the stop between them, then the slot checked where it now lies, as the
/// scan will check it. Runs on the thread pool with handles of its own on both files (the
/// manager's thread may write other slots of the archive meanwhile).
class CASCSpillCopy
{
public:
    enum class Outcome : quint8 { Whole, Stopped, Failed, Refused };
    struct Job
    {
        QString _Archive;
        QString _Spill;
        QByteArray _Header;   ///< the slot's 30-byte entry header
        QByteArray _IndexKey; ///< the blob's key as the slot check reads it
        quint32 _Offset = 0;  ///< of the slot in the archive
        quint32 _Size = 0;    ///< of the blob
    };
    struct Result
    {
        Outcome _Outcome = Outcome::Whole;
        QString _Message;     ///< why it failed
        CASCSlotCheck::Verdict _Verdict = CASCSlotCheck::Verdict::Whole; ///< why it was refused
    };

    /// Pieces of this size: a stop waits for one at most.
    static constexpr qint64 Piece = 4 * 1024 * 1024;

    /// Blocking; p_Map is read only.
    static Result Run(const Job& p_Job, const CASCEncodingMap& p_Map, const std::function<bool()>& p_Stop);
};

} // namespace CASC
} // namespace Orvane
