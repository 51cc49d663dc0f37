#pragma once

#include "dcp/DcpTypes.h"

#include <QString>

// Stateless readers that turn one package document into one record. They never fail: a file
// that cannot be opened gives a default record, a malformed one what was read up to the fault.
class DcpXmlReader
{
public:
    enum DocumentKind { Unknown, Pkl, Cpl, Kdm };

    DocumentKind classifyXml(const QString &filePath) const;
    AssetMapInfo readAssetMap(const QString &filePath) const;
    PklInfo readPackingList(const QString &filePath) const;
    CplInfo readComposition(const QString &filePath) const;
    KdmInfo readKdm(const QString &filePath) const;

    // "1.85" -> "1.85:1"; "1998 1080" -> "1.85:1" and pictureSize "1998*1080".
    static QString normalizeAspectRatio(const QString &text, QString &pictureSize);
    // "24 1" -> "24", "30000 1001" -> "30", "120 1" -> "120": numerator / denominator rounded.
    static QString normalizeRate(const QString &text);
};
