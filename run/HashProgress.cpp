#include "run/HashProgress.h"

namespace {
QString durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}
} // namespace

QString throughputText(qint64 bytesDone, qint64 totalBytes, qint64 elapsedMs)
{
    if (elapsedMs < 1000 || bytesDone <= 0)
        return QString();
    const double bytesPerSecond = double(bytesDone) * 1000.0 / double(elapsedMs);
    const qint64 left = qMax<qint64>(0, totalBytes - bytesDone);
    // Rounded up: "0 s left" would claim the work is done.
    const qint64 secondsLeft = qint64((double(left) + bytesPerSecond - 1) / bytesPerSecond);
    return QStringLiteral("%1 MB/s  %2 left")
        .arg(qRound64(bytesPerSecond / 1e6))
        .arg(durationText(secondsLeft));
}
