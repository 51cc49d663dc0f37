#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// Where the shared corpus of documents written by other tools lives; empty when absent.
QString corpusDir();

// Every entry below a folder, sorted: its path, link target and content digest. Two snapshots
// that compare equal show that nothing was written, removed or replaced in between.
QStringList folderSnapshot(const QString &folder);

// Makes a file unreadable for this process: mode 000, and for root, whom modes do not stop, an
// unprivileged effective user until the object goes. The folders above the file are opened for
// searching meanwhile, so that only the file itself is out of reach.
class Unreadable
{
public:
    explicit Unreadable(const QString &path);
    ~Unreadable();
    Unreadable(const Unreadable &) = delete;
    Unreadable &operator=(const Unreadable &) = delete;

private:
    QByteArray m_path;
    QVector<QPair<QByteArray, unsigned>> m_opened; // folders and their modes before
    bool m_dropped = false;
};
