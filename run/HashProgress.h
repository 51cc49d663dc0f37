#pragma once

#include <QString>
#include <QtGlobal>

// "612 MB/s  1 min 20 s left" for bytesDone of totalBytes hashed in elapsedMs; empty while too
// little is known for a sound estimate (under a second, or nothing hashed yet).
QString throughputText(qint64 bytesDone, qint64 totalBytes, qint64 elapsedMs);
