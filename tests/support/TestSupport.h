#pragma once

#include "run/CheckList.h"

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The check list as one letter a row, the same in every suite: "." blank, "P" pass, "F" fail,
// "~" progress, "-" not applicable, "U" passed unencrypted; "?" for a text that is none of these.
QChar cellLetter(CellKind kind);
// The letter of a result text as the check list shows it (a progress text is "检测中......" or a
// share ending in "%").
QChar resultLetter(const QString &text);
QString resultLetters(const QStringList &texts);

// Makes each Qt warning or critical message that the main thread logs while a test function runs
// fail that function; the test library still prints it. Called first in every suite's
// initTestCase: the test library installs its own message handler just before, and this one
// passes every message on to it.
void failOnQtWarnings();

// Where the shared corpus of documents written by other tools lives; empty when absent.
QString corpusDir();

// The reasons the system gives for a file that is not there, one that Unreadable holds, and a
// folder opened as a file.
QString missingReason();
QString unreadableReason();
QString folderReason();

// True when the current test row is one of these, by its tag.
bool currentRowIn(const QStringList &tags);

// Skips the current row on Windows when the condition holds, saying why: for rows whose fixture
// needs what only POSIX systems give a test (links made with QFile::link, which makes shortcut
// files on Windows, /proc, pipes and devices as files, renaming over an open file).
#ifdef Q_OS_WIN
#define SKIP_ON_WINDOWS_IF(condition, why)                                                         \
    do {                                                                                           \
        if (condition)                                                                             \
            QSKIP(why);                                                                            \
    } while (false)
#else
#define SKIP_ON_WINDOWS_IF(condition, why)                                                         \
    do {                                                                                           \
    } while (false)
#endif
// The fixtures of these rows need POSIX files or links.
#define POSIX_FIXTURE "the fixture of this row needs POSIX files or links"

// True in a Windows program that Wine runs.
bool runningUnderWine();

// Writes (or appends) the bytes, making the folders above the file; a failure fails the test.
void writeFile(const QString &path, const QByteArray &bytes, bool append = false);
// A file's bytes, empty when it cannot be read, and their SHA-1 in Base64.
QByteArray readFile(const QString &path);
QString fileDigest(const QString &path);

// Every entry below a folder, sorted: its path, link target and content digest. Two snapshots
// that compare equal show that nothing was written, removed or replaced in between.
QStringList folderSnapshot(const QString &folder);

// Makes a file unreadable for this process: mode 000, and for root, whom modes do not stop, an
// unprivileged effective user until the object goes. The folders above the file are opened for
// searching meanwhile, so that only the file itself is out of reach. On Windows the file is held
// open without sharing instead.
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
    void *m_lock = nullptr; // Windows: the handle that shares nothing
};
