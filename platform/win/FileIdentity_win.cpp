#include "platform/FileIdentity.h"

#include <QDir>

#include <windows.h>

// A folder link (a junction, or a symbolic link as Wine shows it) is a reparse point whose
// toolkit file info may not say it is a link; the attributes of the path itself do.
bool isLinkItself(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(native.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
