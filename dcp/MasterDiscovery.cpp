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
    failureDetail.clear();
    if (!findAssetMaps(driveRoot))
        return Interrupted;
    if (assetMapPaths.isEmpty()) {
        failureDetail = QStringLiteral("%1 及其下的文件夹中没有ASSETMAP或ASSETMAP.xml文件")
                            .arg(QDir::toNativeSeparators(driveRoot));
        return NoAssetMap;
    }
    if (assetMapPaths.size() >= 2) {
        failureDetail =
            QStringLiteral("找到的ASSETMAP文件：\n") + documentList(assetMapPaths.toList());
        return assetMapPaths.size();
    }

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
        if (path.isEmpty()) {
            failureDetail = QStringLiteral("ASSETMAP中的资产%1的文件不存在或不在母版内：%2")
                                .arg(asset.id, asset.path);
            return FilesMissing;
        }
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
            cpls.last().filePath = path;
            break;
        case DcpXmlReader::Pkl:
            pkls.append(reader.readPackingList(path, &error));
            pkls.last().filePath = path;
            break;
        case DcpXmlReader::Kdm:
        case DcpXmlReader::Unknown:
            break;
        }
        if (readFailed(path, error))
            return Unreadable;
    }

    const auto documents = [this](const char *kind, QStringList paths) {
        return paths.isEmpty()
                   ? QStringLiteral("ASSETMAP %1 列出的XML文件中没有%2文件")
                         .arg(displayPath(assetMapPaths.first()), QString::fromLatin1(kind))
                   : QStringLiteral("找到的%1文件：\n").arg(QString::fromLatin1(kind)) +
                         documentList(paths);
    };
    QStringList cplPaths, pklPaths;
    for (const CplInfo &cpl : qAsConst(cpls))
        cplPaths << cpl.filePath;
    for (const PklInfo &pkl : qAsConst(pkls))
        pklPaths << pkl.filePath;
    if (cpls.size() != 1) {
        failureDetail = documents("CPL", cplPaths);
        return cpls.isEmpty() ? NoCpl : SeveralCpls;
    }
    if (pkls.size() != 1) {
        failureDetail = documents("PKL", pklPaths);
        return pkls.isEmpty() ? NoPkl : SeveralPkls;
    }
    if (!cpls.first().encrypted)
        return NotEncrypted;
    const bool kdmFound = scanKdms(driveRoot);
    if (!unreadableFile.isEmpty())
        return Unreadable;
    if (m_stopSeen)
        return Interrupted;
    if (!kdmFound) {
        failureDetail =
            QStringLiteral("%1 中没有KDM文件（根元素为DCinemaSecurityMessage的XML文件）")
                .arg(QDir::toNativeSeparators(driveRoot));
        return NoKdmFile;
    }
    if (selectKdm())
        return MasterOk;
    failureDetail = kdmRejections();
    return NoMatchingKdm;
}

QString DcpInspector::documentList(const QStringList &paths) const
{
    QStringList lines;
    for (const QString &path : paths)
        lines << displayPath(path);
    return lines.join(QLatin1Char('\n'));
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
    failureDetail = QStringLiteral("文件：%1\n原因：%2").arg(displayPath(path), reason);
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
        kdms.last().filePath = path;
        found = true;
        return !readFailed(path, error);
    });
    return walked && found;
}

namespace {
// Why this KDM cannot serve the composition; empty when it can.
QString kdmRejection(const KdmInfo &candidate, const QString &compositionId,
                     const QStringList &certs)
{
    if (candidate.compositionPlaylistId != compositionId)
        return QStringLiteral("适用于其他CPL（KDM中的CompositionPlaylistId为%1，CPL的Id为%2）")
            .arg(candidate.compositionPlaylistId, compositionId);
    // Plain text order of "yyyy-MM-dd" dates; a KDM that ends today is already unusable.
    const QString today = currentLocalDate().toString(QStringLiteral("yyyy-MM-dd"));
    if (!(today < candidate.notValidAfter.left(10)))
        return QStringLiteral("有效期已过（ContentKeysNotValidAfter为%1，今天是%2）")
            .arg(candidate.notValidAfter, today);
    // Only the device the KDM is addressed to counts; an approved name in the signer chain
    // does not make the KDM playable on an approved device.
    for (const QString &cert : certs) {
        if (candidate.recipientSubjectName.contains(cert, Qt::CaseSensitive))
            return QString();
    }
    if (certs.isEmpty())
        return QStringLiteral("设置文件中没有已批准的放映设备（接收设备为%1）")
            .arg(candidate.recipientSubjectName);
    return QStringLiteral("接收设备不是已批准的放映设备（接收设备为%1）")
        .arg(candidate.recipientSubjectName);
}
} // namespace

bool DcpInspector::selectKdm()
{
    if (cpls.isEmpty())
        return false;
    for (const KdmInfo &candidate : qAsConst(kdms)) {
        if (kdmRejection(candidate, cpls.first().id, settings.certificates).isEmpty()) {
            kdm = candidate;
            return true;
        }
    }
    return false;
}

QString DcpInspector::kdmRejections() const
{
    const QString compositionId = cpls.isEmpty() ? QString() : cpls.first().id;
    QStringList lines;
    for (const KdmInfo &candidate : kdms) {
        const QString why = kdmRejection(candidate, compositionId, settings.certificates);
        if (!why.isEmpty())
            lines << displayPath(candidate.filePath) + QStringLiteral("：") + why;
    }
    return lines.join(QLatin1Char('\n'));
}
