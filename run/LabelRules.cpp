#include "dcp/DcpInspector.h"

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
