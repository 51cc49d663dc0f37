#include "dcp/DcpXmlReader.h"

#include "dcp/XmlBoundedStream.h"
#include "dcp/XmlDocumentReaders.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>

namespace {

bool isName(const XmlBoundedStream &xml, const char *name)
{
    return xml.name() == QLatin1String(name);
}

bool isTrackElement(const XmlBoundedStream &xml)
{
    return isName(xml, "MainPicture") || isName(xml, "MainSound") || isName(xml, "MainSubtitle") ||
           isName(xml, "MainStereoscopicPicture");
}

QString trackKind(const XmlBoundedStream &xml)
{
    if (isName(xml, "MainPicture"))
        return QStringLiteral("Picture");
    if (isName(xml, "MainSound"))
        return QStringLiteral("Sound");
    if (isName(xml, "MainStereoscopicPicture"))
        return QStringLiteral("Picture3D");
    return QStringLiteral("Subtitle");
}

// A non-negative decimal number in plain notation, as rates are written.
bool parsePlainNumber(const QString &text, double &value)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(?:\\.[0-9]+)?$"));
    if (!pattern.match(text).hasMatch())
        return false;
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

// Opens the file for a path-taking reader; a file that cannot be opened reads as empty. The
// device readers stop at a failed read as at the end of the file; the file keeps the error.
template <typename Record, typename Read>
Record readFile(const QString &filePath, QString *readError, Read read)
{
    QFile file(filePath);
    Record record = Record();
    if (file.open(QIODevice::ReadOnly))
        record = read(&file, XmlReadLimits());
    if (readError)
        *readError = file.error() == QFileDevice::NoError ? QString() : file.errorString();
    return record;
}

// Leading and trailing XML white space: space, tab, CR and LF. Ids, digests and paths are
// schema types that allow it around the value; other white space (a no-break space) is part of
// the value.
QString xmlTrimmed(const QString &text)
{
    const auto isXmlSpace = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
               c == QLatin1Char('\n');
    };
    int begin = 0;
    int end = text.size();
    while (begin < end && isXmlSpace(text.at(begin)))
        ++begin;
    while (end > begin && isXmlSpace(text.at(end - 1)))
        --end;
    return begin == 0 && end == text.size() ? text : text.mid(begin, end - begin);
}

// Collects every reel's assets alongside the composition's track fields, in the same pass: an
// asset is any child of a reel's AssetList, its fields only its own children (a metadata asset
// nests elements of other names). A reel or asset goes into the list at its end tag, so reading
// cut short by a fault never leaves a half-read one.
class ReelListReader
{
public:
    explicit ReelListReader(QVector<CplReel> &reels) : m_reels(reels) {}

    // At every start element, before anything takes its text.
    void enter(const XmlBoundedStream &xml)
    {
        ++m_depth;
        m_field = nullptr;
        m_number = nullptr;
        if (!m_reelDepth) {
            if (isName(xml, "Reel")) {
                m_reelDepth = m_depth;
                m_reel = CplReel();
            }
        } else if (!m_listDepth) {
            if (m_depth == m_reelDepth + 1 && isName(xml, "AssetList"))
                m_listDepth = m_depth;
            else if (m_depth == m_reelDepth + 1 && isName(xml, "Id"))
                m_field = &m_reel.id;
        } else if (!m_assetDepth) {
            if (m_depth == m_listDepth + 1) {
                m_assetDepth = m_depth;
                m_asset = CplReelAsset();
                m_asset.kind = xml.name().toString();
            }
        } else if (m_depth == m_assetDepth + 1) {
            if (isName(xml, "Id"))
                m_field = &m_asset.id;
            else if (isName(xml, "Hash"))
                m_field = &m_asset.hash;
            else if (isName(xml, "Duration"))
                m_number = &m_asset.duration;
            else if (isName(xml, "IntrinsicDuration"))
                m_number = &m_asset.intrinsicDuration;
            else if (isName(xml, "EntryPoint"))
                m_number = &m_asset.entryPoint;
        }
    }

    // After the start element was handled: text holds the element's text when it was taken.
    void takeField(XmlBoundedStream &xml, QString &text)
    {
        if (!m_field && !m_number)
            return;
        if (xml.isStartElement() && !xml.readElementText(text))
            return; // reading has stopped: nothing more is committed
        if (m_field) {
            *m_field = xmlTrimmed(text);
        } else {
            bool ok = false;
            const qint64 value = text.toLongLong(&ok, 10);
            *m_number = ok ? value : -1;
        }
    }

    // At every end element, a taken element's own included.
    void leave()
    {
        if (m_depth == m_assetDepth) {
            m_reel.assets.append(m_asset);
            m_assetDepth = 0;
        } else if (m_depth == m_listDepth) {
            m_listDepth = 0;
        } else if (m_depth == m_reelDepth) {
            m_reels.append(m_reel);
            m_reelDepth = 0;
        }
        --m_depth;
    }

private:
    QVector<CplReel> &m_reels;
    CplReel m_reel;
    CplReelAsset m_asset;
    int m_depth = 0;
    int m_reelDepth = 0; // depth of the open Reel, AssetList and asset; 0 when none is open
    int m_listDepth = 0;
    int m_assetDepth = 0;
    QString *m_field = nullptr; // the text field the current element fills, if any
    qint64 *m_number = nullptr;
};

} // namespace

namespace XmlDocumentReaders {

DcpXmlReader::DocumentKind classifyXml(QIODevice *device, const XmlReadLimits &limits)
{
    XmlBoundedStream xml(device, limits);
    while (xml.readNext()) {
        if (!xml.isStartElement())
            continue;
        if (isName(xml, "CompositionPlaylist"))
            return DcpXmlReader::Cpl;
        if (isName(xml, "PackingList"))
            return DcpXmlReader::Pkl;
        if (isName(xml, "DCinemaSecurityMessage"))
            return DcpXmlReader::Kdm;
    }
    return DcpXmlReader::Unknown;
}

AssetMapInfo readAssetMap(QIODevice *device, const XmlReadLimits &limits)
{
    AssetMapInfo record;
    XmlBoundedStream xml(device, limits);
    bool ownIdTaken = false;
    bool inAsset = false;
    AssetInfo pending;
    QString text;
    while (xml.readNext()) {
        if (xml.isStartElement()) {
            if (isName(xml, "AssetMap")) {
                record.namespaceUri = xml.namespaceUri().toString();
            } else if (isName(xml, "AnnotationText")) {
                // Every AnnotationText overwrites, an asset's own included: the last one wins.
                if (xml.readElementText(text))
                    record.annotationText = text;
            } else if (isName(xml, "Id")) {
                if (!ownIdTaken) {
                    if (xml.readElementText(text))
                        record.id = xmlTrimmed(text);
                    ownIdTaken = true;
                } else if (inAsset) {
                    if (xml.readElementText(text))
                        pending.id = xmlTrimmed(text);
                }
            } else if (isName(xml, "Asset")) {
                inAsset = true;
            } else if (isName(xml, "Path")) {
                if (xml.readElementText(text))
                    pending.path = xmlTrimmed(text);
            } else if (isName(xml, "Length")) {
                if (xml.readElementText(text))
                    pending.size = text.toLongLong(&pending.sizeGiven, 10);
            }
        }
        if (xml.isEndElement() && isName(xml, "Asset")) {
            record.assets.append(pending);
            pending = AssetInfo();
            inAsset = false;
        }
    }
    return record;
}

PklInfo readPackingList(QIODevice *device, const XmlReadLimits &limits)
{
    PklInfo record;
    XmlBoundedStream xml(device, limits);
    bool ownIdTaken = false;
    bool inAsset = false;
    AssetInfo pending;
    QString text;
    while (xml.readNext()) {
        if (xml.isStartElement()) {
            if (isName(xml, "PackingList")) {
                record.namespaceUri = xml.namespaceUri().toString();
            } else if (isName(xml, "AnnotationText")) {
                // The first non-empty AnnotationText wins, normally the list's own.
                if (record.annotationText.isEmpty() && xml.readElementText(text))
                    record.annotationText = text;
            } else if (isName(xml, "IssueDate")) {
                if (xml.readElementText(text))
                    record.issueDate = text.left(10);
            } else if (isName(xml, "Id")) {
                if (!ownIdTaken) {
                    if (xml.readElementText(text))
                        record.id = xmlTrimmed(text);
                    ownIdTaken = true;
                } else if (inAsset) {
                    if (xml.readElementText(text))
                        pending.id = xmlTrimmed(text);
                }
            } else if (isName(xml, "Asset")) {
                inAsset = true;
            } else if (isName(xml, "Hash")) {
                if (xml.readElementText(text))
                    pending.hash = xmlTrimmed(text);
            } else if (isName(xml, "Size")) {
                if (xml.readElementText(text))
                    pending.size = text.toLongLong(&pending.sizeGiven, 10);
            } else if (isName(xml, "Type")) {
                if (xml.readElementText(text))
                    pending.type = text;
            } else if (isName(xml, "OriginalFileName")) {
                if (xml.readElementText(text))
                    pending.path = xmlTrimmed(text);
            } else if (isName(xml, "GroupId")) {
                record.hasGroupId = true;
            }
        }
        if (xml.isEndElement() && isName(xml, "Asset")) {
            record.assets.append(pending);
            pending = AssetInfo();
            inAsset = false;
        }
    }
    return record;
}

CplInfo readComposition(QIODevice *device, const XmlReadLimits &limits)
{
    CplInfo record;
    XmlBoundedStream xml(device, limits);
    bool ownIdTaken = false;
    bool inTrack = false;
    // Values met outside a track stay pending and go with the next track that does not set them
    // itself; only a commit resets them.
    AssetInfo pending;
    ReelListReader reels(record.reels);
    QString text;
    while (xml.readNext()) {
        if (xml.isStartElement()) {
            reels.enter(xml);
            if (isName(xml, "CompositionPlaylist")) {
                record.namespaceUri = xml.namespaceUri().toString();
            } else if (isName(xml, "ContentTitleText")) {
                if (xml.readElementText(text))
                    record.contentTitleText = text;
            } else if (isTrackElement(xml)) {
                pending.type = trackKind(xml);
                if (isName(xml, "MainStereoscopicPicture") && !record.stereoscopic) {
                    record.stereoscopic = true;
                    record.stereoscopicNamespaceUri = xml.namespaceUri().toString();
                }
                inTrack = true;
            } else if (isName(xml, "Id")) {
                if (!ownIdTaken) {
                    if (xml.readElementText(text))
                        record.id = xmlTrimmed(text);
                    ownIdTaken = true;
                } else if (inTrack) {
                    if (xml.readElementText(text))
                        pending.id = xmlTrimmed(text);
                }
            } else if (isName(xml, "EditRate")) {
                if (xml.readElementText(text))
                    pending.editRate = DcpXmlReader::normalizeRate(text);
            } else if (isName(xml, "Duration")) {
                if (xml.readElementText(text))
                    pending.duration = text.toInt(nullptr, 10);
            } else if (isName(xml, "KeyId")) {
                // The element itself marks the composition encrypted, even when its text is cut.
                record.encrypted = true;
                if (xml.readElementText(text))
                    pending.keyId = xmlTrimmed(text);
            } else if (isName(xml, "Hash")) {
                if (xml.readElementText(text))
                    pending.hash = xmlTrimmed(text);
            } else if (isName(xml, "FrameRate")) {
                if (xml.readElementText(text))
                    pending.frameRate = DcpXmlReader::normalizeRate(text);
            } else if (isName(xml, "ScreenAspectRatio")) {
                if (xml.readElementText(text))
                    pending.aspectRatio =
                        DcpXmlReader::normalizeAspectRatio(text, pending.pictureSize);
            } else if (isName(xml, "Language")) {
                if (xml.readElementText(text))
                    pending.language = text;
            }
            // The fields above may have taken the element's text already; it is the same text.
            reels.takeField(xml, text);
        }
        if (xml.isEndElement()) {
            reels.leave();
            if (isTrackElement(xml)) {
                record.assets.append(pending);
                pending = AssetInfo();
                inTrack = false;
            }
        }
    }
    return record;
}

KdmInfo readKdm(QIODevice *device, const XmlReadLimits &limits)
{
    KdmInfo record;
    XmlBoundedStream xml(device, limits);
    QString text;
    // The recipient is the one device the KDM is addressed to; the other subject names belong
    // to the certificates that signed it.
    bool inExtensions = false;
    bool inRecipient = false;
    bool recipientTaken = false;
    while (xml.readNext()) {
        if (xml.isEndElement()) {
            if (isName(xml, "KDMRequiredExtensions"))
                inExtensions = false;
            else if (isName(xml, "Recipient"))
                inRecipient = false;
        }
        if (!xml.isStartElement())
            continue;
        if (isName(xml, "KDMRequiredExtensions")) {
            inExtensions = true;
        } else if (isName(xml, "Recipient")) {
            inRecipient = inExtensions;
        } else if (isName(xml, "DCinemaSecurityMessage")) {
            record.namespaceUri = xml.namespaceUri().toString();
        } else if (isName(xml, "MessageId")) {
            if (xml.readElementText(text))
                record.messageId = xmlTrimmed(text);
        } else if (isName(xml, "CompositionPlaylistId")) {
            if (xml.readElementText(text))
                record.compositionPlaylistId = xmlTrimmed(text);
        } else if (isName(xml, "ContentKeysNotValidBefore")) {
            if (xml.readElementText(text))
                record.notValidBefore = text;
        } else if (isName(xml, "ContentKeysNotValidAfter")) {
            if (xml.readElementText(text))
                record.notValidAfter = text;
        } else if (isName(xml, "X509SubjectName")) {
            if (xml.readElementText(text)) {
                record.subjectNames.append(text);
                if (inRecipient && !recipientTaken)
                    record.recipientSubjectName = text;
                recipientTaken = recipientTaken || inRecipient;
            }
        }
    }
    return record;
}

} // namespace XmlDocumentReaders

DcpXmlReader::DocumentKind DcpXmlReader::classifyXml(const QString &filePath,
                                                     QString *readError) const
{
    return readFile<DocumentKind>(filePath, readError, XmlDocumentReaders::classifyXml);
}

AssetMapInfo DcpXmlReader::readAssetMap(const QString &filePath, QString *readError) const
{
    return readFile<AssetMapInfo>(filePath, readError, XmlDocumentReaders::readAssetMap);
}

PklInfo DcpXmlReader::readPackingList(const QString &filePath, QString *readError) const
{
    return readFile<PklInfo>(filePath, readError, XmlDocumentReaders::readPackingList);
}

CplInfo DcpXmlReader::readComposition(const QString &filePath, QString *readError) const
{
    return readFile<CplInfo>(filePath, readError, XmlDocumentReaders::readComposition);
}

KdmInfo DcpXmlReader::readKdm(const QString &filePath, QString *readError) const
{
    return readFile<KdmInfo>(filePath, readError, XmlDocumentReaders::readKdm);
}

QString DcpXmlReader::normalizeAspectRatio(const QString &text, QString &pictureSize)
{
    // An empty ScreenAspectRatio says nothing; ":1" alone would only puzzle the operator.
    if (text.isEmpty())
        return QString();
    const int blank = text.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return text + QStringLiteral(":1");
    pictureSize = text;
    pictureSize.replace(QLatin1Char(' '), QLatin1Char('*'));
    const double numerator = text.left(blank).toDouble(); // 0 when not a number
    bool ok = false;
    const double denominator = text.mid(blank + 1).toDouble(&ok);
    // No ratio can be written for a zero or unreadable height: the label dialog starts empty
    // and the operator types the ratio, while the size still shows what the document says.
    if (!ok || denominator == 0.0 || !std::isfinite(numerator) || !std::isfinite(denominator))
        return QString();
    return QString::number(numerator / denominator, 'f', 2) + QStringLiteral(":1");
}

QString DcpXmlReader::normalizeRate(const QString &text)
{
    const QStringList parts = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 2)
        return QString();
    double numerator = 0.0;
    double denominator = 1.0;
    if (!parsePlainNumber(parts.at(0), numerator))
        return QString();
    if (parts.size() == 2 && (!parsePlainNumber(parts.at(1), denominator) || denominator <= 0.0))
        return QString();
    const double rate = numerator / denominator;
    // The label pre-fill reads the rate back as an int.
    if (!(rate < 2147483647.0))
        return QString();
    return QString::number(qRound64(rate));
}
