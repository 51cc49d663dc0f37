#include "dcp/DcpInspector.h"
#include "dcp/MasterFiles.h"

// The naming rule, A.3.1 c) and A.3.2 a) and d). They run after a successful discovery, which
// leaves exactly one asset map path, one composition and one packing list; element 0 is used,
// and a missing element fails the rule rather than being read out of range.

bool DcpInspector::checkDcpName(QString &message)
{
    if (cpls.isEmpty() || cpls.first().contentTitleText.isEmpty()) {
        message = QString::fromUtf8("DCP命名不符合规范，请修改DCP命名后，再进行检测!");
        failureDetail = cpls.isEmpty() ? QStringLiteral("没有CPL文件")
                                       : QStringLiteral("CPL文件%1的ContentTitleText为空")
                                             .arg(displayPath(cpls.first().filePath));
        return false;
    }
    return true;
}

bool DcpInspector::checkAssetPaths(QString &message)
{
    if (assetMapPaths.isEmpty()) {
        message = QString::fromUtf8("缺少Assetmap文件，请重新制作DCP后，再进行检测!");
        return false;
    }
    const QString &mapPath = assetMapPaths.first();
    const QString folder = mapPath.left(mapPath.lastIndexOf(QLatin1Char('/')));
    // A file outside the master, or reached by a path that leaves it, is not the master's own.
    const QString root = masterRoot();
    for (const AssetInfo &asset : qAsConst(assetMap.assets)) {
        if (assetFileInMaster(root, folder, asset.path).isEmpty()) {
            failureDetail = QStringLiteral("资产：%1\n路径：%2\n该路径上没有文件，或文件不在母版内")
                                .arg(asset.id, asset.path);
            message = QString::fromUtf8("Assetmap中的") + asset.path +
                      QString::fromUtf8("文件与实际路径不一致，请重新制作DCP后，再进行检测!");
            return false;
        }
    }
    return true;
}

bool DcpInspector::pklListedInAssetMap()
{
    if (pkls.isEmpty())
        return false;
    const QString &pklId = pkls.first().id;
    for (const AssetInfo &asset : qAsConst(assetMap.assets)) {
        if (asset.id == pklId)
            return true;
    }
    return false;
}

bool DcpInspector::checkPklAssets(QString &message)
{
    const QString failure = QString::fromUtf8(
        "Assetmap中的文件和Cpl中的文件列表未一一对应，请重新制作DCP后，再进行检测!");
    if (pkls.isEmpty()) {
        failureDetail = QStringLiteral("没有PKL文件");
        message = failure;
        return false;
    }
    const PklInfo pkl = pkls.first(); // read from a copy while the original is written
    for (int i = 0; i < pkl.assets.size(); ++i) {
        const AssetInfo *mapped = nullptr;
        for (const AssetInfo &asset : qAsConst(assetMap.assets)) {
            if (asset.id == pkl.assets[i].id) {
                mapped = &asset;
                break;
            }
        }
        if (!mapped) {
            failureDetail = QStringLiteral("PKL中的资产%1（%2）不在ASSETMAP中")
                                .arg(pkl.assets[i].id, pkl.assets[i].path);
            message = failure;
            return false;
        }
        // Hashing reads the file the asset map names, not the packing list's OriginalFileName.
        pkls[0].assets[i].path = mapped->path;
    }
    return true;
}
