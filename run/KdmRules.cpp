#include "dcp/DcpInspector.h"

// Both rules look at every KDM on the disk, not only the one discovery chose; KDMs for other
// compositions are passed over.

bool DcpInspector::checkKdmCompositionId(QString &message) const
{
    message = QStringLiteral("KDM文件中的CompositionPlaylistId值和CPL文件中的UUID值不一致，请重新制"
                             "作DCP后，再进行检测!");
    if (cpls.isEmpty())
        return false;
    const QString &cplId = cpls.at(0).id;
    QStringList lines;
    for (const KdmInfo &candidate : kdms) {
        if (candidate.compositionPlaylistId == cplId) {
            message.clear();
            return true;
        }
        lines << QStringLiteral("%1：CompositionPlaylistId为%2")
                     .arg(displayPath(candidate.filePath), candidate.compositionPlaylistId);
    }
    failureDetail = QStringLiteral("CPL的Id：%1\n").arg(cplId) + lines.join(QLatin1Char('\n'));
    return false;
}

bool DcpInspector::checkKdmNamespace(QString &message) const
{
    message = QStringLiteral("KDM文件中的命名空间不符合，请重新制作DCP后，再进行检测!");
    if (cpls.isEmpty())
        return false;
    const QString &cplId = cpls.at(0).id;
    QStringList lines;
    for (const KdmInfo &candidate : kdms) {
        if (candidate.compositionPlaylistId == cplId && hasDcpNamespace(candidate.namespaceUri)) {
            message.clear();
            return true;
        }
        if (candidate.compositionPlaylistId == cplId)
            lines << QStringLiteral("%1：命名空间为%2")
                         .arg(displayPath(candidate.filePath), candidate.namespaceUri);
    }
    failureDetail =
        lines.join(QLatin1Char('\n')) +
        QStringLiteral("\n应包含：%1 或 %2").arg(kInteropNamespacePrefix, kSmpteNamespacePrefix);
    return false;
}
