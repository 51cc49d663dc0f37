#include "dcp/DcpInspector.h"
#include "dcp/DcpXmlReader.h"
#include "dcp/FileProblems.h"
#include "dcp/MasterFiles.h"
#include "dcp/RunEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

bool DcpInspector::findMaster(QString &message)
{
    const QString root = masterRoot();
    if (root.isEmpty()) {
        message = QString::fromUtf8("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
        return false;
    }
    const int code = loadMaster(root);
    if (code == Interrupted) {
        message.clear(); // the run ends without a verdict; nothing to tell
        return false;
    }
    if (code == Unreadable) {
        message = unreadableFileMessage(unreadableFile, unreadableReason);
        return false;
    }
    if (code >= 2) {
        message =
            QString::fromUtf8("移动硬盘内有多个送审母版，请确认只有一个送审母版后，再进行检测!");
        return false;
    }
    if (code == NotEncrypted)
        encrypted = false;
    if (code == MasterOk || code == NotEncrypted)
        return true;
    static const struct
    {
        int code;
        const char *message;
    } kFailures[] = {
        {NoAssetMap, "未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!"},
        {FilesMissing, "送审母版文件不全，请确认存入完整送审母版后，再进行检测!"},
        {NoCpl, "未检测到CPL文件，请确认存入完整送审母版后，再进行检测!"},
        {SeveralCpls, "检测到多个CPL文件，请确认送审母版只包含1个CPL文件后，再进行检测!"},
        {NoPkl, "未检测到PKL文件，请确认存入完整送审母版后，再进行检测!"},
        {SeveralPkls, "检测到多个PKL文件，请确认送审母版只包含1个PKL文件后，再进行检测!"},
    };
    // No KDM file, no matching KDM, and anything else: the KDM message.
    message =
        QString::fromUtf8("未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放映设备"
                          "正确后，再进行检测!");
    for (const auto &failure : kFailures) {
        if (failure.code == code)
            message = QString::fromUtf8(failure.message);
    }
    return false;
}

int DcpInspector::loadMaster(const QString &driveRoot)
{
    assetMapPaths.clear();
    unreadableFile.clear();
    unreadableReason.clear();
    m_stopSeen = false;
    if (!findAssetMaps(driveRoot))
        return Interrupted;
    if (assetMapPaths.isEmpty())
        return NoAssetMap;
    if (assetMapPaths.size() >= 2)
        return assetMapPaths.size();

    const QString &assetMapPath = assetMapPaths.first();
    const QString masterFolder = assetMapPath.left(assetMapPath.lastIndexOf(QLatin1Char('/')));

    DcpXmlReader reader;
    QString error;
    const AssetMapInfo map = reader.readAssetMap(assetMapPath, &error);
    if (readFailed(assetMapPath, error))
        return Unreadable;
    assetMap.namespaceUri = map.namespaceUri;
    assetMap.id = map.id;
    assetMap.annotationText = map.annotationText;
    assetMap.assets = map.assets;

    for (const AssetInfo &asset : qAsConst(assetMap.assets)) {
        const QString path = assetFileInMaster(driveRoot, masterFolder, asset.path);
        if (path.isEmpty())
            return FilesMissing;
        // Track files are only tested for existence; only documents are opened.
        if (QFileInfo(path).suffix().toLower() != QLatin1String("xml"))
            continue;
        if (stopping())
            return Interrupted;
        const DcpXmlReader::DocumentKind kind = reader.classifyXml(path, &error);
        if (readFailed(path, error))
            return Unreadable;
        switch (kind) {
        case DcpXmlReader::Cpl:
            cpls.append(reader.readComposition(path, &error));
            break;
        case DcpXmlReader::Pkl:
            pkls.append(reader.readPackingList(path, &error));
            break;
        case DcpXmlReader::Kdm:
        case DcpXmlReader::Unknown:
            break;
        }
        if (readFailed(path, error))
            return Unreadable;
    }

    if (cpls.isEmpty())
        return NoCpl;
    if (cpls.size() > 1)
        return SeveralCpls;
    if (pkls.isEmpty())
        return NoPkl;
    if (pkls.size() > 1)
        return SeveralPkls;
    if (!cpls.first().encrypted)
        return NotEncrypted;
    const bool kdmFound = scanKdms(driveRoot);
    if (!unreadableFile.isEmpty())
        return Unreadable;
    if (m_stopSeen)
        return Interrupted;
    if (!kdmFound)
        return NoKdmFile;
    return selectKdm() ? MasterOk : NoMatchingKdm;
}

bool DcpInspector::stopping()
{
    m_stopSeen = m_stopSeen || (stopRequested && stopRequested());
    return m_stopSeen;
}

bool DcpInspector::readFailed(const QString &path, const QString &reason)
{
    if (reason.isEmpty())
        return false;
    unreadableFile = path;
    unreadableReason = reason;
    return true;
}

// Folder links are followed, so a master behind a link is found, but each real folder is
// searched once: a second link to a folder is the same master, not a copy of it.
bool DcpInspector::findAssetMaps(const QString &folder)
{
    MasterWalk walk(folder, MasterWalk::FollowFolderLinks, [this] { return stopping(); });
    return walk.run([this](const QFileInfo &entry) {
        const QString name = entry.fileName();
        if (name == QLatin1String("ASSETMAP") || name == QLatin1String("ASSETMAP.xml"))
            assetMapPaths.append(entry.absoluteFilePath());
        return true;
    });
}

bool DcpInspector::scanKdms(const QString &driveRoot)
{
    DcpXmlReader reader;
    bool found = false;
    QString error;
    MasterWalk walk(driveRoot, MasterWalk::SkipFolderLinks, [this] { return stopping(); });
    const bool walked = walk.run([&](const QFileInfo &entry) {
        if (entry.suffix() != QLatin1String("xml"))
            return true;
        if (stopping())
            return false;
        const QString path = entry.absoluteFilePath();
        const bool isKdm = reader.classifyXml(path, &error) == DcpXmlReader::Kdm;
        if (!error.isEmpty() || !isKdm)
            return !readFailed(path, error);
        kdms.append(reader.readKdm(path, &error));
        found = true;
        return !readFailed(path, error);
    });
    return walked && found;
}

bool DcpInspector::selectKdm()
{
    const QStringList &certs = settings.certificates;
    if (cpls.isEmpty())
        return false;
    const CplInfo &composition = cpls.first();
    const QString today = currentLocalDate().toString(QStringLiteral("yyyy-MM-dd"));

    for (const KdmInfo &candidate : qAsConst(kdms)) {
        if (candidate.compositionPlaylistId != composition.id)
            continue;
        // Plain text order of "yyyy-MM-dd" dates; a KDM that ends today is already unusable.
        if (!(today < candidate.notValidAfter.left(10)))
            continue;
        // Only the device the KDM is addressed to counts; an approved name in the signer chain
        // does not make the KDM playable on an approved device.
        for (const QString &cert : certs) {
            if (candidate.recipientSubjectName.contains(cert, Qt::CaseSensitive)) {
                kdm = candidate;
                return true;
            }
        }
    }
    return false;
}
