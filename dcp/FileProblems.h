#pragma once

#include <QString>

// The operator's messages for files that could not be read or that changed while the run looked
// at them. A disk that fails to read is a different fault from a package that was made wrongly,
// and the operator must be told which, with the file named.

// "无法读取文件：<path>（<reason>），请检查移动硬盘后，再进行检测!"
QString unreadableFileMessage(const QString &path, const QString &reason);

// The file's content, size or identity changed between the start and the end of its check.
QString changedFileMessage(const QString &path);
