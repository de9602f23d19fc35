#pragma once
#include <QMetaType>
#include <QtGlobal>

namespace Orvane {
namespace CASC {

/// The kind of failure the content store reports through CASCApplication::OnError. The host
/// shows "Error " + the kind in decimal + " " + the message, so the values are fixed.
namespace Errors {
enum Type : qint32
{
    NoCdn = 0,        ///< the chosen region has no CDN entry, or no CDN configuration came for it
    LocalStorage = 1, ///< a local file cannot be read, written or holds bad entries
    Network = 2,      ///< an HTTP fetch failed
    EncodingFile = 3, ///< the encoding file cannot be decoded; zeroed keys in an archive index
};
} // namespace Errors

} // namespace CASC
} // namespace Orvane

Q_DECLARE_METATYPE(Orvane::CASC::Errors::Type)
