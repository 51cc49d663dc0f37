#include "platform/win/win32volumes.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace win32volumes {
namespace {

// The bus type is the 32-bit field at byte 28 of the device descriptor.
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "descriptor layout");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "query layout");
constexpr DWORD kBusTypeEnd = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(DWORD);
// A device descriptor with its vendor, product and serial texts stays far below this.
constexpr DWORD kMaxDescriptorSize = 64 * 1024;

class HandleGuard
{
public:
    explicit HandleGuard(HANDLE handle) : handle(handle) {}
    ~HandleGuard() { CloseHandle(handle); }
    HandleGuard(const HandleGuard &) = delete;
    HandleGuard &operator=(const HandleGuard &) = delete;

private:
    HANDLE handle;
};

// "E:" from "E:/", "E:\" or "E:"; empty when the root does not start with a drive letter.
std::wstring driveOf(const std::string &rootPath)
{
    const std::wstring root = toUtf16(rootPath);
    if (root.size() < 2 || root[1] != L':')
        return std::wstring();
    const wchar_t letter = root[0];
    if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')))
        return std::wstring();
    return root.substr(0, 2);
}

bool queryProperty(HANDLE handle, void *output, DWORD outputSize, DWORD &returned)
{
    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    returned = 0;
    return DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, output,
                           outputSize, &returned, nullptr) != FALSE;
}

} // namespace

std::wstring toUtf16(const std::string &utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX)
        return std::wstring();
    const int inputSize = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputSize, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring result(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputSize, &result[0], size) != size)
        return std::wstring();
    return result;
}

std::string toUtf8(const std::wstring &utf16)
{
    if (utf16.empty() || utf16.size() > INT_MAX)
        return std::string();
    const int inputSize = static_cast<int>(utf16.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inputSize, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inputSize, &result[0], size, nullptr,
                            nullptr) != size)
        return std::string();
    return result;
}

bool isFixedDrive(const std::string &rootPath)
{
    const std::wstring drive = driveOf(rootPath);
    if (drive.empty())
        return false;
    const std::wstring root = drive + L"\\";
    return GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
}

bool isUsbVolume(const std::string &rootPath)
{
    const std::wstring drive = driveOf(rootPath);
    if (drive.empty())
        return false;
    const std::wstring device = L"\\\\.\\" + drive;
    // The storage-property query needs no access rights; asking for read and write would need
    // an administrator and hide every USB disk from an ordinary user.
    const HANDLE handle = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const HandleGuard guard(handle);

    STORAGE_DESCRIPTOR_HEADER header;
    std::memset(&header, 0, sizeof header);
    DWORD returned = 0;
    if (!queryProperty(handle, &header, sizeof header, returned) || returned < sizeof header)
        return false;
    if (header.Size < kBusTypeEnd || header.Size > kMaxDescriptorSize)
        return false;

    const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[header.Size]);
    if (!buffer)
        return false;
    std::memset(buffer.get(), 0, header.Size);
    if (!queryProperty(handle, buffer.get(), header.Size, returned) || returned < kBusTypeEnd)
        return false;

    DWORD busType = 0;
    std::memcpy(&busType, buffer.get() + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType),
                sizeof busType);
    return busType == static_cast<DWORD>(BusTypeUsb);
}

std::string fileSystemName(const std::string &rootPath)
{
    const std::wstring drive = driveOf(rootPath);
    if (drive.empty())
        return std::string();
    const std::wstring root = drive + L"\\";
    wchar_t volumeName[MAX_PATH + 1];
    wchar_t systemName[MAX_PATH + 1];
    std::memset(volumeName, 0, sizeof volumeName);
    std::memset(systemName, 0, sizeof systemName);
    DWORD serialNumber = 0;
    DWORD maxComponentLength = 0;
    DWORD flags = 0;
    if (!GetVolumeInformationW(root.c_str(), volumeName, MAX_PATH + 1, &serialNumber,
                               &maxComponentLength, &flags, systemName, MAX_PATH + 1))
        return std::string();
    systemName[MAX_PATH] = L'\0';
    return toUtf8(std::wstring(systemName));
}

} // namespace win32volumes
