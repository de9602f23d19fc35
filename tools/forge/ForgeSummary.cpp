#include "tools/forge/ForgeSummary.h"

#include "casc/Bytes.h"
#include "tools/forge/LocalIndexWriter.h"
#include "tools/forge/StoreForge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

QJsonObject Options(const ForgeOptions& p_Options)
{
    QJsonObject l_Out;
    l_Out["arguments"] = QJsonArray::fromStringList(p_Options.m_Arguments);
    l_Out["from"] = p_Options.m_FromDir.isEmpty() ? QJsonValue() : QJsonValue(p_Options.m_FromDir);
    l_Out["files"] = p_Options.m_Files;
    l_Out["minSize"] = double(p_Options.m_MinSize);
    l_Out["maxSize"] = double(p_Options.m_MaxSize);
    l_Out["chunk"] = double(p_Options.m_ChunkSize);
    l_Out["mode"] = p_Options.m_Zlib ? "Z" : "N";
    l_Out["dataArchives"] = p_Options.m_DataArchives;
    l_Out["patchArchives"] = p_Options.m_PatchArchives;
    l_Out["localArchives"] = p_Options.m_LocalArchives;
    l_Out["firstArchive"] = p_Options.m_FirstArchive;
    return l_Out;
}

QJsonObject Blob(const ForgedStore& p_Store, size_t p_Number)
{
    const ForgeBlob& l_Blob = p_Store.m_Blobs[p_Number];
    QJsonObject l_Out;
    l_Out["number"] = int(p_Number);
    l_Out["paths"] = QJsonArray::fromStringList(l_Blob.m_Paths);
    l_Out["contentKey"] = Bytes::Hex(l_Blob.m_ContentKey);
    l_Out["encodingKey"] = Bytes::Hex(l_Blob.m_EncodingKey);
    l_Out["indexKey"] = Bytes::Hex(l_Blob.IndexKey());
    l_Out["contentSize"] = double(l_Blob.m_ContentSize);
    l_Out["blobSize"] = l_Blob.m_Blob.size();
    l_Out["cdnArchive"] = p_Store.m_CdnArchiveNames.at(l_Blob.m_CdnArchive);
    l_Out["cdnArchiveNumber"] = l_Blob.m_CdnArchive;
    l_Out["patch"] = p_Store.m_CdnLayout[size_t(l_Blob.m_CdnArchive)].m_Patch;
    l_Out["cdnOffset"] = double(l_Blob.m_CdnOffset);
    l_Out["localArchive"] = l_Blob.m_LocalArchive;
    l_Out["localOffset"] = double(l_Blob.m_LocalOffset);
    l_Out["slotSize"] = double(l_Blob.m_SlotSize);
    l_Out["bucket"] = LocalIndexWriter::Bucket(l_Blob.IndexKey());
    l_Out["damage"] = l_Blob.m_Damage == SlotDamage::None ? QJsonValue()
                                                          : QJsonValue(ForgeOptions::DamageName(l_Blob.m_Damage));
    if (l_Blob.m_Damage == SlotDamage::OtherBlob)
        l_Out["holds"] = l_Blob.m_HeldBlob;
    if (p_Store.m_Options.m_WrongContent.count(int(p_Number)))
        l_Out["wrongContent"] = true;
    return l_Out;
}

} // namespace

QByteArray ForgeSummary::Build(const ForgedStore& p_Store)
{
    const ForgeOptions& l_Options = p_Store.m_Options;
    QJsonObject l_Root;
    l_Root["seed"] = double(l_Options.m_Seed);
    l_Root["options"] = Options(l_Options);
    l_Root["cdnPath"] = l_Options.m_CdnPath;
    l_Root["hosts"] = QJsonArray::fromStringList(l_Options.m_Hosts);
    l_Root["regions"] = QJsonArray::fromStringList(p_Store.m_Regions);
    l_Root["buildId"] = double(l_Options.m_BuildId);
    l_Root["versionName"] = p_Store.m_VersionName;
    l_Root["configs"] = QJsonObject{{"cdn", p_Store.m_CdnConfigKey},
                                    {"build", p_Store.m_BuildConfigKey},
                                    {"patch", p_Store.m_PatchConfigKey}};
    l_Root["encoding"] = QJsonObject{{"contentKey", p_Store.m_EncodingContentKey},
                                     {"encodingKey", p_Store.m_EncodingKey},
                                     {"contentSize", double(p_Store.m_EncodingContentSize)},
                                     {"encodedSize", p_Store.m_Encoding.size()}};

    QJsonArray l_Archives;
    for (size_t l_A = 0; l_A < p_Store.m_CdnLayout.size(); ++l_A)
        l_Archives.append(QJsonObject{{"number", int(l_A)},
                                      {"name", p_Store.m_CdnArchiveNames.at(int(l_A))},
                                      {"patch", p_Store.m_CdnLayout[l_A].m_Patch},
                                      {"entries", int(p_Store.m_CdnLayout[l_A].m_Blobs.size())},
                                      {"size", double(p_Store.m_CdnLayout[l_A].m_Size)}});
    l_Root["archives"] = l_Archives;

    QJsonArray l_Local;
    for (const LocalArchiveLayout& l_Layout : p_Store.m_LocalLayout)
        l_Local.append(QJsonObject{{"number", l_Layout.m_Number},
                                   {"file", QStringLiteral("data.%1").arg(l_Layout.m_Number, 3, 10, QLatin1Char('0'))},
                                   {"present", l_Layout.m_Present},
                                   {"slots", int(l_Layout.m_Blobs.size())},
                                   {"size", double(l_Layout.m_Size)}});
    l_Root["localArchives"] = l_Local;

    QJsonArray l_Blobs;
    QJsonArray l_Damaged;
    for (size_t l_I = 0; l_I < p_Store.m_Blobs.size(); ++l_I)
    {
        const QJsonObject l_Blob = Blob(p_Store, l_I);
        l_Blobs.append(l_Blob);
        if (p_Store.m_Blobs[l_I].m_Damage != SlotDamage::None)
            l_Damaged.append(QJsonObject{{"blob", int(l_I)},
                                         {"indexKey", l_Blob["indexKey"]},
                                         {"localArchive", l_Blob["localArchive"]},
                                         {"localOffset", l_Blob["localOffset"]},
                                         {"slotSize", l_Blob["slotSize"]},
                                         {"damage", l_Blob["damage"]}});
    }
    l_Root["blobs"] = l_Blobs;
    l_Root["damagedSlots"] = l_Damaged;
    l_Root["missingFiles"] = QJsonArray::fromStringList(p_Store.m_MissingFiles);
    return QJsonDocument(l_Root).toJson(QJsonDocument::Indented);
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
