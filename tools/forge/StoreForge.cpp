#include "tools/forge/StoreForge.h"

#include "casc/BLTEWriter.h"
#include "casc/Bytes.h"
#include "platform/Md5.h"
#include "tools/forge/ArchiveIndexWriter.h"
#include "tools/forge/ConfigFileWriter.h"
#include "tools/forge/EncodingFileWriter.h"
#include "tools/forge/ForgeContent.h"

#include <map>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

BLTEWriter::Options WriterOptions(const ForgeOptions& p_Options, bool p_Zlib)
{
    BLTEWriter::Options l_Options;
    l_Options.ChunkMode = p_Zlib ? BLTEWriter::Mode::Zlib : BLTEWriter::Mode::Plain;
    l_Options.ChunkSize = p_Options.m_ChunkSize;
    l_Options.WithTable = true; // the install scan treats a slot without a chunk table as damaged
    return l_Options;
}

/// How the blobs are encoded, as the string block names it: "b:{16K*=z}".
QByteArray EncodingRecipe(const ForgeOptions& p_Options)
{
    const qint64 l_Chunk = p_Options.m_ChunkSize;
    QByteArray l_Size = l_Chunk == 0 ? QByteArray()
                        : l_Chunk % 1024 == 0 ? QByteArray::number(l_Chunk / 1024) + 'K'
                                              : QByteArray::number(l_Chunk);
    return "b:{" + l_Size + "*=" + (p_Options.m_Zlib ? "z" : "n") + "}";
}

} // namespace

StoreForge::Result StoreForge::Build(const ForgeOptions& p_Options, ForgedStore& p_Store, QString& p_Error)
{
    p_Store = ForgedStore();
    p_Store.m_Options = p_Options;
    p_Store.m_Regions = QStringList{"us", "eu"};
    p_Store.m_VersionName = QStringLiteral("8.3.7.%1").arg(p_Options.m_BuildId);

    const Result l_Encoded = EncodeContent(p_Store, p_Error);
    if (l_Encoded != Result::Ok)
        return l_Encoded;
    if (!StoreLayout::Place(p_Options, p_Store.m_Blobs, p_Store.m_CdnLayout, p_Store.m_LocalLayout, p_Error))
        return Result::UsageError;
    BuildCdnSide(p_Store);

    for (const auto& l_Archive : p_Store.m_LocalLayout)
        if (!l_Archive.m_Present)
            p_Store.m_MissingFiles.append(QStringLiteral("data/data/data.%1").arg(l_Archive.m_Number, 3, 10, QLatin1Char('0')));
    const QString l_Keys[3] = {p_Store.m_CdnConfigKey, p_Store.m_BuildConfigKey, p_Store.m_PatchConfigKey};
    const char* l_Names[3] = {"cdn", "build", "patch"};
    for (int l_I = 0; l_I < 3; ++l_I)
        if (p_Options.m_MissingConfigs.count(l_Names[l_I]))
            p_Store.m_MissingFiles.append("data/config/" + l_Keys[l_I].left(2) + '/' + l_Keys[l_I].mid(2, 2) + '/' + l_Keys[l_I]);
    for (int l_I = 0; l_I < p_Store.m_CdnArchiveNames.size(); ++l_I)
        if (p_Options.m_MissingAllIndices || p_Options.m_MissingIndices.count(l_I))
            p_Store.m_MissingFiles.append("data/indices/" + p_Store.m_CdnArchiveNames.at(l_I) + ".index");
    if (p_Options.m_MissingEncoding)
        p_Store.m_MissingFiles.append("data/orvane/" + p_Store.m_EncodingKey);
    return Result::Ok;
}

StoreForge::Result StoreForge::EncodeContent(ForgedStore& p_Store, QString& p_Error)
{
    const ForgeOptions& l_Options = p_Store.m_Options;
    std::vector<ContentFile> l_Files;
    if (l_Options.m_FromDir.isEmpty())
        l_Files = ForgeContent::Generate(l_Options);
    else if (!ForgeContent::ReadFolder(l_Options.m_FromDir, l_Files, p_Error))
        return Result::IoError;
    if (l_Files.empty())
    {
        p_Error = "no regular file under " + l_Options.m_FromDir;
        return Result::UsageError;
    }

    // Identical files share one blob: a store keeps each encoding key once.
    std::map<QByteArray, size_t> l_ByContent;
    std::map<QByteArray, size_t> l_ByIndexKey;
    for (ContentFile& l_File : l_Files)
    {
        const QByteArray l_ContentKey = Md5::Hash(l_File.m_Data);
        const auto l_Known = l_ByContent.find(l_ContentKey);
        if (l_Known != l_ByContent.end())
        {
            p_Store.m_Blobs[l_Known->second].m_Paths.append(l_File.m_Path);
            continue;
        }
        ForgeBlob l_Blob;
        l_Blob.m_Paths.append(l_File.m_Path);
        l_Blob.m_ContentKey = l_ContentKey;
        l_Blob.m_ContentSize = l_File.m_Data.size();
        if (!BLTEWriter::Encode(l_File.m_Data, WriterOptions(l_Options, l_Options.m_Zlib), l_Blob.m_Blob, &p_Error))
        {
            p_Error = QStringLiteral("cannot encode %1: %2").arg(l_File.m_Path, p_Error);
            return Result::UsageError;
        }
        l_Blob.m_EncodingKey = BLTEWriter::EncodingKey(l_Blob.m_Blob);
        if (l_ByIndexKey.count(l_Blob.IndexKey()))
        {
            // Indices tell entries apart by 9 bytes only; two blobs sharing them cannot both be stored.
            p_Error = QStringLiteral("%1 and %2 share the index key %3")
                          .arg(p_Store.m_Blobs[l_ByIndexKey[l_Blob.IndexKey()]].m_Paths.first(), l_File.m_Path,
                               Bytes::Hex(l_Blob.IndexKey()));
            return Result::IoError;
        }
        l_ByIndexKey[l_Blob.IndexKey()] = p_Store.m_Blobs.size();
        l_ByContent[l_ContentKey] = p_Store.m_Blobs.size();
        l_File.m_Data.clear();
        p_Store.m_Blobs.push_back(std::move(l_Blob));
    }
    return Result::Ok;
}

void StoreForge::BuildCdnSide(ForgedStore& p_Store)
{
    const ForgeOptions& l_Options = p_Store.m_Options;
    QStringList l_DataNames;
    QStringList l_PatchNames;
    for (size_t l_A = 0; l_A < p_Store.m_CdnLayout.size(); ++l_A)
    {
        std::vector<ArchiveIndexWriter::Entry> l_Entries;
        for (int l_Index : p_Store.m_CdnLayout[l_A].m_Blobs)
        {
            const ForgeBlob& l_Blob = p_Store.m_Blobs[size_t(l_Index)];
            l_Entries.push_back({l_Blob.m_EncodingKey, quint32(l_Blob.m_Blob.size()), l_Blob.m_CdnOffset});
        }
        const QByteArray l_Index = ArchiveIndexWriter::Build(l_Entries);
        // The number keeps two archives without entries apart.
        const QString l_Name = Bytes::Hex(Md5::Hash(l_Index + QByteArray::number(qulonglong(l_A))));
        p_Store.m_CdnIndices.push_back(l_Index);
        p_Store.m_CdnArchiveNames.append(l_Name);
        (p_Store.m_CdnLayout[l_A].m_Patch ? l_PatchNames : l_DataNames).append(l_Name);
    }

    std::vector<EncodingFileWriter::Entry> l_Entries;
    for (size_t l_I = 0; l_I < p_Store.m_Blobs.size(); ++l_I)
    {
        const ForgeBlob& l_Blob = p_Store.m_Blobs[l_I];
        QByteArray l_ContentKey = l_Blob.m_ContentKey;
        if (l_Options.m_WrongContent.count(int(l_I)))
            l_ContentKey[0] = char(l_ContentKey.at(0) ^ 0xFF);
        l_Entries.push_back({l_ContentKey, l_Blob.m_EncodingKey, quint64(l_Blob.m_ContentSize),
                             quint64(l_Blob.m_Blob.size())});
    }
    const QByteArray l_Encoding = EncodingFileWriter::Build(l_Entries, {EncodingRecipe(l_Options)});
    BLTEWriter::Encode(l_Encoding, WriterOptions(l_Options, true), p_Store.m_Encoding);
    p_Store.m_EncodingContentKey = Bytes::Hex(Md5::Hash(l_Encoding));
    p_Store.m_EncodingKey = Bytes::Hex(BLTEWriter::EncodingKey(p_Store.m_Encoding));
    p_Store.m_EncodingContentSize = l_Encoding.size();

    // root, download, install and patch name no file of this store; they only fill their lines.
    const auto l_Placeholder = [](const char* p_What) { return ConfigFileWriter::Key(QByteArray("forge ") + p_What); };
    p_Store.m_PatchConfig = ConfigFileWriter::PatchConfig(l_Placeholder("patch"), 0);
    p_Store.m_PatchConfigKey = ConfigFileWriter::Key(p_Store.m_PatchConfig);
    ConfigFileWriter::BuildFields l_Build;
    l_Build.m_Root = l_Placeholder("root");
    l_Build.m_Download = l_Placeholder("download");
    l_Build.m_Install = l_Placeholder("install");
    l_Build.m_EncodingContentKey = p_Store.m_EncodingContentKey;
    l_Build.m_EncodingKey = p_Store.m_EncodingKey;
    l_Build.m_EncodingContentSize = p_Store.m_EncodingContentSize;
    l_Build.m_EncodingEncodedSize = p_Store.m_Encoding.size();
    l_Build.m_BuildName = QStringLiteral("WOW-%1patch8.3.7_Retail").arg(l_Options.m_BuildId);
    l_Build.m_BuildUid = QStringLiteral("wow");
    l_Build.m_BuildProduct = QStringLiteral("WoW");
    l_Build.m_Patch = l_Placeholder("patch");
    l_Build.m_PatchConfig = p_Store.m_PatchConfigKey;
    p_Store.m_BuildConfig = ConfigFileWriter::BuildConfig(l_Build);
    p_Store.m_BuildConfigKey = ConfigFileWriter::Key(p_Store.m_BuildConfig);
    p_Store.m_CdnConfig = ConfigFileWriter::CdnConfig(l_DataNames, l_PatchNames, p_Store.m_BuildConfigKey);
    p_Store.m_CdnConfigKey = ConfigFileWriter::Key(p_Store.m_CdnConfig);
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
