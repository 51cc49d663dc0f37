#include "dcp/DcpInspector.h"
#include "dcp/DcpXmlReader.h"
#include "dcp/InputFiles.h"
#include "dcp/RunEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace {

// Folder listing used by the asset-map search: sub-folders (links to folders included) and
// files, without hidden and system entries, in the order the file system gives them.
QFileInfoList searchEntries(const QString &folder)
{
    return QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                      QDir::NoSort);
}

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
    QString section;
    for (const QByteArray &bytes : file.bytes.split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || section.compare(group, Qt::CaseInsensitive) != 0)
            continue;
        values.insert(line.left(equals).trimmed().toLower(), line.mid(equals + 1).trimmed());
    }
    return values;
}

// The approved certificate entries of "set.ini", read afresh. An unquoted value is taken
// exactly as written up to a ";" comment (commas, blanks and backslashes of a subject name kept);
// a value in double quotes is read with the toolkit's INI unescaping. Entries that are empty or
// blank approve no device and are left out, so a missing key no longer matches every subject name.
QStringList approvedCertificates()
{
    const QString path = settingsFilePath();
    const std::unique_ptr<QSettings> settings = openSettingsFile();
    if (!settings)
        return {};
    const int num = settings->value(QStringLiteral("cert_num/num")).toInt();

    // Indexes beyond the highest key present can only give missing entries; bounding the loop
    // by it keeps an absurd "num" from stalling the run.
    settings->beginGroup(QStringLiteral("cert_list"));
    const QStringList keys = settings->childKeys();
    settings->endGroup();
    int highestIndex = -1;
    for (const QString &key : keys) {
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
        const QVariant value = settings->value(QLatin1String("cert_list/") + key);
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

bool DcpInspector::findMaster(QString &message)
{
    if (removableDrives.isEmpty()) {
        message = QString::fromUtf8("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
        return false;
    }
    const int code = loadMaster(removableDrives.first());
    if (code >= 2) {
        message =
            QString::fromUtf8("移动硬盘内有多个送审母版，请确认只有一个送审母版后，再进行检测!");
        return false;
    }
    switch (code) {
    case MasterOk:
        return true;
    case NotEncrypted:
        encrypted = false;
        return true;
    case NoAssetMap:
        message = QString::fromUtf8(
            "未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!");
        return false;
    case FilesMissing:
        message = QString::fromUtf8("送审母版文件不全，请确认存入完整送审母版后，再进行检测!");
        return false;
    case NoCpl:
        message = QString::fromUtf8("未检测到CPL文件，请确认存入完整送审母版后，再进行检测!");
        return false;
    case SeveralCpls:
        message =
            QString::fromUtf8("检测到多个CPL文件，请确认送审母版只包含1个CPL文件后，再进行检测!");
        return false;
    case NoPkl:
        message = QString::fromUtf8("未检测到PKL文件，请确认存入完整送审母版后，再进行检测!");
        return false;
    case SeveralPkls:
        message =
            QString::fromUtf8("检测到多个PKL文件，请确认送审母版只包含1个PKL文件后，再进行检测!");
        return false;
    case NoKdmFile:
    case NoMatchingKdm:
    default:
        message = QString::fromUtf8("未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放"
                                    "映设备正确后，再进行检测!");
        return false;
    }
}

int DcpInspector::loadMaster(const QString &driveRoot)
{
    assetMapPaths.clear();
    findAssetMaps(driveRoot);
    if (assetMapPaths.isEmpty())
        return NoAssetMap;
    if (assetMapPaths.size() >= 2)
        return assetMapPaths.size();

    const QString &assetMapPath = assetMapPaths.first();
    const QString masterFolder = assetMapPath.left(assetMapPath.lastIndexOf(QLatin1Char('/')));

    DcpXmlReader reader;
    const AssetMapInfo map = reader.readAssetMap(assetMapPath);
    assetMap.namespaceUri = map.namespaceUri;
    assetMap.id = map.id;
    assetMap.annotationText = map.annotationText;
    assetMap.assets = map.assets;

    for (const AssetInfo &asset : qAsConst(assetMap.assets)) {
        const QFileInfo file(masterFolder + QLatin1Char('/') + asset.path);
        if (!file.isFile())
            return FilesMissing;
        // Track files are only tested for existence; only documents are opened.
        if (file.suffix().toLower() != QLatin1String("xml"))
            continue;
        const QString path = file.filePath();
        switch (reader.classifyXml(path)) {
        case DcpXmlReader::Cpl:
            cpls.append(reader.readComposition(path));
            break;
        case DcpXmlReader::Pkl:
            pkls.append(reader.readPackingList(path));
            break;
        case DcpXmlReader::Kdm:
        case DcpXmlReader::Unknown:
            break;
        }
    }

    if (cpls.isEmpty())
        return NoCpl;
    if (cpls.size() > 1)
        return SeveralCpls;
    if (pkls.isEmpty())
        return NoPkl;
    if (pkls.size() > 1)
        return SeveralPkls;
    if (!cpls.first().encrypted)
        return NotEncrypted;
    if (!scanKdms(driveRoot))
        return NoKdmFile;
    return selectKdm() ? MasterOk : NoMatchingKdm;
}

void DcpInspector::findAssetMaps(const QString &folder)
{
    QVector<QString> ancestors;
    findAssetMapsIn(folder, ancestors);
}

// Depth first, each folder searched before the next entry of its parent. The walk keeps its own
// stack instead of recursing, so a deeply nested disk cannot exhaust the thread's stack.
// Folder links are followed; one that leads back to a folder on the current descent (itself or an
// ancestor) is a cycle and is skipped. A link to any other folder is searched even when that
// folder was searched before, since a master reached through it is a second copy on the disk.
void DcpInspector::findAssetMapsIn(const QString &folder, QVector<QString> &ancestors)
{
    struct Level
    {
        QFileInfoList entries;
        int next = 0;
    };
    const QString rootCanonical = QFileInfo(folder).canonicalFilePath();
    if (rootCanonical.isEmpty())
        return; // no such folder
    QVector<Level> stack;
    stack.append({searchEntries(folder), 0});
    ancestors.append(rootCanonical);

    while (!stack.isEmpty()) {
        Level &level = stack.last();
        if (level.next >= level.entries.size()) {
            stack.removeLast();
            ancestors.removeLast();
            continue;
        }
        const QFileInfo entry = level.entries.at(level.next++);
        if (entry.isDir()) {
            // Only a link can lead back up; a plain sub-folder's real path is its parent's plus
            // its name, which spares resolving every path of a deep tree component by component.
            const QString &parent = ancestors.last();
            const QString canonical =
                (entry.isSymLink() || entry.isJunction())
                    ? entry.canonicalFilePath()
                    : parent +
                          (parent.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                          entry.fileName();
            if (canonical.isEmpty() || ancestors.contains(canonical))
                continue;
            ancestors.append(canonical);
            stack.append({searchEntries(entry.absoluteFilePath()), 0}); // invalidates level
        } else {
            const QString name = entry.fileName();
            if (name == QLatin1String("ASSETMAP") || name == QLatin1String("ASSETMAP.xml"))
                assetMapPaths.append(entry.absoluteFilePath());
        }
    }
}

bool DcpInspector::scanKdms(const QString &driveRoot)
{
    DcpXmlReader reader;
    bool found = false;
    QDirIterator it(driveRoot, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().suffix() != QLatin1String("xml"))
            continue;
        if (reader.classifyXml(path) != DcpXmlReader::Kdm)
            continue;
        kdms.append(reader.readKdm(path));
        found = true;
    }
    return found;
}

bool DcpInspector::selectKdm()
{
    const QStringList certs = approvedCertificates();
    if (cpls.isEmpty())
        return false;
    const CplInfo &composition = cpls.first();
    const QString today = currentLocalDate().toString(QStringLiteral("yyyy-MM-dd"));

    for (const KdmInfo &candidate : qAsConst(kdms)) {
        if (candidate.compositionPlaylistId != composition.id)
            continue;
        // Plain text order of "yyyy-MM-dd" dates; a KDM that ends today is already unusable.
        if (!(today < candidate.notValidAfter.left(10)))
            continue;
        for (const QString &subject : candidate.subjectNames) {
            for (const QString &cert : certs) {
                if (subject.contains(cert, Qt::CaseSensitive)) {
                    kdm = candidate;
                    return true;
                }
            }
        }
    }
    return false;
}
