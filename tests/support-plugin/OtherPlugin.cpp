// A plugin of another launcher interface, which the host must refuse.
#include <QObject>
#include <QtPlugin>

class OtherPlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Orvane.OtherInterface")
};

#include "OtherPlugin.moc"
