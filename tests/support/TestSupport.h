#pragma once

#include <QString>

// Where the shared corpus of documents written by other tools lives; empty when absent.
QString corpusDir();

// Clears a file's permission bits. Root reads such a file all the same, so code that must meet
// a read error runs while a DropFileAccess lives: in a process running as root it checks file
// access as the user "nobody", on this thread only. A test then tries the file itself and skips
// where it stays readable.
bool clearPermissions(const QString &path);

class DropFileAccess
{
public:
    DropFileAccess();
    ~DropFileAccess();
    DropFileAccess(const DropFileAccess &) = delete;
    DropFileAccess &operator=(const DropFileAccess &) = delete;

private:
    bool m_dropped = false;
};
