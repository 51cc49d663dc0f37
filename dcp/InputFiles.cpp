#include "dcp/InputFiles.h"

#include <QFile>
#include <QFileInfo>

InputFileProblem inputFileProblem(const QString &path, qint64 limit, QString *reason)
{
    QString ignored;
    QString &why = reason ? *reason : ignored;
    const QFileInfo info(path);
    if (!info.exists()) {
        why = info.isSymLink() ? QStringLiteral("the link leads nowhere")
                               : QStringLiteral("no such file");
        return InputFileProblem::Missing;
    }
    if (info.isDir()) {
        why = QStringLiteral("it is a folder");
        return InputFileProblem::NotRegular;
    }
    // isFile() is true for regular files only: devices, pipes and sockets are none.
    if (!info.isFile()) {
        why = QStringLiteral("it is not a regular file (a device, pipe or socket)");
        return InputFileProblem::NotRegular;
    }
    if (info.size() > limit) {
        why = QStringLiteral("it is larger than %1 KiB").arg(limit / 1024);
        return InputFileProblem::TooLarge;
    }
    why.clear();
    return InputFileProblem::None;
}

InputFile readInputFile(const QString &path, qint64 limit)
{
    InputFile result;
    result.problem = inputFileProblem(path, limit, &result.reason);
    if (result.problem != InputFileProblem::None)
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = InputFileProblem::Unreadable;
        result.reason = file.errorString();
        return result;
    }
    // One byte more than allowed tells a file that grew since it was looked at.
    result.bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        result.problem = InputFileProblem::Unreadable;
        result.reason = file.errorString();
        result.bytes.clear();
    } else if (result.bytes.size() > limit) {
        result.problem = InputFileProblem::TooLarge;
        result.reason = QStringLiteral("it is larger than %1 KiB").arg(limit / 1024);
        result.bytes.clear();
    }
    return result;
}

QVector<IniLine> iniLines(const QString &text, const QString &commentStarts)
{
    QVector<IniLine> result;
    QString section;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        IniLine line;
        line.number = i + 1;
        const QString content = lines.at(i).trimmed();
        if (content.isEmpty()) {
            line.kind = IniLine::Blank;
        } else if (commentStarts.contains(content.at(0))) {
            line.kind = IniLine::Comment;
        } else if (content.startsWith(QLatin1Char('[')) && content.endsWith(QLatin1Char(']'))) {
            line.kind = IniLine::Section;
            section = content.mid(1, content.size() - 2).trimmed();
        } else {
            const int equals = content.indexOf(QLatin1Char('='));
            line.kind = equals > 0 ? IniLine::Entry : IniLine::Malformed;
            if (equals > 0) {
                line.key = content.left(equals).trimmed();
                line.value = content.mid(equals + 1).trimmed();
            }
        }
        line.section = section;
        result.append(line);
    }
    return result;
}
