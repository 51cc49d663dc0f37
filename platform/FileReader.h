#pragma once

#include <QString>
#include <QtGlobal>

// What the system says of one file at one moment: whether it is there, which file it is (device
// and file index, stable while it exists), its size and its last modification. A file is judged
// unchanged only while all of these stay the same.
struct FileState
{
    enum Status {
        Present,
        Absent, // nothing at that path (or a component of it is not a folder)
        Error   // the system could not tell; reason says why
    };
    Status status = Absent;
    QString reason;
    quint64 device = 0;
    quint64 index = 0;
    qint64 size = 0;
    qint64 modified = 0; // in the system's own units; only compared for equality

    bool isSameFile(const FileState &other) const
    {
        return status == Present && other.status == Present && device == other.device &&
               index == other.index;
    }
    // Same file, same size, same modification time.
    bool isUnchanged(const FileState &other) const
    {
        return isSameFile(other) && size == other.size && modified == other.modified;
    }
};

// Reads one file sequentially for hashing, with the system's own calls, so that a read error is
// told apart from the end of the file and the open file can be compared with what its path names
// later. One implementation per system.
class FileReader
{
public:
    FileReader();
    ~FileReader() { close(); }
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    // Opens read-only and tells the system the reads will be sequential. On failure, absent()
    // tells whether the file was simply not there, and errorString() the system's reason.
    bool open(const QString &path);
    void close();
    // Bytes read, 0 at the end of the file, -1 on a read error (errorString() says which).
    qint64 read(char *data, qint64 maxSize);
    // The open file's state (follows it across renames; the path may name another file by now).
    FileState state() const;
    bool absent() const { return m_absent; }
    QString errorString() const { return m_error; }

    // The state of whatever the path names now, links followed.
    static FileState stateAt(const QString &path);
    // The system's text for one of its error codes (errno, or GetLastError() on Windows).
    static QString systemErrorText(int code);

private:
    qintptr m_handle;
    bool m_absent = false;
    QString m_error;
};
