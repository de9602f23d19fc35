#include "host/ApplicationLoader.h"

#include <QFileInfo>

namespace Orvane {
namespace Host {

const char* const ApplicationLoader::InterfaceId = "Orvane.Application";

ApplicationLoader::ApplicationLoader(const QString& p_Path) : m_Path(p_Path), m_Loader(p_Path) {}

bool ApplicationLoader::Check(QString* p_Error)
{
    QFileInfo l_Info(m_Path);
    if (!l_Info.exists())
    {
        *p_Error = "plugin not found: " + m_Path;
        return false;
    }
    if (!l_Info.isFile() || !l_Info.isReadable())
    {
        *p_Error = "cannot read the plugin file " + m_Path;
        return false;
    }
    m_MetaData = m_Loader.metaData();
    if (m_MetaData.isEmpty())
    {
        *p_Error = m_Path + " is not a Qt plugin (no plugin metadata)";
        return false;
    }
    QString l_Iid = m_MetaData.value("IID").toString();
    if (l_Iid != QLatin1String(InterfaceId))
    {
        *p_Error = m_Path + " is not an Orvane application module: its interface is \"" + l_Iid +
                   "\", the launcher needs \"" + InterfaceId + "\"";
        return false;
    }
    return true;
}

Launcher::Application* ApplicationLoader::Load(QString* p_Error)
{
    QObject* l_Object = m_Loader.instance();
    if (!l_Object)
    {
        *p_Error = "cannot load the plugin " + m_Path + ": " + m_Loader.errorString();
        return nullptr;
    }
    // The module carries its own copy of the interface's meta-object, so only the
    // interface id (not qobject_cast) identifies the object.
    void* l_Interface = l_Object->qt_metacast(InterfaceId);
    if (!l_Interface)
    {
        *p_Error = "the plugin " + m_Path + " does not provide an " + InterfaceId + " object";
        return nullptr;
    }
    return static_cast<Launcher::Application*>(l_Interface);
}

} // namespace Host
} // namespace Orvane
