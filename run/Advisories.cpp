#include "run/Advisories.h"

#include "dcp/DcpInspector.h"
#include "dcp/DcpXmlReader.h"
#include "dcp/MasterFiles.h"
#include "platform/FileReader.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// What the asset map says of the disk: each id's file (the first entry of an id wins, as
// everywhere else in the run) and each listed file's state, taken once.
class ListedFiles
{
public:
    ListedFiles(const QString &root, const QString &mapFolder, const AssetMapInfo &map)
        : m_root(root)
    {
        for (const AssetInfo &asset : map.assets) {
            const QString path = assetFileInMaster(root, mapFolder, asset.path);
            const FileState state =
                path.isEmpty() ? FileState() : FileReader::stateAt(QDir::cleanPath(path));
            if (!asset.id.isEmpty() && !m_byId.contains(asset.id))
                m_byId.insert(asset.id, {path, asset.path, state});
            if (state.status == FileState::Present)
                m_identities.insert(qMakePair(state.device, state.index));
        }
    }

    // The present file the id names; an empty path when there is none.
    QString path(const QString &id) const
    {
        return present(id) ? m_byId.value(id).path : QString();
    }
    qint64 size(const QString &id) const { return m_byId.value(id).state.size; }
    bool present(const QString &id) const
    {
        return m_byId.value(id).state.status == FileState::Present;
    }
    bool lists(const FileState &state) const
    {
        return m_identities.contains(qMakePair(state.device, state.index));
    }
    QString relative(const QString &path) const
    {
        return path.isEmpty() ? QString() : QDir(m_root).relativeFilePath(QDir::cleanPath(path));
    }
    // The Path the asset map gives the id, as written; empty when it lists no such id.
    QString mappedPath(const QString &id) const { return m_byId.value(id).mappedPath; }
    // A document's own path, found through the asset map by its id.
    QString documentPath(const QString &id) const { return relative(m_byId.value(id).path); }

private:
    struct Entry
    {
        QString path;
        QString mappedPath;
        FileState state;
    };
    QString m_root;
    QHash<QString, Entry> m_byId;
    QSet<QPair<quint64, quint64>> m_identities;
};

// The documents read, each once: an asset map that lists a document twice has it read twice.
template <typename Record> QVector<const Record *> distinct(const QVector<Record> &records)
{
    QVector<const Record *> result;
    QSet<QString> ids;
    for (const Record &record : records) {
        if (!ids.contains(record.id))
            result.append(&record);
        ids.insert(record.id);
    }
    return result;
}

Advisory advisory(const char *code, const QString &path, const QString &message)
{
    return {QString::fromLatin1(code), path, message};
}

void checkPklSizes(const DcpInspector &inspector, const ListedFiles &files,
                   QVector<Advisory> &found)
{
    for (const PklInfo *pkl : distinct(inspector.pkls)) {
        for (const AssetInfo &asset : pkl->assets) {
            if (!files.present(asset.id))
                continue; // no file to measure: the composition check tells of missing tracks
            const qint64 actual = files.size(asset.id);
            if (asset.sizeGiven && asset.size == actual)
                continue;
            const QString listed = asset.sizeGiven
                                       ? QString::fromUtf8("PKL中的Size为 %1").arg(asset.size)
                                       : QString::fromUtf8("PKL中没有有效的Size");
            found.append(advisory("pkl-size", files.relative(files.path(asset.id)),
                                  listed + QString::fromUtf8("，文件实际大小为 %1").arg(actual)));
        }
    }
}

void checkAssetMapLengths(const DcpInspector &inspector, const ListedFiles &files,
                          QVector<Advisory> &found)
{
    // Asset maps often leave Length out, for their documents above all: only a written one is
    // compared.
    QSet<QString> seen;
    for (const AssetInfo &asset : inspector.assetMap.assets) {
        if (!asset.sizeGiven || !files.present(asset.id) || seen.contains(asset.id))
            continue;
        seen.insert(asset.id);
        const qint64 actual = files.size(asset.id);
        if (asset.size != actual)
            found.append(advisory("assetmap-length", files.relative(files.path(asset.id)),
                                  QString::fromUtf8("AssetMap中的Length为 %1，文件实际大小为 %2")
                                      .arg(asset.size)
                                      .arg(actual)));
    }
}

constexpr qint64 kLargestKdm = 4 << 20;

// Names that file systems and desktops put on a disk by themselves.
bool isSystemName(const QString &name)
{
    static const char *const kNames[] = {"System Volume Information", "$RECYCLE.BIN", "Thumbs.db",
                                         "desktop.ini"};
    if (name.startsWith(QLatin1Char('.')))
        return true;
    for (const char *systemName : kNames) {
        if (name.compare(QLatin1String(systemName), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void checkUnlistedFiles(const DcpInspector &inspector, const QString &mapFolder,
                        const ListedFiles &files, QVector<Advisory> &found)
{
    const FileState mapState = FileReader::stateAt(inspector.assetMapPaths.first());
    // An asset map at a disk's root leaves "" or "E:" as its folder: the root is meant.
    QString mapFolderPrefix = QDir::cleanPath(mapFolder + QLatin1Char('/'));
    if (!mapFolderPrefix.endsWith(QLatin1Char('/')))
        mapFolderPrefix += QLatin1Char('/');
    QStringList unlisted;
    MasterWalk walk(mapFolderPrefix, MasterWalk::FollowFolderLinks, inspector.stopRequested);
    walk.run([&](const QFileInfo &entry) {
        const QString path = QDir::cleanPath(entry.absoluteFilePath());
        const QString inFolder = path.mid(mapFolderPrefix.size());
        const QStringList parts = inFolder.split(QLatin1Char('/'));
        if (inFolder == QLatin1String("VOLINDEX") || inFolder == QLatin1String("VOLINDEX.xml") ||
            std::any_of(parts.begin(), parts.end(), isSystemName))
            return true;
        const FileState state = FileReader::stateAt(path);
        if (state.status != FileState::Present || files.lists(state) || state.isSameFile(mapState))
            return true;
        // The run itself looks for the KDM on the disk: one kept next to the package is where
        // it belongs, not a stray file. A KDM is a few kilobytes; nothing larger is read.
        if (entry.suffix().compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0 &&
            state.size <= kLargestKdm && DcpXmlReader().classifyXml(path) == DcpXmlReader::Kdm)
            return true;
        unlisted.append(files.relative(path));
        return true;
    });
    // The file system's order differs from disk to disk; the operator's list should not.
    std::sort(unlisted.begin(), unlisted.end());
    for (const QString &path : qAsConst(unlisted))
        found.append(
            advisory("unlisted-file", path, QString::fromUtf8("文件 %1 未列入AssetMap").arg(path)));
}

// Markers and metadata live inside the composition itself; every other asset is a file of its own.
bool isTrackFile(const CplReelAsset &asset)
{
    return asset.kind != QLatin1String("MainMarkers") &&
           asset.kind != QLatin1String("CompositionMetadataAsset");
}

void checkCompositionAssets(const DcpInspector &inspector, const ListedFiles &files,
                            QVector<Advisory> &found)
{
    QSet<QString> packed;
    for (const PklInfo *pkl : distinct(inspector.pkls)) {
        for (const AssetInfo &asset : pkl->assets)
            packed.insert(asset.id);
    }
    for (const CplInfo *cpl : distinct(inspector.cpls)) {
        const QString cplPath = files.documentPath(cpl->id);
        QSet<QString> told; // a track used in several reels is told of once
        for (const CplReel &reel : cpl->reels) {
            for (const CplReelAsset &asset : reel.assets) {
                if (!isTrackFile(asset) || told.contains(asset.id))
                    continue;
                // With no packing list read there is nothing to compare with: that is a row's
                // failure already.
                const bool unpacked = !inspector.pkls.isEmpty() && !packed.contains(asset.id);
                if (!unpacked && files.present(asset.id))
                    continue;
                told.insert(asset.id);
                const QString what =
                    QString::fromUtf8("CPL中的%1资源 %2 ").arg(asset.kind, asset.id);
                const QString mapped = files.mappedPath(asset.id);
                found.append(
                    advisory("cpl-asset-missing", cplPath,
                             what + (unpacked ? QString::fromUtf8("未列入PKL")
                                     : mapped.isEmpty()
                                         ? QString::fromUtf8("在AssetMap中没有对应文件")
                                         : QString::fromUtf8("的文件 %1 不存在").arg(mapped))));
            }
        }
    }
}

// Duration, or what remains of the track after its entry point; -1 when neither is written.
qint64 effectiveDuration(const CplReelAsset &asset)
{
    if (asset.duration >= 0)
        return asset.duration;
    if (asset.intrinsicDuration >= 0)
        return asset.intrinsicDuration - qMax<qint64>(asset.entryPoint, 0);
    return -1;
}

void checkReelDurations(const DcpInspector &inspector, const ListedFiles &files,
                        QVector<Advisory> &found)
{
    for (const CplInfo *cpl : distinct(inspector.cpls)) {
        for (int i = 0; i < cpl->reels.size(); ++i) {
            QStringList kinds;
            QSet<qint64> durations;
            for (const CplReelAsset &asset : cpl->reels[i].assets) {
                const qint64 duration = effectiveDuration(asset);
                if (duration < 0)
                    continue;
                durations.insert(duration);
                kinds.append(QStringLiteral("%1 %2").arg(asset.kind).arg(duration));
            }
            if (durations.size() > 1)
                found.append(
                    advisory("reel-duration", files.documentPath(cpl->id),
                             QString::fromUtf8("CPL第%1卷（%2）中各资源的时长不一致：%3")
                                 .arg(i + 1)
                                 .arg(cpl->reels[i].id, kinds.join(QString::fromUtf8("，")))));
        }
    }
}

// Each id written more than once in the list, in the order of its first appearance.
QStringList repeatedIds(const QStringList &ids)
{
    QHash<QString, int> counts;
    QStringList repeated;
    for (const QString &id : ids) {
        if (!id.isEmpty() && ++counts[id] == 2)
            repeated.append(id);
    }
    return repeated;
}

void tellRepeated(const QStringList &ids, const QString &path, const QString &what,
                  QVector<Advisory> &found)
{
    for (const QString &id : repeatedIds(ids))
        found.append(advisory("duplicate-id", path,
                              QString::fromUtf8("%1中的Id %2 出现了 %3 次，应只出现 1 次")
                                  .arg(what, id)
                                  .arg(ids.count(id))));
}

void checkDuplicateIds(const DcpInspector &inspector, const ListedFiles &files,
                       QVector<Advisory> &found)
{
    const auto ids = [](const auto &assets) {
        QStringList list;
        for (const auto &asset : assets)
            list.append(asset.id);
        return list;
    };
    tellRepeated(ids(inspector.assetMap.assets),
                 files.relative(QDir::cleanPath(inspector.assetMapPaths.first())),
                 QStringLiteral("AssetMap"), found);
    for (const PklInfo *pkl : distinct(inspector.pkls))
        tellRepeated(ids(pkl->assets), files.documentPath(pkl->id), QStringLiteral("PKL"), found);
    // A track may play in several reels; within one reel, and among the reels, ids are unique.
    for (const CplInfo *cpl : distinct(inspector.cpls)) {
        const QString cplPath = files.documentPath(cpl->id);
        tellRepeated(ids(cpl->reels), cplPath, QString::fromUtf8("CPL的卷列表"), found);
        for (int i = 0; i < cpl->reels.size(); ++i)
            tellRepeated(ids(cpl->reels[i].assets), cplPath,
                         QString::fromUtf8("CPL第%1卷").arg(i + 1), found);
    }
}

} // namespace

QVector<Advisory> findAdvisories(const DcpInspector &inspector)
{
    // With no asset map, or several, nothing of the package was read.
    if (inspector.assetMapPaths.size() != 1)
        return {};
    const QString root = inspector.masterRoot();
    const QString &mapPath = inspector.assetMapPaths.first();
    const QString mapFolder = mapPath.left(mapPath.lastIndexOf(QLatin1Char('/')));
    const ListedFiles files(root, mapFolder, inspector.assetMap);

    QVector<Advisory> found;
    checkPklSizes(inspector, files, found);
    checkAssetMapLengths(inspector, files, found);
    checkUnlistedFiles(inspector, mapFolder, files, found);
    checkCompositionAssets(inspector, files, found);
    checkReelDurations(inspector, files, found);
    checkDuplicateIds(inspector, files, found);
    return found;
}
