#include "run/LabelRules.h"

#include "dcp/DcpInspector.h"

#include <QRegularExpression>

bool DcpInspector::checkLabelFields(QString &message) const
{
    // The interface first: it is the one choice the package cannot pre-fill. A field of blanks
    // counts as filled.
    const struct
    {
        const QString &field;
        const char *message;
    } fields[] = {
        {diskInterface, "请选择移动硬盘接口!"},
        {filmName, "影片名称为空!"},
        {kdmDate, "KDM有效期为空!"},
        {duration, "片长为空!"},
        {resolution, "图像分辨率为空!"},
        {aspect, "图像宽高比为空!"},
        {frame, "帧速率为空!"},
        {color, "色域为空!"},
        {audio, "声音制式为空!"},
        {vetDate, "送审日期为空!"},
        {producer, "电影第一出品单位为空!"},
    };
    for (const auto &entry : fields) {
        if (entry.field.isEmpty()) {
            message = QString::fromUtf8(entry.message);
            return false;
        }
    }
    return true;
}

bool isUsb3OrHigher(const QString &diskInterface)
{
    // A version is "USB" and a major number, with a minor number that 3 needs and 4 on may
    // leave out. Leading zeros and blanks are not how the dialog offers a version.
    static const QRegularExpression kVersion(
        QStringLiteral("\\AUSB([1-9][0-9]{0,2})(?:\\.([0-9]{1,3}))?\\z"));
    const QRegularExpressionMatch match = kVersion.match(diskInterface);
    if (!match.hasMatch())
        return false;
    const int major = match.capturedRef(1).toInt();
    return major > 3 || (major == 3 && !match.captured(2).isEmpty());
}
