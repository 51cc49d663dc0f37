#include "platform/FileReader.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

FileState fromStat(const struct stat &info)
{
    FileState state;
    state.status = FileState::Present;
    state.device = static_cast<quint64>(info.st_dev);
    state.index = static_cast<quint64>(info.st_ino);
    state.size = static_cast<qint64>(info.st_size);
    state.modified = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return state;
}

FileState fromError(int error)
{
    FileState state;
    state.status = (error == ENOENT || error == ENOTDIR) ? FileState::Absent : FileState::Error;
    state.reason = systemReason(error);
    return state;
}
} // namespace

FileReader::FileReader() : m_handle(-1) {}

bool FileReader::open(const QString &path)
{
    close();
    m_absent = false;
    m_error.clear();
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_absent = errno == ENOENT || errno == ENOTDIR;
        m_error = systemReason(errno);
        return false;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    // The reads are strictly sequential; telling the kernel lets it read ahead further.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    m_handle = fd;
    return true;
}

void FileReader::close()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

qint64 FileReader::read(char *data, qint64 maxSize)
{
    if (m_handle < 0) {
        m_error = systemReason(EBADF);
        return -1;
    }
    ssize_t n;
    do {
        n = ::read(static_cast<int>(m_handle), data, static_cast<size_t>(maxSize));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_error = systemReason(errno);
        return -1;
    }
    return n;
}

FileState FileReader::state() const
{
    struct stat info;
    if (m_handle < 0)
        return fromError(EBADF);
    if (::fstat(static_cast<int>(m_handle), &info) != 0)
        return fromError(errno);
    return fromStat(info);
}

FileState FileReader::stateAt(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return fromError(errno);
    return fromStat(info);
}

QString FileReader::systemErrorText(int code)
{
    return systemReason(code);
}
