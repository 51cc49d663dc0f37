#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

// Where the shared corpus of documents written by other tools lives; empty when absent.
QString corpusDir();

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
