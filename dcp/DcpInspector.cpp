#include "dcp/DcpInspector.h"

#include <QDateTime>

const QString kInteropNamespacePrefix = QStringLiteral("http://www.digicine.com");
const QString kSmpteNamespacePrefix = QStringLiteral("http://www.smpte-ra.org");

DcpInspector gDcpInspector;

bool hasDcpNamespace(const QString &namespaceUri)
{
    return namespaceUri.contains(kInteropNamespacePrefix, Qt::CaseSensitive) ||
           namespaceUri.contains(kSmpteNamespacePrefix, Qt::CaseSensitive);
}

void DcpInspector::resetRunData()
{
    removableDrives.clear();
    assetMapPaths.clear();
    cpls.clear();
    pkls.clear();
    kdms.clear();
    assetMap.assets.clear();
    kdm.subjectNames.clear();
    kdm.recipientSubjectName.clear();
    unreadableFile.clear();
    unreadableReason.clear();
    kdm.namespaceUri.clear();
    kdm.messageId.clear();
    kdm.compositionPlaylistId.clear();
    kdm.notValidBefore.clear();
    kdm.notValidAfter.clear();
    cplName.clear();
    filmName.clear();
    kdmDate.clear();
    duration.clear();
    resolution.clear();
    aspect.clear();
    frame.clear();
    color.clear();
    audio.clear();
    vetDate.clear();
    producer.clear();
    diskInterface.clear();
    encrypted = true;
}

bool isValidDate(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyyMMdd")).isValid();
}
