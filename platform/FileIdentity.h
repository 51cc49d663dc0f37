#pragma once

#include <QString>
#include <QtGlobal>

// Which object on which volume a path leads to, links followed. Two paths with the same identity
// reach the same folder, however many links lie between, so a walk keyed by it enters every real
// folder once.
struct FileIdentity
{
    bool valid = false; // false: the path could not be reached
    quint64 volume = 0; // device number / volume serial number
    quint64 index = 0;  // inode / file index on that volume
    bool link = false;  // the path itself is a symbolic link or another reparse point

    bool operator==(const FileIdentity &other) const
    {
        return valid == other.valid && volume == other.volume && index == other.index;
    }
};

FileIdentity fileIdentity(const QString &path);

// Whether the path itself (not what it leads to) is a symbolic link or another reparse point.
// One implementation per system.
bool isLinkItself(const QString &path);

inline uint qHash(const FileIdentity &id, uint seed = 0)
{
    return uint((id.volume * 0x9E3779B97F4A7C15ull) ^ id.index) ^ seed;
}
