#pragma once

#include <string>

// The Win32 volume queries behind the carrier rules, kept free of Qt so that they build and can
// be checked on their own. Texts are UTF-8. A drive is named by its root ("E:/", "E:\" or "E:");
// only the drive letter and colon are used.
namespace win32volumes {

// The drive reports a fixed medium (DRIVE_FIXED): USB hard disks do, flash sticks do not.
bool isFixedDrive(const std::string &rootPath);
// The volume's storage device is attached through USB.
bool isUsbVolume(const std::string &rootPath);
// The volume's file-system name ("NTFS", "exFAT", …); empty when it cannot be read.
std::string fileSystemName(const std::string &rootPath);

std::wstring toUtf16(const std::string &utf8);
std::string toUtf8(const std::wstring &utf16);

} // namespace win32volumes
