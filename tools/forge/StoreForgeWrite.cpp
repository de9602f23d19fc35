#include "tools/forge/StoreForge.h"

#include "tools/forge/ConfigFileWriter.h"
#include "tools/forge/ForgeSummary.h"
#include "tools/forge/LocalIndexWriter.h"
#include "tools/forge/OutputTree.h"

#include <QDir>
#include <QtEndian>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

/// The 30-byte entry header of a slot: the key last byte first, the slot size, zero flags and checksums.
QByteArray EntryHeader(const ForgeBlob& p_Blob)
{
    QByteArray l_Header(ForgeBlob::EntryHeaderSize, '\0');
    for (int l_I = 0; l_I < 16; ++l_I)
        l_Header[l_I] = p_Blob.m_EncodingKey.at(15 - l_I);
    qToLittleEndian(quint32(ForgeBlob::EntryHeaderSize + p_Blob.m_Blob.size()),
                    reinterpret_cast<uchar*>(l_Header.data() + 16));
    return l_Header;
}

} // namespace

QByteArray StoreForge::LocalArchive(const ForgedStore& p_Store, const LocalArchiveLayout& p_Layout)
{
    qint64 l_Full = 0;
    for (int l_Index : p_Layout.m_Blobs)
        l_Full = qMax<qint64>(l_Full, p_Store.m_Blobs[size_t(l_Index)].m_LocalOffset + p_Store.m_Blobs[size_t(l_Index)].m_Reserved);
    QByteArray l_Out(int(l_Full), '\0');
    for (int l_Index : p_Layout.m_Blobs)
    {
        const ForgeBlob& l_Slot = p_Store.m_Blobs[size_t(l_Index)];
        if (l_Slot.m_Damage == SlotDamage::Zeroed)
            continue;
        const ForgeBlob& l_Held =
            l_Slot.m_Damage == SlotDamage::OtherBlob ? p_Store.m_Blobs[size_t(l_Slot.m_HeldBlob)] : l_Slot;
        const QByteArray l_Bytes = EntryHeader(l_Held) + l_Held.m_Blob;
        l_Out.replace(int(l_Slot.m_LocalOffset), l_Bytes.size(), l_Bytes);
    }
    l_Out.truncate(int(p_Layout.m_Size));
    return l_Out;
}

bool StoreForge::WriteCdn(const ForgedStore& p_Store, QString& p_Error)
{
    const ForgeOptions& l_Options = p_Store.m_Options;
    OutputTree l_Tree(QDir(l_Options.m_OutDir).filePath("cdn"));
    const QString l_Root = l_Options.m_CdnPath + '/';
    bool l_Ok = l_Tree.Write("wow/cdns", ConfigFileWriter::CdnsTable(p_Store.m_Regions, l_Options.m_CdnPath, l_Options.m_Hosts)) &&
                l_Tree.Write("wow/versions", ConfigFileWriter::VersionsTable(p_Store.m_Regions, p_Store.m_BuildConfigKey,
                                                                             p_Store.m_CdnConfigKey, l_Options.m_BuildId,
                                                                             p_Store.m_VersionName)) &&
                l_Tree.Write(l_Root + "config/" + OutputTree::KeyedPath(p_Store.m_CdnConfigKey), p_Store.m_CdnConfig) &&
                l_Tree.Write(l_Root + "config/" + OutputTree::KeyedPath(p_Store.m_BuildConfigKey), p_Store.m_BuildConfig) &&
                l_Tree.Write(l_Root + "config/" + OutputTree::KeyedPath(p_Store.m_PatchConfigKey), p_Store.m_PatchConfig) &&
                l_Tree.Write(l_Root + "data/" + OutputTree::KeyedPath(p_Store.m_EncodingKey), p_Store.m_Encoding);
    for (size_t l_A = 0; l_Ok && l_A < p_Store.m_CdnLayout.size(); ++l_A)
    {
        const CdnArchiveLayout& l_Layout = p_Store.m_CdnLayout[l_A];
        QByteArray l_Data;
        l_Data.reserve(int(l_Layout.m_Size));
        for (int l_Index : l_Layout.m_Blobs)
            l_Data.append(p_Store.m_Blobs[size_t(l_Index)].m_Blob);
        const QString l_Path = l_Root + (l_Layout.m_Patch ? "patch/" : "data/") +
                               OutputTree::KeyedPath(p_Store.m_CdnArchiveNames.at(int(l_A)));
        l_Ok = l_Tree.Write(l_Path, l_Data) && l_Tree.Write(l_Path + ".index", p_Store.m_CdnIndices[l_A]);
    }
    if (!l_Ok)
        p_Error = l_Tree.Error();
    return l_Ok;
}

bool StoreForge::WriteInstall(const ForgedStore& p_Store, QString& p_Error)
{
    OutputTree l_Tree(QDir(p_Store.m_Options.m_OutDir).filePath("install"));
    auto l_Write = [&](const QString& p_Relative, const QByteArray& p_Data) {
        return p_Store.m_MissingFiles.contains(p_Relative) || l_Tree.Write(p_Relative, p_Data);
    };
    bool l_Ok = l_Write("data/config/" + OutputTree::KeyedPath(p_Store.m_CdnConfigKey), p_Store.m_CdnConfig) &&
                l_Write("data/config/" + OutputTree::KeyedPath(p_Store.m_BuildConfigKey), p_Store.m_BuildConfig) &&
                l_Write("data/config/" + OutputTree::KeyedPath(p_Store.m_PatchConfigKey), p_Store.m_PatchConfig) &&
                l_Write("data/orvane/" + p_Store.m_EncodingKey, p_Store.m_Encoding);
    for (int l_A = 0; l_Ok && l_A < p_Store.m_CdnArchiveNames.size(); ++l_A)
        l_Ok = l_Write("data/indices/" + p_Store.m_CdnArchiveNames.at(l_A) + ".index", p_Store.m_CdnIndices[size_t(l_A)]);

    std::vector<std::vector<LocalIndexWriter::Entry>> l_Buckets(LocalIndexWriter::BucketCount);
    for (const ForgeBlob& l_Blob : p_Store.m_Blobs)
        l_Buckets[size_t(LocalIndexWriter::Bucket(l_Blob.IndexKey()))].push_back(
            {l_Blob.IndexKey(), l_Blob.m_LocalArchive, l_Blob.m_LocalOffset, l_Blob.m_SlotSize});
    for (int l_B = 0; l_Ok && l_B < LocalIndexWriter::BucketCount; ++l_B)
        l_Ok = l_Write("data/data/" + QString::fromLatin1(LocalIndexWriter::FileName(l_B)),
                       LocalIndexWriter::Build(l_B, l_Buckets[size_t(l_B)]));
    for (size_t l_A = 0; l_Ok && l_A < p_Store.m_LocalLayout.size(); ++l_A)
    {
        const LocalArchiveLayout& l_Layout = p_Store.m_LocalLayout[l_A];
        if (l_Layout.m_Present)
            l_Ok = l_Write(QStringLiteral("data/data/data.%1").arg(l_Layout.m_Number, 3, 10, QLatin1Char('0')),
                           LocalArchive(p_Store, l_Layout));
    }
    if (!l_Ok)
        p_Error = l_Tree.Error();
    return l_Ok;
}

bool StoreForge::Write(const ForgedStore& p_Store, QString& p_Error)
{
    if (!WriteCdn(p_Store, p_Error) || !WriteInstall(p_Store, p_Error))
        return false;
    // Last: a summary on disk means the store beside it is complete.
    OutputTree l_Tree(p_Store.m_Options.m_OutDir);
    if (!l_Tree.Write("forge.json", ForgeSummary::Build(p_Store)))
    {
        p_Error = l_Tree.Error();
        return false;
    }
    return true;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
