#include "run/LabelRules.h"

#include "dcp/DcpInspector.h"

#include <QRegularExpression>

#include <algorithm>

bool DcpInspector::checkLabelFields(QString &message) const
{
    // The interface first: it is the one choice the package cannot pre-fill. A field of blanks
    // counts as filled.
    QVector<LabelField> fields = labelFields();
    std::stable_partition(fields.begin(), fields.end(), [](const LabelField &field) {
        return field.member == &DcpInspector::diskInterface;
    });
    for (const LabelField &field : qAsConst(fields)) {
        if ((this->*field.member).isEmpty()) {
            message = QString::fromUtf8(field.emptyMessage);
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
