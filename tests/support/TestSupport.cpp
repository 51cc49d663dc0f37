#include "support/TestSupport.h"

#include "platform/FileReader.h"
#include "support/FixtureBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
QtMessageHandler testLibraryHandler = nullptr;

void warningGuard(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The offscreen platform says so of every window whose size hints change.
    if (message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    // A bare X server without a window manager refuses focus to a window that is not yet mapped;
    // the screenshots run there.
    if (message.startsWith(QLatin1String("QXcbConnection: XCB error: 8 (BadMatch)")) &&
        message.contains(QLatin1String("(SetInputFocus)")))
        return;
    testLibraryHandler(type, context, message);
    const bool mainThread = QCoreApplication::instance() &&
                            QThread::currentThread() == QCoreApplication::instance()->thread();
    if ((type == QtWarningMsg || type == QtCriticalMsg) && mainThread &&
        QTest::currentTestFunction())
        QTest::qFail(qPrintable(QStringLiteral("unexpected Qt message: ") + message),
                     context.file ? context.file : "", context.line);
}
} // namespace

void failOnQtWarnings()
{
    if (!testLibraryHandler)
        testLibraryHandler = qInstallMessageHandler(warningGuard);
}

QChar cellLetter(CellKind kind)
{
    return QStringLiteral(".PF~-U").at(int(kind));
}

QChar resultLetter(const QString &text)
{
    for (const CellKind kind : {CellKind::Blank, CellKind::Pass, CellKind::Fail, CellKind::Progress,
                                CellKind::NotApplicable, CellKind::UnencryptedPass}) {
        if (text == cellKindText(kind))
            return cellLetter(kind);
    }
    return text.endsWith(QLatin1Char('%')) ? cellLetter(CellKind::Progress) : QLatin1Char('?');
}

QString resultLetters(const QStringList &texts)
{
    QString letters;
    for (const QString &text : texts)
        letters += resultLetter(text);
    return letters;
}

QString corpusDir()
{
    const QDir dir(QStringLiteral(TAVIMOR_CORPUS_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}

#ifdef Q_OS_WIN
bool runningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

QString missingReason()
{
    return FileReader::systemErrorText(ERROR_FILE_NOT_FOUND);
}

QString unreadableReason()
{
    return FileReader::systemErrorText(ERROR_SHARING_VIOLATION);
}

QString folderReason()
{
    return FileReader::systemErrorText(ERROR_ACCESS_DENIED);
}
#else
bool runningUnderWine()
{
    return false;
}

QString missingReason()
{
    return FileReader::systemErrorText(ENOENT);
}

QString unreadableReason()
{
    return FileReader::systemErrorText(EACCES);
}

QString folderReason()
{
    return FileReader::systemErrorText(EISDIR);
}
#endif

bool currentRowIn(const QStringList &tags)
{
    return tags.contains(QString::fromUtf8(QTest::currentDataTag()));
}

void writeFile(const QString &path, const QByteArray &bytes, bool append)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(append ? QIODevice::Append : QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size())
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString fileDigest(const QString &path)
{
    return FixtureBuilder::sha1Base64(readFile(path));
}

QStringList folderSnapshot(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const bool plain = info.isFile() && !info.isSymLink();
        entries << info.filePath() + QLatin1Char(' ') + info.symLinkTarget() + QLatin1Char(' ') +
                       (plain ? fileDigest(info.filePath()) : QString());
    }
    entries.sort();
    return entries;
}

#ifdef Q_OS_WIN
// Windows has no mode that keeps a file's owner out, and Wine enforces no access lists; a handle
// that shares nothing does it on both: every other open fails until the handle is closed.
Unreadable::Unreadable(const QString &path) : m_path(QFile::encodeName(path))
{
    const QString native = QDir::toNativeSeparators(path);
    m_lock = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), GENERIC_READ, 0,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Unreadable::~Unreadable()
{
    if (m_lock != INVALID_HANDLE_VALUE)
        CloseHandle(m_lock);
}
#else
Unreadable::Unreadable(const QString &path) : m_path(QFile::encodeName(path))
{
    ::chmod(m_path.constData(), 0);
    if (::geteuid() != 0)
        return;
    for (QDir dir = QFileInfo(path).dir(); !dir.isRoot(); dir.cdUp()) {
        const QByteArray folder = QFile::encodeName(dir.path());
        struct stat info;
        if (::stat(folder.constData(), &info) == 0 && !(info.st_mode & S_IXOTH)) {
            ::chmod(folder.constData(), info.st_mode | S_IXOTH);
            m_opened.append({folder, info.st_mode});
        }
    }
    // The group too: root's group would otherwise select the folders' group bits.
    m_dropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
}

Unreadable::~Unreadable()
{
    if (m_dropped && (::seteuid(0) != 0 || ::setegid(0) != 0))
        qFatal("cannot take root back");
    for (const auto &folder : qAsConst(m_opened))
        ::chmod(folder.first.constData(), static_cast<mode_t>(folder.second));
    ::chmod(m_path.constData(), 0644);
}
#endif
