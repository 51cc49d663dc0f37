#include "platform/FileIdentity.h"

#include <QDir>

#include <windows.h>

// A folder link (a junction, or a symbolic link as Wine shows it) is a reparse point whose
// toolkit file info may not say it is a link; the attributes of the path itself do.
FileIdentity fileIdentity(const QString &path)
{
    FileIdentity id;
    const QString native = QDir::toNativeSeparators(path);
    const auto *wide = reinterpret_cast<const wchar_t *>(native.utf16());
    // Backup semantics opens folders too; no access right is needed to read the identity.
    const HANDLE handle =
        CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known)
        return id;
    id.valid = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const DWORD attributes = GetFileAttributesW(wide);
    id.link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return id;
}
