#include "platform/FileReader.h"

#include <QDir>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {
QString systemReason(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString reason = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                                : QStringLiteral("error %1").arg(error);
    if (text)
        LocalFree(text);
    return reason;
}

bool isAbsentError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

FileState fromError(DWORD error)
{
    FileState state;
    state.status = isAbsentError(error) ? FileState::Absent : FileState::Error;
    state.reason = systemReason(error);
    return state;
}

FileState fromHandle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return fromError(GetLastError());
    FileState state;
    // A file deleted while open stays reachable until its last handle closes; it is gone all
    // the same.
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending) {
        state.status = FileState::Absent;
        return state;
    }
    state.status = FileState::Present;
    state.device = info.dwVolumeSerialNumber;
    state.index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    state.modified = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32) |
                            info.ftLastWriteTime.dwLowDateTime);
    return state;
}

std::wstring nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
} // namespace

FileReader::FileReader() : m_handle(reinterpret_cast<qintptr>(INVALID_HANDLE_VALUE)) {}

bool FileReader::open(const QString &path)
{
    close();
    m_absent = false;
    m_error.clear();
    // Others may keep reading and writing; a change is found by comparing states afterwards.
    const HANDLE handle = CreateFileW(nativeName(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        m_absent = isAbsentError(error);
        m_error = systemReason(error);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(handle);
    return true;
}

void FileReader::close()
{
    const HANDLE handle = reinterpret_cast<HANDLE>(m_handle);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    m_handle = reinterpret_cast<qintptr>(INVALID_HANDLE_VALUE);
}

qint64 FileReader::read(char *data, qint64 maxSize)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(m_handle);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = systemReason(ERROR_INVALID_HANDLE);
        return -1;
    }
    DWORD done = 0;
    const DWORD wanted = static_cast<DWORD>(qMin<qint64>(maxSize, 1 << 30));
    if (!ReadFile(handle, data, wanted, &done, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        m_error = systemReason(error);
        return -1;
    }
    return qint64(done);
}

FileState FileReader::state() const
{
    const HANDLE handle = reinterpret_cast<HANDLE>(m_handle);
    if (handle == INVALID_HANDLE_VALUE)
        return fromError(ERROR_INVALID_HANDLE);
    return fromHandle(handle);
}

FileState FileReader::stateAt(const QString &path)
{
    // Attributes only: works on files that are open elsewhere, and on folders.
    const HANDLE handle = CreateFileW(nativeName(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fromError(GetLastError());
    const FileState state = fromHandle(handle);
    CloseHandle(handle);
    return state;
}

QString FileReader::systemErrorText(int code)
{
    return systemReason(DWORD(code));
}
