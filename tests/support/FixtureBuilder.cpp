#include "support/FixtureBuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QUuid>
#include <QXmlStreamWriter>

#include <cstring>
#include <initializer_list>

namespace {

const QString kDsig = QStringLiteral("http://www.w3.org/2000/09/xmldsig#");
const QString kXmlEnc = QStringLiteral("http://www.w3.org/2001/04/xmlenc#");

// What tells the two standards apart: namespaces, packing-list types and the asset map's name.
struct Flavour
{
    const char *assetMap, *pkl, *cpl, *stereo, *cplType, *pictureType, *soundType, *assetMapName;
};

const Flavour kInterop = {"http://www.digicine.com/PROTO-ASDCP-AM-20040311#",
                          "http://www.digicine.com/PROTO-ASDCP-PKL-20040311#",
                          "http://www.digicine.com/PROTO-ASDCP-CPL-20040511#",
                          "http://www.digicine.com/schemas/437-Y/2007/Main-Stereo-Picture-CPL",
                          "text/xml;asdcpKind=CPL",
                          "application/x-smpte-mxf;asdcpKind=Picture",
                          "application/x-smpte-mxf;asdcpKind=Sound",
                          "ASSETMAP"};
const Flavour kSmpte = {"http://www.smpte-ra.org/schemas/429-9/2007/AM",
                        "http://www.smpte-ra.org/schemas/429-8/2007/PKL",
                        "http://www.smpte-ra.org/schemas/429-7/2006/CPL",
                        "http://www.smpte-ra.org/schemas/429-10/2008/Main-Stereo-Picture-CPL",
                        "text/xml",
                        "application/mxf",
                        "application/mxf",
                        "ASSETMAP.xml"};

const Flavour &flavour(MasterLayout::Standard standard)
{
    return standard == MasterLayout::Interop ? kInterop : kSmpte;
}

// One file of the master, as the documents that name it describe it.
struct Entry
{
    QString id, name, hash, type, keyId;
    qint64 size = 0;
    const char *element = nullptr; // the composition's track element
    int reel = 0;
    int duration = 0;
    bool packingList = false;
};

struct Text
{
    Text(const QString &text) : value(text) {}
    Text(const char *text) : value(QString::fromUtf8(text)) {}
    QString value;
};

// A document is built in memory first: its digest and size go into the documents that name it.
class Xml
{
public:
    Xml(const char *root, const QString &defaultNamespace) : w(&data)
    {
        w.setAutoFormatting(true);
        w.writeStartDocument();
        open(root);
        w.writeDefaultNamespace(defaultNamespace);
    }
    Xml &open(const char *name, const QString &ns = QString())
    {
        w.writeStartElement(ns, QLatin1String(name));
        return *this;
    }
    // Text elements from names and values in turn.
    Xml &fields(std::initializer_list<Text> list, const QString &ns = QString())
    {
        for (auto it = list.begin(); it + 1 < list.end(); it += 2)
            w.writeTextElement(ns, it->value, (it + 1)->value);
        return *this;
    }
    Xml &close(int levels = 1)
    {
        while (levels-- > 0)
            w.writeEndElement();
        return *this;
    }

    QByteArray data;
    QXmlStreamWriter w;
};

QString pick(const QString &chosen, const Text &usual)
{
    return chosen.isEmpty() ? usual.value : chosen;
}

QString fileName(const char *prefix, const QString &urn, const char *suffix)
{
    return QLatin1String(prefix) + urn.mid(int(std::strlen("urn:uuid:"))) + QLatin1String(suffix);
}

QString inFolder(const QString &root, const QString &folder)
{
    const QString path =
        folder.isEmpty() ? root : QDir::cleanPath(root + QLatin1Char('/') + folder);
    QDir().mkpath(path);
    return path;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qWarning("FixtureBuilder: cannot write %s", qPrintable(path));
}

// Deterministic content, different for every seed, streamed in 1 MiB chunks so that large
// fixtures keep memory flat; with write false only the digest is computed.
QString writeTrack(const QString &path, qint64 bytes, quint64 seed, bool write)
{
    QCryptographicHash sha(QCryptographicHash::Sha1);
    QFile file(path);
    if (write && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qWarning("FixtureBuilder: cannot write %s", qPrintable(path));
    quint64 state = (seed + 1) * 0x9E3779B97F4A7C15ull;
    QByteArray chunk;
    for (qint64 done = 0; done < bytes; done += chunk.size()) {
        chunk.resize(int(qMin<qint64>(bytes - done, 1 << 20)));
        for (int i = 0; i < chunk.size(); i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(chunk.data() + i, &state, size_t(qMin(8, chunk.size() - i)));
        }
        sha.addData(chunk);
        if (file.isOpen())
            file.write(chunk);
    }
    return QString::fromLatin1(sha.result().toBase64());
}

// Base64 text of the given length in digests, standing in for keys and certificates.
QString filler(const QString &seed, int digests)
{
    const QByteArray digest = QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.repeated(digests).toBase64());
}

// A digest that is well-formed but belongs to no file of the master.
QString wrongDigest(const QString &digest)
{
    return FixtureBuilder::sha1Base64("not this file: " + digest.toLatin1());
}

// Writes the document and gives its packing-list entry.
Entry writeDocument(const QString &base, const char *prefix, const QString &id, const char *type,
                    Xml &x)
{
    x.w.writeEndDocument();
    const QString name = fileName(prefix, id, ".xml");
    writeBytes(base + name, x.data);
    const QString hash = FixtureBuilder::sha1Base64(x.data);
    return {id, name, hash, QString::fromUtf8(type), QString(), x.data.size()};
}

// Every document of the master starts alike.
Xml &header(Xml &x, const QString &id, const QString &annotation)
{
    return x.fields({"Id", id, "AnnotationText", annotation, "IssueDate",
                     "2023-01-01T12:00:00+08:00", "Issuer", "Fixture Post Lab", "Creator",
                     "Fixture Mastering Suite 3.2"});
}

Entry writeComposition(const QString &base, const MasterLayout &master,
                       const QVector<Entry> &tracks)
{
    const Flavour &f = flavour(master.standard);
    const QString id = FixtureBuilder::newUrnUuid();
    Xml x("CompositionPlaylist", pick(master.cplNamespace, f.cpl));
    const QString title =
        master.emptyContentTitle ? QString() : pick(master.contentTitleText, master.title);
    header(x, id, master.title).fields({"ContentTitleText", title, "ContentKind", "feature"});
    x.open("ContentVersion")
        .fields({"Id", FixtureBuilder::newUrnUuid(), "LabelText", master.title});
    x.close().open("ReelList");
    for (int reel = 0; reel < master.reelDurations.size(); ++reel) {
        x.open("Reel").fields({"Id", FixtureBuilder::newUrnUuid()}).open("AssetList");
        for (const Entry &track : tracks) {
            if (track.reel != reel)
                continue;
            const bool stereo = !std::strcmp(track.element, "MainStereoscopicPicture");
            const QString duration = QString::number(track.duration);
            x.open(track.element,
                   stereo ? pick(master.stereoscopicNamespace, f.stereo) : QString());
            x.fields({"Id", track.id, "AnnotationText", track.name, "EditRate", "24 1",
                      "IntrinsicDuration", duration, "EntryPoint", "0", "Duration", duration});
            if (!track.keyId.isEmpty())
                x.fields({"KeyId", track.keyId});
            x.fields({"Hash", track.hash});
            if (!std::strcmp(track.element, "MainSound"))
                x.fields({"Language", "zh"});
            else
                x.fields({"FrameRate", master.stereoscopic ? "48 1" : "24 1", "ScreenAspectRatio",
                          "1998 1080"});
            x.close();
        }
        x.close(2);
    }
    return writeDocument(base, "cpl_", id, f.cplType, x.close(2));
}

Entry writePackingList(const QString &base, const MasterLayout &master,
                       const QVector<Entry> &entries)
{
    const QString id = FixtureBuilder::newUrnUuid();
    Xml x("PackingList", pick(master.pklNamespace, flavour(master.standard).pkl));
    header(x, id, pick(master.pklAnnotation, master.title));
    if (master.pklGroupId)
        x.fields({"GroupId", FixtureBuilder::newUrnUuid()});
    x.open("AssetList");
    for (const Entry &e : entries)
        x.open("Asset")
            .fields({"Id", e.id, "AnnotationText", e.name, "Hash", e.hash, "Size",
                     QString::number(e.size), "Type", e.type, "OriginalFileName", e.name})
            .close();
    Entry entry = writeDocument(base, "pkl_", id, "", x.close(2));
    entry.packingList = true;
    return entry;
}

QByteArray assetMapDocument(const MasterLayout &master, const QVector<Entry> &entries)
{
    Xml x("AssetMap", pick(master.assetMapNamespace, flavour(master.standard).assetMap));
    header(x, FixtureBuilder::newUrnUuid(), master.title).fields({"VolumeCount", "1"});
    x.open("AssetList");
    for (const Entry &e : entries) {
        x.open("Asset").fields({"Id", e.id});
        if (e.packingList)
            x.fields({"PackingList", "true"});
        x.open("ChunkList").open("Chunk").fields({"Path", e.name, "VolumeIndex", "1"});
        x.fields({"Offset", "0", "Length", QString::number(e.size)}).close(3);
    }
    x.close(2).w.writeEndDocument();
    return x.data;
}

} // namespace

FixtureBuilder::FixtureBuilder(const QString &diskRoot)
    : m_root(inFolder(QDir::cleanPath(QDir(diskRoot).absolutePath()), QString()))
{
}

BuiltMaster FixtureBuilder::writeMaster(const MasterLayout &master)
{
    const Flavour &f = flavour(master.standard);
    BuiltMaster built;
    built.folder = inFolder(m_root, master.folder);
    built.title = master.title;
    const QString base = built.folder + QLatin1Char('/');

    const char *picture = master.stereoscopic ? "MainStereoscopicPicture" : "MainPicture";
    QVector<Entry> tracks; // reel by reel: picture, then sound
    for (int reel = 0; reel < master.reelDurations.size(); ++reel) {
        for (const bool sound : {false, true}) {
            Entry t;
            t.id = newUrnUuid();
            t.name = fileName(sound ? "pcm_" : "j2c_", t.id, ".mxf");
            t.type = QString::fromUtf8(sound ? f.soundType : f.pictureType);
            t.element = sound ? "MainSound" : picture;
            t.keyId = master.encrypted ? newUrnUuid() : QString();
            t.size = master.trackBytes;
            t.reel = reel;
            t.duration = master.reelDurations[reel];
            const bool write = !(tracks.isEmpty() && master.omitFirstTrackFile);
            t.hash = writeTrack(base + t.name, t.size, m_filesWritten++, write);
            built.trackPaths.append(base + t.name);
            if (master.encrypted)
                built.keyIds.append(t.keyId);
            tracks.append(t);
        }
    }

    // The packing list's assets: the compositions, the tracks and any unmapped extra file.
    QVector<Entry> cplTracks = tracks;
    if (master.wrongCplHash)
        cplTracks[0].hash = wrongDigest(cplTracks[0].hash);
    QVector<Entry> listed = {writeComposition(base, master, cplTracks)};
    if (master.secondCpl)
        listed.append(writeComposition(base, master, cplTracks));
    built.cplId = listed[0].id;
    const int compositions = listed.size();
    listed += tracks;
    if (master.wrongPklHash)
        listed[compositions].hash = wrongDigest(listed[compositions].hash);
    if (master.pklListsUnmappedAsset) {
        Entry extra = tracks.last();
        extra.id = newUrnUuid();
        extra.name = fileName("extra_", extra.id, ".mxf");
        extra.hash = writeTrack(base + extra.name, extra.size, m_filesWritten++, true);
        listed.append(extra);
    }
    for (const Entry &entry : qAsConst(listed))
        built.pklAssetPaths.append(base + entry.name);

    // The asset map: packing lists first, then compositions, then the track files.
    Entry pkl = writePackingList(base, master, listed);
    pkl.id = pick(master.assetMapPklId, pkl.id);
    QVector<Entry> mapped;
    if (!master.noPkl)
        mapped.append(pkl);
    if (master.secondPkl)
        mapped.append(writePackingList(base, master, listed));
    mapped += listed.mid(master.noCpl ? 1 : 0, compositions - (master.noCpl ? 1 : 0));
    mapped += tracks;
    built.assetMapPath = base + pick(master.assetMapFileName, f.assetMapName);
    writeBytes(built.assetMapPath, assetMapDocument(master, mapped));
    return built;
}

QString FixtureBuilder::writeKdm(const BuiltMaster &master, const KdmLayout &kdmLayout)
{
    const QString path = inFolder(m_root, kdmLayout.folder) + QLatin1Char('/') + kdmLayout.fileName;
    const QStringList keyIds = master.keyIds.isEmpty() ? QStringList{newUrnUuid()} : master.keyIds;
    const QStringList &subjects = kdmLayout.subjectNames;
    const QString messageId = newUrnUuid();
    Xml x("DCinemaSecurityMessage", kdmLayout.namespaceUri);
    x.w.writeNamespace(kDsig, QStringLiteral("dsig"));
    x.w.writeNamespace(kXmlEnc, QStringLiteral("enc"));
    x.open("AuthenticatedPublic")
        .fields({"MessageId", messageId, "MessageType",
                 "http://www.smpte-ra.org/430-1/2006/KDM#kdm-key-type", "AnnotationText",
                 master.title, "IssueDate", kdmLayout.notValidBefore});
    x.open("Signer").fields(
        {"X509IssuerName", "CN=.fixture.INTERMEDIATE,O=fixture.example", "X509SerialNumber", "7"},
        kDsig);
    x.close().open("RequiredExtensions").open("KDMRequiredExtensions");
    x.w.writeDefaultNamespace(QStringLiteral("http://www.smpte-ra.org/schemas/430-1/2006/KDM"));
    x.open("Recipient");
    if (!subjects.isEmpty())
        x.fields({"X509SubjectName", subjects.first()});
    x.close();
    x.fields({"CompositionPlaylistId", pick(kdmLayout.compositionPlaylistId, master.cplId),
              "ContentTitleText", master.title, "ContentKeysNotValidBefore",
              kdmLayout.notValidBefore, "ContentKeysNotValidAfter", kdmLayout.notValidAfter});
    x.open("AuthorizedDeviceInfo").fields({"DeviceListIdentifier", newUrnUuid()});
    x.open("DeviceList").fields({"CertificateThumbprint", "2jmj7l5rSw0yVb/vlWAYkK/YBwk="});
    x.close(2).open("KeyIdList");
    for (int i = 0; i < keyIds.size(); ++i)
        x.open("TypedKeyId")
            .fields({"KeyType", i % 2 ? "MDAK" : "MDIK", "KeyId", keyIds[i]})
            .close();
    x.close(4).open("AuthenticatedPrivate");
    for (const QString &keyId : keyIds) {
        x.open("EncryptedKey", kXmlEnc).open("CipherData", kXmlEnc);
        x.fields({"CipherValue", filler(keyId, 12)}, kXmlEnc).close(2);
    }
    // The signer chain: every subject name after the recipient's stands in one certificate.
    x.close().open("Signature", kDsig).open("KeyInfo", kDsig);
    for (const QString &subject : subjects.mid(1)) {
        x.open("X509Data", kDsig);
        x.fields({"X509SubjectName", subject, "X509Certificate", filler(subject, 30)}, kDsig)
            .close();
    }
    x.close(3).w.writeEndDocument();
    writeBytes(path, x.data);
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
