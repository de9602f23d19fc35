#pragma once
#include "platform/Md5.h"

#include <QByteArray>
#include <QString>

// The content store's keyed files, for the store tests: the one copy of these helpers.

/// Lower-case hexadecimal MD5: the key a configuration file or a table-less blob is named by.
inline QString Md5Key(const QByteArray& p_Bytes)
{
    return QString::fromLatin1(Orvane::Md5::Hash(p_Bytes).toHex());
}

/// "ab/cd/abcd...": a keyed file's place below its kind's folder, on a CDN and in an installation.
inline QString KeyedPath(const QString& p_Key)
{
    return p_Key.left(2) + '/' + p_Key.mid(2, 2) + '/' + p_Key;
}

/// "/tpr/wow/KIND/ab/cd/KEY": where a CDN serves a keyed file (KIND: config, data or patch).
inline QString CdnPath(const QString& p_Kind, const QString& p_Key, const QString& p_Root = QStringLiteral("tpr/wow"))
{
    return '/' + p_Root + '/' + p_Kind + '/' + KeyedPath(p_Key);
}
