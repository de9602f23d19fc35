#include "host/ContentStoreState.h"

#include <QDir>
#include <QFile>

namespace Orvane {
namespace Host {

bool ContentStoreState::Present(const QString& p_Folder)
{
    if (p_Folder.isEmpty())
        return false;
    return !QDir(p_Folder + "/data/data").entryList({"*.idx"}, QDir::Files).isEmpty();
}

int ContentStoreState::SlotsToFetch(const QString& p_Folder)
{
    QFile l_List(p_Folder + "/ToDownloadCASC.db");
    if (p_Folder.isEmpty() || !l_List.open(QIODevice::ReadOnly))
        return -1;
    int l_Slots = 0;
    while (!l_List.atEnd())
        if (!l_List.readLine().trimmed().isEmpty())
            ++l_Slots;
    return l_Slots;
}

} // namespace Host
} // namespace Orvane
