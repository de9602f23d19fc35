#pragma once
#include <QJsonObject>
#include <QString>

namespace Orvane {
namespace Publish {

/// What differs between two download manifests of one build id, in an operator's words.
class ManifestChanges
{
public:
    /// Empty when both describe the same build; otherwise, for example,
    /// "build text 'A' -> 'B'; 1 file changed (Wow.exe: content); 2 added (x, y)".
    static QString Describe(const QJsonObject& p_Old, const QJsonObject& p_New);

    /// Paths named in a message before "and N more".
    static constexpr int Shown = 3;
};

} // namespace Publish
} // namespace Orvane
