#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Writes complete masters into a folder that stands for the disk root: real track files, real
// SHA-1 Base64 digests, Interop or SMPTE documents, and a knob for each way a rule can fail.

struct KdmSpec
{
    QString folder; // relative to the disk root; empty = the root itself
    QString fileName = QStringLiteral("kdm.xml");
    QString compositionPlaylistId; // empty = the master's composition id
    QString notValidBefore = QStringLiteral("2023-01-01T00:00:00+08:00");
    QString notValidAfter = QStringLiteral("2099-03-01T23:59:59+08:00");
    QStringList subjectNames = {
        QStringLiteral("dnQualifier=abc\\+def=,CN=SM.TEST-SERVER,O=example.org")};
    QString namespaceUri = QStringLiteral("http://www.smpte-ra.org/schemas/430-3/2006/ETM");
};

struct MasterSpec
{
    enum Standard { Interop, Smpte };
    Standard standard = Smpte;
    QString folder = QStringLiteral("DCP"); // relative to the disk root; empty = the root itself
    QString title = QStringLiteral("JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV");
    bool stereoscopic = false;
    bool encrypted = false;
    QVector<int> reelDurations = {240}; // frames per reel; one picture and one sound track each
    QString editRate = QStringLiteral("24 1");
    QString frameRate; // empty = editRate (2D) or twice it (3D)
    QString screenAspectRatio = QStringLiteral("1998 1080");
    int trackBytes = 4096; // size of every track file

    // Names and namespaces; empty = the standard's usual value.
    QString assetMapFileName;
    QString assetMapNamespace;
    QString pklNamespace;
    QString cplNamespace;
    QString stereoscopicNamespace;
    QString assetMapAnnotation; // empty = title
    QString pklAnnotation;      // empty = title
    QString contentTitleText;   // empty = title; use emptyContentTitle for an empty element
    bool emptyContentTitle = false;

    // Ways to fail.
    bool omitFirstTrackFile = false;    // the asset map names a file that was not written
    bool trackPathIsFolder = false;     // the first track's asset-map Path names a folder
    QString assetMapPklId;              // id the asset map gives the packing list (empty = its own)
    QString assetMapCplId;              // id the asset map gives the composition (empty = its own)
    bool pklListsUnmappedAsset = false; // the packing list lists an id the asset map lacks
    bool wrongPklHash = false;          // the first track's digest in the packing list is wrong
    bool wrongCplHash = false;          // the first track's digest in the composition is wrong
    bool pklGroupId = false;
    bool secondCpl = false; // a second composition listed in the asset map
    bool secondPkl = false;
    bool noCpl = false;
    bool noPkl = false;
    bool pklOriginalFileNamesDiffer = false; // OriginalFileName unlike the asset map's Path

    // More knobs.
    QString issueDate = QStringLiteral("2023-01-01T12:00:00+08:00"); // every document's IssueDate
    QString cplFileName;                                             // empty = "cpl_<uuid>.xml"
    QString pklFileName;                                             // empty = "pkl_<uuid>.xml"
    bool subtitle = false; // a MainSubtitle track with an XML subtitle document in the first reel
    bool omitVolumeIndex = false;
};

struct BuiltMaster
{
    QString folder;       // absolute
    QString assetMapPath; // absolute
    QString cplPath;
    QString pklPath;
    QString cplId; // "urn:uuid:..."
    QString pklId;
    QString title;
    QStringList trackPaths; // picture, sound, subtitle files; absolute, in packing-list order
    qint64 totalTrackBytes = 0;

    // More results.
    QString assetMapId;
    // Absolute path of every packing-list asset in its order: the compositions, the tracks and
    // the extra asset of pklListsUnmappedAsset; with the digests the packing list states.
    QStringList pklAssetPaths;
    QStringList pklHashes;
    QStringList keyIds;   // encrypted masters: every KeyId of the composition, in order
    QString cplPath2;     // secondCpl: the second composition document
    QString pklPath2;     // secondPkl: the second packing list
    QString subtitlePath; // subtitle: the subtitle document
};

class FixtureBuilder
{
public:
    explicit FixtureBuilder(const QString &diskRoot);

    BuiltMaster writeMaster(const MasterSpec &spec);
    QString writeKdm(const BuiltMaster &master, const KdmSpec &spec = KdmSpec());

    // "set.ini": hash/check and the certificate list (cert_num/num, cert_list/cert0, ...).
    static void writeSettings(const QString &path, int hashCheck, const QStringList &certs = {});
    static QString sha1Base64(const QByteArray &data);
    static QString newUrnUuid();

    QString diskRoot() const { return m_root; }

private:
    QString m_root;
    quint64 m_filesWritten = 0; // seeds each track file's content, so no two files are alike
};
