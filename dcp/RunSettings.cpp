#include "dcp/RunSettings.h"

#include "dcp/InputFiles.h"

#include <QHash>
#include <QSettings>
#include <QVariant>

namespace {
// The value texts of one group's keys as written in the INI file, before the toolkit's INI
// syntax splits them at commas or drops backslashes; keys lower-cased. A later line wins. Lines
// are taken whole, so no part of a comment, however long, is ever read as an entry.
QHash<QString, QString> rawIniGroup(const QString &path, const QString &group)
{
    QHash<QString, QString> values;
    InputFile file = readInputFile(path);
    if (file.problem != InputFileProblem::None)
        return values;
    // The toolkit's INI reading ends a line at either character.
    file.bytes.replace('\r', '\n');
    for (const IniLine &line : iniLines(QString::fromUtf8(file.bytes), QStringLiteral(";"))) {
        if (line.kind == IniLine::Entry && line.section.compare(group, Qt::CaseInsensitive) == 0)
            values.insert(line.key.toLower(), line.value);
    }
    return values;
}

// The approved certificate entries. An unquoted value is taken exactly as written up to a ";"
// comment (commas, blanks and backslashes of a subject name kept); a value in double quotes is
// read with the toolkit's INI unescaping. Entries that are empty or blank approve no device and
// are left out, so a missing key never matches every subject name.
QStringList approvedCertificates(QSettings &settings, const QString &path,
                                 const QStringList &certKeys)
{
    const int num = settings.value(QStringLiteral("cert_num/num")).toInt();

    // Indexes beyond the highest key present can only give missing entries; bounding the loop
    // by it keeps an absurd "num" from stalling the run.
    int highestIndex = -1;
    for (const QString &key : certKeys) {
        if (!key.startsWith(QLatin1String("cert"), Qt::CaseInsensitive))
            continue;
        bool isNumber = false;
        const int index = key.midRef(4).toInt(&isNumber);
        if (isNumber && index > highestIndex)
            highestIndex = index;
    }

    QStringList certs;
    const int count = qMin(num, highestIndex + 1);
    const QHash<QString, QString> raw =
        count > 0 ? rawIniGroup(path, QStringLiteral("cert_list")) : QHash<QString, QString>();
    for (int i = 0; i < count; ++i) {
        const QString key = QStringLiteral("cert%1").arg(i);
        const QVariant value = settings.value(QLatin1String("cert_list/") + key);
        if (!value.isValid())
            continue;
        const auto written = raw.constFind(key);
        QString text = written != raw.constEnd() ? written.value() : QString();
        if (written == raw.constEnd() || text.startsWith(QLatin1Char('"'))) {
            text = value.type() == QVariant::StringList
                       ? value.toStringList().join(QLatin1Char(','))
                       : value.toString();
        } else if (text.contains(QLatin1Char(';'))) {
            text = text.left(text.indexOf(QLatin1Char(';'))).trimmed(); // an INI comment
        }
        if (!text.trimmed().isEmpty())
            certs.append(text);
    }
    return certs;
}
} // namespace

QString defaultSettingsPath()
{
    return QStringLiteral("set.ini");
}

RunSettings readRunSettings(const QString &path)
{
    RunSettings result;
    result.path = path;
    if (inputFileProblem(path) != InputFileProblem::None)
        return result;
    QSettings settings(path, QSettings::IniFormat);

    bool isNumber = false;
    const int hashCheck = settings.value(QStringLiteral("hash/check")).toInt(&isNumber);
    result.hashCheck = isNumber && hashCheck != 0;

    for (const QString &key : {QStringLiteral("hash/check"), QStringLiteral("cert_num/num")}) {
        if (settings.contains(key))
            result.knownKeys << key;
    }
    settings.beginGroup(QStringLiteral("cert_list"));
    const QStringList certKeys = settings.childKeys();
    settings.endGroup();
    // The certificate entries are found as the KDM selection finds them.
    for (const QString &key : certKeys) {
        bool isIndex = false;
        key.midRef(4).toInt(&isIndex);
        if (isIndex && key.startsWith(QLatin1String("cert"), Qt::CaseInsensitive))
            result.knownKeys << QStringLiteral("cert_list/") + key;
    }

    result.certificates = approvedCertificates(settings, path, certKeys);
    return result;
}
