#include "dcp/InputFiles.h"

#include "dcp/RunEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

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

std::unique_ptr<QSettings> openSettingsFile()
{
    const QString path = settingsFilePath();
    if (inputFileProblem(path) != InputFileProblem::None)
        return nullptr;
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QStringList knownSettingsKeys()
{
    QStringList found;
    const std::unique_ptr<QSettings> settings = openSettingsFile();
    if (!settings)
        return found;
    for (const QString &key : {QStringLiteral("hash/check"), QStringLiteral("cert_num/num")}) {
        if (settings->contains(key))
            found << key;
    }
    // The certificate entries are found as the KDM selection finds them.
    settings->beginGroup(QStringLiteral("cert_list"));
    const QStringList certKeys = settings->childKeys();
    settings->endGroup();
    for (const QString &key : certKeys) {
        bool isNumber = false;
        key.midRef(4).toInt(&isNumber);
        if (isNumber && key.startsWith(QLatin1String("cert"), Qt::CaseInsensitive))
            found << QStringLiteral("cert_list/") + key;
    }
    return found;
}
