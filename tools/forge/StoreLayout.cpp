#include "tools/forge/StoreLayout.h"

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

bool CheckDamage(const ForgeOptions& p_Options, std::vector<ForgeBlob>& p_Blobs, QString& p_Error)
{
    const int l_Count = int(p_Blobs.size());
    for (const int l_Blob : p_Options.m_WrongContent)
        if (l_Blob >= l_Count)
        {
            p_Error = QStringLiteral("blob %1 does not exist (the store has %2 blobs)").arg(l_Blob).arg(l_Count);
            return false;
        }
    for (const auto& l_Pair : p_Options.m_SlotDamage)
    {
        if (l_Pair.first >= l_Count)
        {
            p_Error = QStringLiteral("blob %1 does not exist (the store has %2 blobs)").arg(l_Pair.first).arg(l_Count);
            return false;
        }
        ForgeBlob& l_Blob = p_Blobs[size_t(l_Pair.first)];
        l_Blob.m_Damage = l_Pair.second;
        if (l_Pair.second != SlotDamage::OtherBlob)
            continue;
        int l_Other = p_Options.m_SwapWith.at(l_Pair.first);
        if (l_Other < 0)
            l_Other = (l_Pair.first + 1) % l_Count;
        if (l_Other >= l_Count || l_Other == l_Pair.first)
        {
            p_Error = QStringLiteral("--swap-slot %1 needs another existing blob (the store has %2 blobs)")
                          .arg(l_Pair.first).arg(l_Count);
            return false;
        }
        l_Blob.m_HeldBlob = l_Other;
    }
    return true;
}

} // namespace

bool StoreLayout::Place(const ForgeOptions& p_Options, std::vector<ForgeBlob>& p_Blobs,
                        std::vector<CdnArchiveLayout>& p_Cdn, std::vector<LocalArchiveLayout>& p_Local,
                        QString& p_Error)
{
    if (!CheckDamage(p_Options, p_Blobs, p_Error))
        return false;

    // CDN side: round robin over the data archives, then the patch archives; blobs back to back.
    p_Cdn.assign(size_t(p_Options.m_DataArchives + p_Options.m_PatchArchives), CdnArchiveLayout());
    for (size_t l_A = 0; l_A < p_Cdn.size(); ++l_A)
        p_Cdn[l_A].m_Patch = int(l_A) >= p_Options.m_DataArchives;
    for (size_t l_I = 0; l_I < p_Blobs.size(); ++l_I)
    {
        ForgeBlob& l_Blob = p_Blobs[l_I];
        l_Blob.m_CdnArchive = int(l_I % p_Cdn.size());
        CdnArchiveLayout& l_Archive = p_Cdn[size_t(l_Blob.m_CdnArchive)];
        // Offsets are 32-bit, and an archive is put together in one byte array.
        if (l_Archive.m_Size + l_Blob.m_Blob.size() > qint64(0x7FFFFFFF))
        {
            p_Error = QStringLiteral("CDN archive %1 would pass 2 GiB; use more --data-archives").arg(l_Blob.m_CdnArchive);
            return false;
        }
        l_Blob.m_CdnOffset = quint32(l_Archive.m_Size);
        l_Archive.m_Size += l_Blob.m_Blob.size();
        l_Archive.m_Blobs.push_back(int(l_I));
    }

    // Local side: round robin over data.NNN; a truncated slot goes last so that cutting the
    // archive inside it spares every other slot.
    p_Local.assign(size_t(p_Options.m_LocalArchives), LocalArchiveLayout());
    for (size_t l_A = 0; l_A < p_Local.size(); ++l_A)
    {
        p_Local[l_A].m_Number = p_Options.m_FirstArchive + int(l_A);
        p_Local[l_A].m_Present = !p_Options.m_NoLocalArchives && !p_Options.m_DroppedArchives.count(p_Local[l_A].m_Number);
    }
    std::vector<int> l_Truncated(p_Local.size(), -1);
    for (size_t l_I = 0; l_I < p_Blobs.size(); ++l_I)
    {
        const size_t l_A = l_I % p_Local.size();
        if (p_Blobs[l_I].m_Damage != SlotDamage::Truncated)
            p_Local[l_A].m_Blobs.push_back(int(l_I));
        else if (l_Truncated[l_A] >= 0)
        {
            p_Error = QStringLiteral("blobs %1 and %2 share local archive %3; only one slot per archive can be truncated")
                          .arg(l_Truncated[l_A]).arg(l_I).arg(p_Local[l_A].m_Number);
            return false;
        }
        else
            l_Truncated[l_A] = int(l_I);
    }
    for (size_t l_A = 0; l_A < p_Local.size(); ++l_A)
    {
        LocalArchiveLayout& l_Archive = p_Local[l_A];
        if (l_Truncated[l_A] >= 0)
            l_Archive.m_Blobs.push_back(l_Truncated[l_A]);
        qint64 l_Cursor = 0;
        for (int l_Index : l_Archive.m_Blobs)
        {
            ForgeBlob& l_Blob = p_Blobs[size_t(l_Index)];
            if (l_Cursor > MaxLocalOffset)
            {
                p_Error = QStringLiteral("local archive %1 would pass 1 GiB; use more --local-archives").arg(l_Archive.m_Number);
                return false;
            }
            if (!l_Archive.m_Present && l_Blob.m_Damage != SlotDamage::None)
            {
                p_Error = QStringLiteral("blob %1 is in local archive %2, which is not written").arg(l_Index).arg(l_Archive.m_Number);
                return false;
            }
            if (!l_Archive.m_Present)
                l_Blob.m_Damage = SlotDamage::MissingArchive;
            l_Blob.m_LocalArchive = l_Archive.m_Number;
            l_Blob.m_LocalOffset = quint32(l_Cursor);
            l_Blob.m_SlotSize = quint32(ForgeBlob::EntryHeaderSize + l_Blob.m_Blob.size());
            l_Blob.m_Reserved = l_Blob.m_SlotSize;
            if (l_Blob.m_Damage == SlotDamage::OtherBlob)
                l_Blob.m_Reserved = qMax(l_Blob.m_Reserved, quint32(ForgeBlob::EntryHeaderSize +
                                                                    p_Blobs[size_t(l_Blob.m_HeldBlob)].m_Blob.size()));
            l_Cursor += l_Blob.m_Reserved;
            l_Archive.m_Size = l_Cursor;
            if (l_Blob.m_Damage == SlotDamage::Truncated)
                // The header survives, the blob is cut in half.
                l_Archive.m_Size = l_Blob.m_LocalOffset + ForgeBlob::EntryHeaderSize + l_Blob.m_Blob.size() / 2;
        }
        if (!l_Archive.m_Present)
            l_Archive.m_Size = 0;
    }
    return true;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
