#pragma once

#include "dcp/DcpTypes.h"

#include <QString>

// Stateless readers that turn one package document into one record. A malformed document gives
// what was read up to the fault, a file that cannot be opened or read a default or partial record.
// Whether the disk failed to give the file is a different matter from what the file says: when
// readError is given, it receives the system's reason for an open or read error, and is emptied
// otherwise.
class DcpXmlReader
{
public:
    enum DocumentKind { Unknown, Pkl, Cpl, Kdm };

    DocumentKind classifyXml(const QString &filePath, QString *readError = nullptr) const;
    AssetMapInfo readAssetMap(const QString &filePath, QString *readError = nullptr) const;
    PklInfo readPackingList(const QString &filePath, QString *readError = nullptr) const;
    CplInfo readComposition(const QString &filePath, QString *readError = nullptr) const;
    KdmInfo readKdm(const QString &filePath, QString *readError = nullptr) const;

    // "1.85" -> "1.85:1"; "1998 1080" -> "1.85:1" and pictureSize "1998*1080".
    static QString normalizeAspectRatio(const QString &text, QString &pictureSize);
    // "24 1" -> "24", "30000 1001" -> "30", "120 1" -> "120": numerator / denominator rounded.
    static QString normalizeRate(const QString &text);
};
