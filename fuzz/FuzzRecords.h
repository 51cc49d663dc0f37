#pragma once

#include "dcp/DcpTypes.h"

// Field-by-field equality of the records, for the harnesses' cross-checks.

inline bool sameAsset(const AssetInfo &a, const AssetInfo &b)
{
    return a.id == b.id && a.path == b.path && a.size == b.size && a.sizeGiven == b.sizeGiven &&
           a.type == b.type && a.hash == b.hash && a.editRate == b.editRate &&
           a.frameRate == b.frameRate && a.duration == b.duration &&
           a.aspectRatio == b.aspectRatio && a.language == b.language && a.keyId == b.keyId &&
           a.pictureSize == b.pictureSize;
}

inline bool sameAssets(const QVector<AssetInfo> &a, const QVector<AssetInfo> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (!sameAsset(a.at(i), b.at(i)))
            return false;
    }
    return true;
}

inline bool sameReels(const QVector<CplReel> &a, const QVector<CplReel> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        const QVector<CplReelAsset> &x = a.at(i).assets;
        const QVector<CplReelAsset> &y = b.at(i).assets;
        if (a.at(i).id != b.at(i).id || x.size() != y.size())
            return false;
        for (int j = 0; j < x.size(); ++j) {
            if (x.at(j).kind != y.at(j).kind || x.at(j).id != y.at(j).id ||
                x.at(j).hash != y.at(j).hash || x.at(j).duration != y.at(j).duration ||
                x.at(j).intrinsicDuration != y.at(j).intrinsicDuration ||
                x.at(j).entryPoint != y.at(j).entryPoint)
                return false;
        }
    }
    return true;
}

inline bool sameRecord(const AssetMapInfo &a, const AssetMapInfo &b)
{
    return a.namespaceUri == b.namespaceUri && a.id == b.id &&
           a.annotationText == b.annotationText && sameAssets(a.assets, b.assets);
}

inline bool sameRecord(const PklInfo &a, const PklInfo &b)
{
    return a.namespaceUri == b.namespaceUri && a.id == b.id &&
           a.annotationText == b.annotationText && a.issueDate == b.issueDate &&
           a.hasGroupId == b.hasGroupId && sameAssets(a.assets, b.assets);
}

inline bool sameRecord(const CplInfo &a, const CplInfo &b)
{
    return a.namespaceUri == b.namespaceUri && a.id == b.id &&
           a.contentTitleText == b.contentTitleText && a.stereoscopic == b.stereoscopic &&
           a.stereoscopicNamespaceUri == b.stereoscopicNamespaceUri && a.encrypted == b.encrypted &&
           sameAssets(a.assets, b.assets) && sameReels(a.reels, b.reels);
}

inline bool sameRecord(const KdmInfo &a, const KdmInfo &b)
{
    return a.namespaceUri == b.namespaceUri && a.messageId == b.messageId &&
           a.compositionPlaylistId == b.compositionPlaylistId &&
           a.notValidBefore == b.notValidBefore && a.notValidAfter == b.notValidAfter &&
           a.subjectNames == b.subjectNames && a.recipientSubjectName == b.recipientSubjectName;
}

inline bool sameRecord(int a, int b)
{
    return a == b;
}
