#pragma once
#include "launcher/Application.h"

#include <QJsonObject>
#include <QPluginLoader>
#include <QString>

namespace Orvane {
namespace Host {

/// Loads an application module the way the launcher does: metadata first, the
/// object only from a file that declares the launcher's interface.
class ApplicationLoader
{
public:
    static const char* const InterfaceId; ///< "Orvane.Application"

    explicit ApplicationLoader(const QString& p_Path);

    /// Reads the metadata without running the module's code. False with a reason
    /// when the file is missing, not a plugin, or declares another interface.
    bool Check(QString* p_Error);
    /// The module's object as an Application (null with a reason on failure).
    Launcher::Application* Load(QString* p_Error);

    QJsonObject MetaData() const { return m_MetaData; }
    QString Path() const { return m_Path; }

private:
    QString m_Path;
    QPluginLoader m_Loader;
    QJsonObject m_MetaData;
};

} // namespace Host
} // namespace Orvane
