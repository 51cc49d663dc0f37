#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"

bool DcpInspector::cplListedInAssetMap() const
{
    if (cpls.isEmpty())
        return false;
    const QString &cplId = cpls.at(0).id;
    for (const AssetInfo &asset : assetMap.assets) {
        if (asset.id == cplId)
            return true;
    }
    return false;
}

bool DcpInspector::checkCplTrackHashes(QString &message) const
{
    if (cpls.isEmpty())
        return true;
    const QVector<AssetInfo> pklAssets = pkls.value(0).assets;
    for (const AssetInfo &track : cpls.at(0).assets) {
        bool found = false;
        // The same id may be listed again further down with the right digest.
        for (const AssetInfo &asset : pklAssets) {
            if (asset.id == track.id && asset.hash == track.hash) {
                found = true;
                break;
            }
        }
        if (!found) {
            QStringList listed;
            for (const AssetInfo &asset : pklAssets) {
                if (asset.id == track.id)
                    listed << asset.hash;
            }
            failureDetail = QStringLiteral("轨道：%1\nCPL中的Hash值：%2\nPKL中的Hash值：%3")
                                .arg(track.id, track.hash,
                                     listed.isEmpty() ? QStringLiteral("（PKL中没有此轨道）")
                                                      : listed.join(QStringLiteral("、")));
            message = QStringLiteral("Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致，请重新制"
                                     "作DCP后，再进行检测!");
            return false;
        }
    }
    return true;
}

void DcpInspector::prefillLabelFields()
{
    if (cpls.isEmpty())
        return;
    const CplInfo &cpl = cpls.at(0);
    cplName = cpl.contentTitleText;

    const auto takePicture = [this](const AssetInfo &asset) {
        frame = asset.frameRate + QStringLiteral("fps");
        aspect = asset.aspectRatio;
        resolution = asset.pictureSize;
    };

    qint64 frames = 0;
    qint64 rate = 0;
    bool pictureTaken = false;
    for (int i = 0; i < cpl.assets.size(); ++i) {
        const AssetInfo &asset = cpl.assets.at(i);
        // The rate of the last track counts, whatever its kind.
        bool isNumber = false;
        rate = asset.editRate.toLongLong(&isNumber, 10);
        if (!isNumber)
            rate = 0;
        if (cpl.stereoscopic) {
            if (asset.type != QLatin1String("Picture3D"))
                continue;
            frames += asset.duration;
            if (!pictureTaken) {
                takePicture(asset);
                pictureTaken = true;
            }
        } else {
            if (asset.type == QLatin1String("Picture"))
                frames += asset.duration;
            if (i == 0)
                takePicture(asset);
        }
    }

    // Without a usable rate no length can be told; the operator fills it in.
    if (rate > 0) {
        const qint64 seconds = frames / rate;
        const qint64 minutes = seconds / 60;
        const qint64 rest = seconds - 60 * minutes;
        duration = QStringLiteral("%1分钟%2秒").arg(minutes).arg(rest);
    } else {
        duration.clear();
    }

    const QString before = kdm.notValidBefore.left(10).remove(QLatin1Char('-'));
    const QString after = kdm.notValidAfter.left(10).remove(QLatin1Char('-'));
    kdmDate = before + QLatin1Char('-') + after;

    vetDate = currentLocalDate().toString(QStringLiteral("yyyyMMdd"));
}

bool DcpInspector::checkLabelValues(QString &message) const
{
    bool hasChinese = false;
    for (const QChar c : filmName) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FA5) {
            hasChinese = true;
            break;
        }
    }
    if (!hasChinese) {
        failureDetail = QStringLiteral("影片名称：%1").arg(filmName);
        message = QStringLiteral("影片名称未采用中文，请检查后再进行检测!");
        return false;
    }
    // Only the two dates are read; whatever stands between them is the operator's business.
    if (encrypted && !(isValidDate(kdmDate.left(8)) && isValidDate(kdmDate.right(8)))) {
        failureDetail = QStringLiteral("KDM有效期：%1\n应为：yyyyMMdd-yyyyMMdd").arg(kdmDate);
        message = QStringLiteral("KDM有效期格式输入不正确，请检查后再进行检测!");
        return false;
    }
    if (!isValidDate(vetDate)) {
        failureDetail = QStringLiteral("送审日期：%1\n应为：yyyyMMdd").arg(vetDate);
        message = QStringLiteral("送审日期格式输入不正确，请检查后再进行检测!");
        return false;
    }
    return true;
}
