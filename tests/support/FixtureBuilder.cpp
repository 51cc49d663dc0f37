#include "support/FixtureBuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QUuid>
#include <QXmlStreamWriter>
#include <QtGlobal>

#include <cstring>

namespace {

const QString kInteropAm = QStringLiteral("http://www.digicine.com/PROTO-ASDCP-AM-20040311#");
const QString kInteropPkl = QStringLiteral("http://www.digicine.com/PROTO-ASDCP-PKL-20040311#");
const QString kInteropCpl = QStringLiteral("http://www.digicine.com/PROTO-ASDCP-CPL-20040511#");
const QString kInteropStereo =
    QStringLiteral("http://www.digicine.com/schemas/437-Y/2007/Main-Stereo-Picture-CPL");
const QString kSmpteAm = QStringLiteral("http://www.smpte-ra.org/schemas/429-9/2007/AM");
const QString kSmptePkl = QStringLiteral("http://www.smpte-ra.org/schemas/429-8/2007/PKL");
const QString kSmpteCpl = QStringLiteral("http://www.smpte-ra.org/schemas/429-7/2006/CPL");
const QString kSmpteStereo =
    QStringLiteral("http://www.smpte-ra.org/schemas/429-10/2008/Main-Stereo-Picture-CPL");
const QString kSmpteSubtitle = QStringLiteral("http://www.smpte-ra.org/schemas/428-7/2010/DCST");
const QString kKdmNamespace = QStringLiteral("http://www.smpte-ra.org/schemas/430-1/2006/KDM");
const QString kDsig = QStringLiteral("http://www.w3.org/2000/09/xmldsig#");
const QString kXmlEnc = QStringLiteral("http://www.w3.org/2001/04/xmlenc#");
const QString kCreator = QStringLiteral("Fixture Mastering Suite 3.2");
const QString kIssuer = QStringLiteral("Fixture Post Lab");
const QString kSignerIssuer = QStringLiteral(
    "dnQualifier=Q9v0LkPzXb4l0yFkH2\\+tM1c7Z8E=,CN=.fixture.smpte-430-2.INTERMEDIATE,"
    "OU=fixture.example,O=fixture.example");

struct Track
{
    QString id;
    QString fileName;
    QString kind; // Picture, Picture3D, Sound, Subtitle
    QString hash;
    QString keyId;
    qint64 size = 0;
    int reel = 0;
    int duration = 0;
};

struct PklEntry
{
    QString id;
    QString fileName;
    QString hash;
    qint64 size = 0;
    QString type;
};

struct MapEntry
{
    QString id;
    QString path;
    qint64 length = 0;
    bool packingList = false;
};

QString bareUuid(const QString &urn)
{
    return urn.startsWith(QLatin1String("urn:uuid:")) ? urn.mid(9) : urn;
}

// A document is built in memory first: its digest and size go into the documents that name it.
class XmlDoc
{
public:
    XmlDoc() : writer(&data)
    {
        writer.setAutoFormatting(true);
        writer.setAutoFormattingIndent(2);
        writer.writeStartDocument();
    }
    void text(const QString &name, const QString &value) { writer.writeTextElement(name, value); }
    QByteArray finish()
    {
        writer.writeEndDocument();
        return data;
    }

    QByteArray data;
    QXmlStreamWriter writer;
};

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        qWarning("FixtureBuilder: cannot write %s", qPrintable(path));
        return false;
    }
    return true;
}

// Deterministic, varied content that begins like an MXF partition pack. Streams in 1 MiB chunks
// so that large fixtures keep memory flat; with write false only the digest is computed.
QString writeTrackContent(const QString &path, qint64 bytes, quint64 seed, bool write)
{
    static const unsigned char partitionKey[16] = {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x05, 0x01, 0x01,
                                                   0x0d, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
    QCryptographicHash sha(QCryptographicHash::Sha1);
    QFile file(path);
    if (write && !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning("FixtureBuilder: cannot write %s", qPrintable(path));
        write = false;
    }
    quint64 state = (seed + 1) * 0x9E3779B97F4A7C15ull;
    QByteArray chunk;
    qint64 done = 0;
    while (done < bytes) {
        const int n = int(qMin<qint64>(bytes - done, 1 << 20));
        chunk.resize(n);
        char *out = chunk.data();
        for (int i = 0; i < n; i += 8) {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            const quint64 value = state * 0x2545F4914F6CDD1Dull;
            std::memcpy(out + i, &value, size_t(qMin(8, n - i)));
        }
        if (done == 0)
            std::memcpy(out, partitionKey, size_t(qMin(16, n)));
        sha.addData(chunk);
        if (write)
            file.write(chunk);
        done += n;
    }
    return QString::fromLatin1(sha.result().toBase64());
}

// A digest that is well-formed but belongs to no file of the master.
QString wrongDigest(const QString &digest)
{
    return FixtureBuilder::sha1Base64(QByteArray("not this file: ") + digest.toLatin1());
}

QString doubledRate(const QString &rate)
{
    const QStringList parts = rate.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return rate;
    return QString::number(parts[0].toLongLong() * 2) + QLatin1Char(' ') + parts[1];
}

QByteArray subtitleDocument(const MasterSpec &spec, const QString &id)
{
    XmlDoc doc;
    QXmlStreamWriter &w = doc.writer;
    if (spec.standard == MasterSpec::Interop) {
        w.writeStartElement(QStringLiteral("DCSubtitle"));
        w.writeAttribute(QStringLiteral("Version"), QStringLiteral("1.0"));
        doc.text(QStringLiteral("SubtitleID"), bareUuid(id));
        doc.text(QStringLiteral("MovieTitle"), spec.title);
        doc.text(QStringLiteral("ReelNumber"), QStringLiteral("1"));
        doc.text(QStringLiteral("Language"), QStringLiteral("Chinese"));
    } else {
        w.writeStartElement(QStringLiteral("SubtitleReel"));
        w.writeDefaultNamespace(kSmpteSubtitle);
        doc.text(QStringLiteral("Id"), id);
        doc.text(QStringLiteral("ContentTitleText"), spec.title);
        doc.text(QStringLiteral("IssueDate"), spec.issueDate);
        doc.text(QStringLiteral("ReelNumber"), QStringLiteral("1"));
        doc.text(QStringLiteral("Language"), QStringLiteral("zh"));
        doc.text(QStringLiteral("EditRate"), spec.editRate);
        doc.text(QStringLiteral("TimeCodeRate"), spec.editRate.section(QLatin1Char(' '), 0, 0));
        w.writeStartElement(QStringLiteral("SubtitleList"));
    }
    w.writeStartElement(QStringLiteral("Font"));
    w.writeAttribute(QStringLiteral("Size"), QStringLiteral("42"));
    w.writeAttribute(QStringLiteral("Color"), QStringLiteral("FFFFFFFF"));
    w.writeStartElement(QStringLiteral("Subtitle"));
    w.writeAttribute(QStringLiteral("SpotNumber"), QStringLiteral("1"));
    w.writeAttribute(QStringLiteral("TimeIn"), QStringLiteral("00:00:01:000"));
    w.writeAttribute(QStringLiteral("TimeOut"), QStringLiteral("00:00:04:000"));
    w.writeStartElement(QStringLiteral("Text"));
    w.writeAttribute(QStringLiteral("VAlign"), QStringLiteral("bottom"));
    w.writeAttribute(QStringLiteral("VPosition"), QStringLiteral("10"));
    w.writeCharacters(QString::fromUtf8("测试字幕"));
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
    if (spec.standard == MasterSpec::Smpte)
        w.writeEndElement();
    w.writeEndElement();
    return doc.finish();
}

QByteArray compositionDocument(const MasterSpec &spec, const QString &cplId,
                               const QVector<Track> &tracks, int reelCount)
{
    const bool interop = spec.standard == MasterSpec::Interop;
    const QString ns = !spec.cplNamespace.isEmpty() ? spec.cplNamespace
                       : interop                    ? kInteropCpl
                                                    : kSmpteCpl;
    const QString stereoNs = !spec.stereoscopicNamespace.isEmpty() ? spec.stereoscopicNamespace
                             : interop                             ? kInteropStereo
                                                                   : kSmpteStereo;
    const QString frameRate = !spec.frameRate.isEmpty() ? spec.frameRate
                              : spec.stereoscopic       ? doubledRate(spec.editRate)
                                                        : spec.editRate;
    XmlDoc doc;
    QXmlStreamWriter &w = doc.writer;
    w.writeStartElement(QStringLiteral("CompositionPlaylist"));
    w.writeDefaultNamespace(ns);
    if (spec.stereoscopic)
        w.writeNamespace(stereoNs, QStringLiteral("msp-cpl"));
    doc.text(QStringLiteral("Id"), cplId);
    doc.text(QStringLiteral("AnnotationText"), spec.title);
    doc.text(QStringLiteral("IssueDate"), spec.issueDate);
    doc.text(QStringLiteral("Issuer"), kIssuer);
    doc.text(QStringLiteral("Creator"), kCreator);
    if (spec.emptyContentTitle)
        w.writeEmptyElement(QStringLiteral("ContentTitleText"));
    else
        doc.text(QStringLiteral("ContentTitleText"),
                 spec.contentTitleText.isEmpty() ? spec.title : spec.contentTitleText);
    doc.text(QStringLiteral("ContentKind"), QStringLiteral("feature"));
    w.writeStartElement(QStringLiteral("ContentVersion"));
    doc.text(QStringLiteral("Id"), FixtureBuilder::newUrnUuid());
    doc.text(QStringLiteral("LabelText"), spec.title);
    w.writeEndElement();
    w.writeEmptyElement(QStringLiteral("RatingList"));
    w.writeStartElement(QStringLiteral("ReelList"));
    for (int reel = 0; reel < reelCount; ++reel) {
        w.writeStartElement(QStringLiteral("Reel"));
        doc.text(QStringLiteral("Id"), FixtureBuilder::newUrnUuid());
        w.writeStartElement(QStringLiteral("AssetList"));
        for (const Track &track : tracks) {
            if (track.reel != reel)
                continue;
            if (track.kind == QLatin1String("Picture3D"))
                w.writeStartElement(stereoNs, QStringLiteral("MainStereoscopicPicture"));
            else
                w.writeStartElement(QLatin1String("Main") + track.kind);
            doc.text(QStringLiteral("Id"), track.id);
            doc.text(QStringLiteral("AnnotationText"), track.fileName);
            doc.text(QStringLiteral("EditRate"), spec.editRate);
            doc.text(QStringLiteral("IntrinsicDuration"), QString::number(track.duration));
            doc.text(QStringLiteral("EntryPoint"), QStringLiteral("0"));
            doc.text(QStringLiteral("Duration"), QString::number(track.duration));
            if (!track.keyId.isEmpty())
                doc.text(QStringLiteral("KeyId"), track.keyId);
            doc.text(QStringLiteral("Hash"), track.hash);
            if (track.kind.startsWith(QLatin1String("Picture"))) {
                doc.text(QStringLiteral("FrameRate"), frameRate);
                doc.text(QStringLiteral("ScreenAspectRatio"), spec.screenAspectRatio);
            } else if (track.kind == QLatin1String("Sound")) {
                doc.text(QStringLiteral("Language"), QStringLiteral("zh"));
            } else {
                doc.text(QStringLiteral("Language"),
                         interop ? QStringLiteral("Chinese") : QStringLiteral("zh"));
            }
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    return doc.finish();
}

QByteArray packingListDocument(const MasterSpec &spec, const QString &pklId,
                               const QVector<PklEntry> &entries)
{
    const bool interop = spec.standard == MasterSpec::Interop;
    XmlDoc doc;
    QXmlStreamWriter &w = doc.writer;
    w.writeStartElement(QStringLiteral("PackingList"));
    w.writeDefaultNamespace(!spec.pklNamespace.isEmpty() ? spec.pklNamespace
                            : interop                    ? kInteropPkl
                                                         : kSmptePkl);
    doc.text(QStringLiteral("Id"), pklId);
    doc.text(QStringLiteral("AnnotationText"),
             spec.pklAnnotation.isEmpty() ? spec.title : spec.pklAnnotation);
    doc.text(QStringLiteral("IssueDate"), spec.issueDate);
    doc.text(QStringLiteral("Issuer"), kIssuer);
    doc.text(QStringLiteral("Creator"), kCreator);
    if (spec.pklGroupId)
        doc.text(QStringLiteral("GroupId"), FixtureBuilder::newUrnUuid());
    w.writeStartElement(QStringLiteral("AssetList"));
    for (const PklEntry &entry : entries) {
        w.writeStartElement(QStringLiteral("Asset"));
        doc.text(QStringLiteral("Id"), entry.id);
        doc.text(QStringLiteral("AnnotationText"), entry.fileName);
        doc.text(QStringLiteral("Hash"), entry.hash);
        doc.text(QStringLiteral("Size"), QString::number(entry.size));
        doc.text(QStringLiteral("Type"), entry.type);
        doc.text(QStringLiteral("OriginalFileName"),
                 spec.pklOriginalFileNamesDiffer ? QLatin1String("ORIGINAL_") + entry.fileName
                                                 : entry.fileName);
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    return doc.finish();
}

QByteArray assetMapDocument(const MasterSpec &spec, const QString &id,
                            const QVector<MapEntry> &entries)
{
    const bool interop = spec.standard == MasterSpec::Interop;
    XmlDoc doc;
    QXmlStreamWriter &w = doc.writer;
    w.writeStartElement(QStringLiteral("AssetMap"));
    w.writeDefaultNamespace(!spec.assetMapNamespace.isEmpty() ? spec.assetMapNamespace
                            : interop                         ? kInteropAm
                                                              : kSmpteAm);
    doc.text(QStringLiteral("Id"), id);
    doc.text(QStringLiteral("AnnotationText"),
             spec.assetMapAnnotation.isEmpty() ? spec.title : spec.assetMapAnnotation);
    doc.text(QStringLiteral("Creator"), kCreator);
    doc.text(QStringLiteral("VolumeCount"), QStringLiteral("1"));
    doc.text(QStringLiteral("IssueDate"), spec.issueDate);
    doc.text(QStringLiteral("Issuer"), kIssuer);
    w.writeStartElement(QStringLiteral("AssetList"));
    for (const MapEntry &entry : entries) {
        w.writeStartElement(QStringLiteral("Asset"));
        doc.text(QStringLiteral("Id"), entry.id);
        if (entry.packingList)
            doc.text(QStringLiteral("PackingList"), QStringLiteral("true"));
        w.writeStartElement(QStringLiteral("ChunkList"));
        w.writeStartElement(QStringLiteral("Chunk"));
        doc.text(QStringLiteral("Path"), entry.path);
        doc.text(QStringLiteral("VolumeIndex"), QStringLiteral("1"));
        doc.text(QStringLiteral("Offset"), QStringLiteral("0"));
        doc.text(QStringLiteral("Length"), QString::number(entry.length));
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    return doc.finish();
}

QByteArray volumeIndexDocument(const MasterSpec &spec)
{
    XmlDoc doc;
    doc.writer.writeStartElement(QStringLiteral("VolumeIndex"));
    doc.writer.writeDefaultNamespace(spec.standard == MasterSpec::Interop ? kInteropAm : kSmpteAm);
    doc.text(QStringLiteral("Index"), QStringLiteral("1"));
    doc.writer.writeEndElement();
    return doc.finish();
}

void writeIssuerSerial(XmlDoc &doc, const QString &serial)
{
    doc.writer.writeTextElement(kDsig, QStringLiteral("X509IssuerName"), kSignerIssuer);
    doc.writer.writeTextElement(kDsig, QStringLiteral("X509SerialNumber"), serial);
}

QString pseudoBase64(const QString &seedText, int bytes)
{
    QByteArray out;
    QByteArray block = seedText.toUtf8();
    while (out.size() < bytes) {
        block = QCryptographicHash::hash(block, QCryptographicHash::Sha1);
        out += block;
    }
    out.truncate(bytes);
    return QString::fromLatin1(out.toBase64());
}

} // namespace

FixtureBuilder::FixtureBuilder(const QString &diskRoot)
    : m_root(QDir::cleanPath(QDir(diskRoot).absolutePath()))
{
    QDir().mkpath(m_root);
}

BuiltMaster FixtureBuilder::writeMaster(const MasterSpec &spec)
{
    const bool interop = spec.standard == MasterSpec::Interop;
    BuiltMaster built;
    built.folder =
        spec.folder.isEmpty() ? m_root : QDir::cleanPath(m_root + QLatin1Char('/') + spec.folder);
    QDir().mkpath(built.folder);
    const QString base = built.folder + QLatin1Char('/');
    built.title = spec.title;
    built.cplId = newUrnUuid();
    built.pklId = newUrnUuid();
    built.assetMapId = newUrnUuid();

    // Track files, reel by reel: picture then sound (and the subtitle in the first reel).
    QVector<Track> tracks;
    for (int reel = 0; reel < spec.reelDurations.size(); ++reel) {
        const int frames = spec.reelDurations[reel];
        Track picture;
        picture.kind = spec.stereoscopic ? QStringLiteral("Picture3D") : QStringLiteral("Picture");
        Track sound;
        sound.kind = QStringLiteral("Sound");
        for (Track *track : {&picture, &sound}) {
            track->id = newUrnUuid();
            track->reel = reel;
            track->duration = frames;
            track->fileName = (track == &picture ? QLatin1String("j2c_") : QLatin1String("pcm_")) +
                              bareUuid(track->id) + QLatin1String(".mxf");
            if (spec.encrypted)
                track->keyId = newUrnUuid();
            track->size = spec.trackBytes;
            const bool first = tracks.isEmpty();
            const bool write = !(first && (spec.omitFirstTrackFile || spec.trackPathIsFolder));
            track->hash =
                writeTrackContent(base + track->fileName, spec.trackBytes, m_filesWritten++, write);
            if (first && spec.trackPathIsFolder)
                QDir().mkpath(base + track->fileName);
            tracks.append(*track);
        }
        if (reel == 0 && spec.subtitle) {
            Track subtitle;
            subtitle.kind = QStringLiteral("Subtitle");
            subtitle.id = newUrnUuid();
            subtitle.reel = reel;
            subtitle.duration = frames;
            subtitle.fileName =
                QLatin1String("sub_") + bareUuid(subtitle.id) + QLatin1String(".xml");
            const QByteArray bytes = subtitleDocument(spec, subtitle.id);
            writeBytes(base + subtitle.fileName, bytes);
            subtitle.hash = sha1Base64(bytes);
            subtitle.size = bytes.size();
            built.subtitlePath = base + subtitle.fileName;
            tracks.append(subtitle);
        }
    }
    for (const Track &track : tracks) {
        built.trackPaths.append(base + track.fileName);
        built.totalTrackBytes += track.size;
        if (!track.keyId.isEmpty())
            built.keyIds.append(track.keyId);
    }

    // The composition states the digests of the files as they are, unless told otherwise.
    QVector<Track> cplTracks = tracks;
    if (spec.wrongCplHash && !cplTracks.isEmpty())
        cplTracks[0].hash = wrongDigest(cplTracks[0].hash);
    const QString cplName =
        !spec.cplFileName.isEmpty()
            ? spec.cplFileName
            : QLatin1String("cpl_") + bareUuid(built.cplId) + QLatin1String(".xml");
    const QByteArray cplBytes =
        compositionDocument(spec, built.cplId, cplTracks, spec.reelDurations.size());
    built.cplPath = base + cplName;
    writeBytes(built.cplPath, cplBytes);

    const QString xmlType =
        interop ? QStringLiteral("text/xml;asdcpKind=CPL") : QStringLiteral("text/xml");
    QVector<PklEntry> pklEntries;
    pklEntries.append({built.cplId, cplName, sha1Base64(cplBytes), cplBytes.size(), xmlType});
    QString cplId2;
    QString cplName2;
    QByteArray cplBytes2;
    if (spec.secondCpl) {
        cplId2 = newUrnUuid();
        cplName2 = QLatin1String("cpl_") + bareUuid(cplId2) + QLatin1String(".xml");
        cplBytes2 = compositionDocument(spec, cplId2, cplTracks, spec.reelDurations.size());
        built.cplPath2 = base + cplName2;
        writeBytes(built.cplPath2, cplBytes2);
        pklEntries.append({cplId2, cplName2, sha1Base64(cplBytes2), cplBytes2.size(), xmlType});
    }
    for (int i = 0; i < tracks.size(); ++i) {
        const Track &track = tracks[i];
        QString type;
        if (track.kind == QLatin1String("Subtitle"))
            type = interop ? QStringLiteral("text/xml;asdcpKind=Subtitle")
                           : QStringLiteral("text/xml");
        else if (interop)
            type = track.kind == QLatin1String("Sound")
                       ? QStringLiteral("application/x-smpte-mxf;asdcpKind=Sound")
                       : QStringLiteral("application/x-smpte-mxf;asdcpKind=Picture");
        else
            type = QStringLiteral("application/mxf");
        const QString hash = (i == 0 && spec.wrongPklHash) ? wrongDigest(track.hash) : track.hash;
        pklEntries.append({track.id, track.fileName, hash, track.size, type});
    }
    if (spec.pklListsUnmappedAsset) {
        const QString id = newUrnUuid();
        const QString name = QLatin1String("extra_") + bareUuid(id) + QLatin1String(".mxf");
        const QString hash =
            writeTrackContent(base + name, spec.trackBytes, m_filesWritten++, true);
        pklEntries.append({id, name, hash, spec.trackBytes,
                           interop ? QStringLiteral("application/x-smpte-mxf;asdcpKind=Sound")
                                   : QStringLiteral("application/mxf")});
    }
    for (const PklEntry &entry : pklEntries) {
        built.pklAssetPaths.append(base + entry.fileName);
        built.pklHashes.append(entry.hash);
    }

    const QString pklName =
        !spec.pklFileName.isEmpty()
            ? spec.pklFileName
            : QLatin1String("pkl_") + bareUuid(built.pklId) + QLatin1String(".xml");
    const QByteArray pklBytes = packingListDocument(spec, built.pklId, pklEntries);
    built.pklPath = base + pklName;
    writeBytes(built.pklPath, pklBytes);
    QString pklId2;
    QString pklName2;
    QByteArray pklBytes2;
    if (spec.secondPkl) {
        pklId2 = newUrnUuid();
        pklName2 = QLatin1String("pkl_") + bareUuid(pklId2) + QLatin1String(".xml");
        pklBytes2 = packingListDocument(spec, pklId2, pklEntries);
        built.pklPath2 = base + pklName2;
        writeBytes(built.pklPath2, pklBytes2);
    }

    // The asset map: packing lists first, then compositions, then the track files.
    QVector<MapEntry> mapEntries;
    if (!spec.noPkl)
        mapEntries.append({spec.assetMapPklId.isEmpty() ? built.pklId : spec.assetMapPklId, pklName,
                           pklBytes.size(), true});
    if (spec.secondPkl)
        mapEntries.append({pklId2, pklName2, pklBytes2.size(), true});
    if (!spec.noCpl)
        mapEntries.append({spec.assetMapCplId.isEmpty() ? built.cplId : spec.assetMapCplId, cplName,
                           cplBytes.size(), false});
    if (spec.secondCpl)
        mapEntries.append({cplId2, cplName2, cplBytes2.size(), false});
    for (const Track &track : tracks)
        mapEntries.append({track.id, track.fileName, track.size, false});

    const QString assetMapName = !spec.assetMapFileName.isEmpty() ? spec.assetMapFileName
                                 : interop                        ? QStringLiteral("ASSETMAP")
                                                                  : QStringLiteral("ASSETMAP.xml");
    built.assetMapPath = base + assetMapName;
    writeBytes(built.assetMapPath, assetMapDocument(spec, built.assetMapId, mapEntries));
    if (!spec.omitVolumeIndex)
        writeBytes(base + (interop ? QStringLiteral("VOLINDEX") : QStringLiteral("VOLINDEX.xml")),
                   volumeIndexDocument(spec));
    return built;
}

QString FixtureBuilder::writeKdm(const BuiltMaster &master, const KdmSpec &spec)
{
    const QString folder =
        spec.folder.isEmpty() ? m_root : QDir::cleanPath(m_root + QLatin1Char('/') + spec.folder);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + spec.fileName;
    const QString messageId = newUrnUuid();
    QStringList keyIds = master.keyIds;
    if (keyIds.isEmpty())
        keyIds.append(newUrnUuid());

    XmlDoc doc;
    QXmlStreamWriter &w = doc.writer;
    w.writeStartElement(QStringLiteral("DCinemaSecurityMessage"));
    w.writeDefaultNamespace(spec.namespaceUri);
    w.writeNamespace(kDsig, QStringLiteral("dsig"));
    w.writeNamespace(kXmlEnc, QStringLiteral("enc"));
    w.writeStartElement(QStringLiteral("AuthenticatedPublic"));
    w.writeAttribute(QStringLiteral("Id"), QStringLiteral("ID_AuthenticatedPublic"));
    doc.text(QStringLiteral("MessageId"), messageId);
    doc.text(QStringLiteral("MessageType"),
             QStringLiteral("http://www.smpte-ra.org/430-1/2006/KDM#kdm-key-type"));
    doc.text(QStringLiteral("AnnotationText"), master.title);
    doc.text(QStringLiteral("IssueDate"), spec.notValidBefore);
    w.writeStartElement(QStringLiteral("Signer"));
    writeIssuerSerial(doc, QStringLiteral("7"));
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("RequiredExtensions"));
    w.writeStartElement(QStringLiteral("KDMRequiredExtensions"));
    w.writeDefaultNamespace(kKdmNamespace);
    w.writeStartElement(QStringLiteral("Recipient"));
    w.writeStartElement(QStringLiteral("X509IssuerSerial"));
    writeIssuerSerial(doc, QStringLiteral("3"));
    w.writeEndElement();
    if (!spec.subjectNames.isEmpty())
        doc.text(QStringLiteral("X509SubjectName"), spec.subjectNames.first());
    w.writeEndElement();
    doc.text(QStringLiteral("CompositionPlaylistId"),
             spec.compositionPlaylistId.isEmpty() ? master.cplId : spec.compositionPlaylistId);
    doc.text(QStringLiteral("ContentTitleText"), master.title);
    doc.text(QStringLiteral("ContentKeysNotValidBefore"), spec.notValidBefore);
    doc.text(QStringLiteral("ContentKeysNotValidAfter"), spec.notValidAfter);
    w.writeStartElement(QStringLiteral("AuthorizedDeviceInfo"));
    doc.text(QStringLiteral("DeviceListIdentifier"), newUrnUuid());
    w.writeStartElement(QStringLiteral("DeviceList"));
    doc.text(QStringLiteral("CertificateThumbprint"),
             QStringLiteral("2jmj7l5rSw0yVb/vlWAYkK/YBwk="));
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("KeyIdList"));
    for (int i = 0; i < keyIds.size(); ++i) {
        w.writeStartElement(QStringLiteral("TypedKeyId"));
        w.writeStartElement(QStringLiteral("KeyType"));
        w.writeAttribute(QStringLiteral("scope"),
                         QStringLiteral("http://www.smpte-ra.org/430-1/2006/KDM#kdm-key-type"));
        w.writeCharacters(i % 2 == 0 ? QStringLiteral("MDIK") : QStringLiteral("MDAK"));
        w.writeEndElement();
        doc.text(QStringLiteral("KeyId"), keyIds[i]);
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("ForensicMarkFlagList"));
    doc.text(QStringLiteral("ForensicMarkFlag"),
             QStringLiteral("http://www.smpte-ra.org/430-1/2006/KDM#mrkflg-audio-disable"));
    w.writeEndElement();
    w.writeEndElement(); // KDMRequiredExtensions
    w.writeEndElement(); // RequiredExtensions
    w.writeEmptyElement(QStringLiteral("NonCriticalExtensions"));
    w.writeEndElement(); // AuthenticatedPublic

    w.writeStartElement(QStringLiteral("AuthenticatedPrivate"));
    w.writeAttribute(QStringLiteral("Id"), QStringLiteral("ID_AuthenticatedPrivate"));
    for (const QString &keyId : qAsConst(keyIds)) {
        w.writeStartElement(kXmlEnc, QStringLiteral("EncryptedKey"));
        w.writeStartElement(kXmlEnc, QStringLiteral("CipherData"));
        w.writeTextElement(kXmlEnc, QStringLiteral("CipherValue"), pseudoBase64(keyId, 256));
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();

    // The signer chain: every subject name after the recipient's stands in one certificate block.
    w.writeStartElement(kDsig, QStringLiteral("Signature"));
    w.writeStartElement(kDsig, QStringLiteral("SignedInfo"));
    w.writeEmptyElement(kDsig, QStringLiteral("SignatureMethod"));
    w.writeAttribute(QStringLiteral("Algorithm"),
                     QStringLiteral("http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"));
    w.writeEndElement();
    w.writeTextElement(kDsig, QStringLiteral("SignatureValue"), pseudoBase64(messageId, 256));
    w.writeStartElement(kDsig, QStringLiteral("KeyInfo"));
    for (int i = 1; i < spec.subjectNames.size(); ++i) {
        w.writeStartElement(kDsig, QStringLiteral("X509Data"));
        w.writeStartElement(kDsig, QStringLiteral("X509IssuerSerial"));
        writeIssuerSerial(doc, QString::number(10 + i));
        w.writeEndElement();
        w.writeTextElement(kDsig, QStringLiteral("X509SubjectName"), spec.subjectNames[i]);
        w.writeTextElement(kDsig, QStringLiteral("X509Certificate"),
                           pseudoBase64(spec.subjectNames[i], 600));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
    writeBytes(path, doc.finish());
    return path;
}

void FixtureBuilder::writeSettings(const QString &path, int hashCheck, const QStringList &certs)
{
    // The toolkit's own writer quotes values with commas and escapes backslashes, so each entry
    // reads back as the one text it was.
    QFile::remove(path);
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("hash/check"), hashCheck);
    settings.setValue(QStringLiteral("cert_num/num"), certs.size());
    for (int i = 0; i < certs.size(); ++i)
        settings.setValue(QStringLiteral("cert_list/cert%1").arg(i), certs[i]);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("FixtureBuilder: cannot write %s", qPrintable(path));
}

QString FixtureBuilder::sha1Base64(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toBase64());
}

QString FixtureBuilder::newUrnUuid()
{
    return QLatin1String("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}
