#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// Files on disk for tests: the one copy of these helpers.

/// The file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& p_Path);
/// Writes p_Bytes in place of the file's, creating the folders on the way; false when any is not written.
bool WriteFile(const QString& p_Path, const QByteArray& p_Bytes);
/// Every file below p_Root (hidden ones too) with its size, modification time and bytes' digest, sorted:
/// two listings differ when anything was written, added or removed.
QStringList Listing(const QString& p_Root);
/// Copies the folder p_From with all below it to p_To (created), keeping the files' times; false when any
/// part is not copied. No outside program: Windows has no cp.
bool CopyTree(const QString& p_From, const QString& p_To);
