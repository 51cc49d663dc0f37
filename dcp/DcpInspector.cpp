#include "dcp/DcpInspector.h"

#include <QDateTime>
#include <QDir>

const QString kInteropNamespacePrefix = QStringLiteral("http://www.digicine.com");
const QString kSmpteNamespacePrefix = QStringLiteral("http://www.smpte-ra.org");

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
    failureDetail.clear();
    kdm.filePath.clear();
    kdm.namespaceUri.clear();
    kdm.messageId.clear();
    kdm.compositionPlaylistId.clear();
    kdm.notValidBefore.clear();
    kdm.notValidAfter.clear();
    masterFolder.clear();
    cplName.clear();
    for (const LabelField &field : labelFields())
        (this->*field.member).clear();
    encrypted = true;
}

bool isValidDate(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyyMMdd")).isValid();
}

QString DcpInspector::masterRoot() const
{
    return masterFolder.isEmpty() ? removableDrives.value(0) : masterFolder;
}

QString DcpInspector::displayPath(const QString &path) const
{
    QString root = masterRoot();
    if (!root.isEmpty() && !root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    if (!root.isEmpty() && path.startsWith(root) && path.size() > root.size())
        return path.mid(root.size());
    return QDir::toNativeSeparators(path);
}

const QVector<LabelField> &labelFields()
{
    using I = DcpInspector;
    static const QVector<LabelField> kFields = {
        {"filmName", &I::filmName, true, "影片名称", "影片名称为空!"},
        {"kdmDate", &I::kdmDate, false, "KDM有效期", "KDM有效期为空!"},
        {"duration", &I::duration, false, "片长", "片长为空!"},
        {"resolution", &I::resolution, false, "图像分辨率", "图像分辨率为空!"},
        {"aspect", &I::aspect, false, "图像宽高比", "图像宽高比为空!"},
        {"frame", &I::frame, false, "帧速率", "帧速率为空!"},
        {"color", &I::color, true, "色域", "色域为空!"},
        {"audio", &I::audio, true, "声音制式", "声音制式为空!"},
        {"vetDate", &I::vetDate, false, "送审日期", "送审日期为空!"},
        {"producer", &I::producer, true, "出品单位", "电影第一出品单位为空!"},
        {"diskInterface", &I::diskInterface, true, nullptr, "请选择移动硬盘接口!"},
    };
    return kFields;
}
