#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Writes complete masters into a folder that stands for the disk root: real track files, real
// SHA-1 Base64 digests, Interop or SMPTE documents, and a knob for each way a rule can fail.

struct KdmLayout
{
    QString folder; // relative to the disk root; empty = the root itself
    QString fileName = QStringLiteral("kdm.xml");
    QString compositionPlaylistId; // empty = the master's composition id
    QString notValidBefore = QStringLiteral("2023-01-01T00:00:00+08:00");
    QString notValidAfter = QStringLiteral("2099-03-01T23:59:59+08:00");
    // The first is the recipient's; the others stand in the signer chain.
    QStringList subjectNames = {
        QStringLiteral("dnQualifier=abc\\+def=,CN=SM.TEST-SERVER,O=example.org")};
    QString namespaceUri = QStringLiteral("http://www.smpte-ra.org/schemas/430-3/2006/ETM");
};

struct MasterLayout
{
    enum Standard { Interop, Smpte };
    Standard standard = Smpte;
    QString folder = QStringLiteral("DCP"); // relative to the disk root; empty = the root itself
    QString title = QStringLiteral("JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV");
    bool stereoscopic = false;
    bool encrypted = false;
    QVector<int> reelDurations = {240}; // frames per reel; one picture and one sound track each
    qint64 trackBytes = 4096;           // size of every track file, written a megabyte at a time

    // Names and texts; empty = the standard's usual value (the title for texts).
    QString assetMapFileName;
    QString assetMapNamespace;
    QString pklNamespace;
    QString cplNamespace;
    QString stereoscopicNamespace;
    QString pklAnnotation;
    QString contentTitleText;
    bool emptyContentTitle = false;

    // Ways to fail.
    bool omitFirstTrackFile = false;    // the asset map names a file that was not written
    QString assetMapPklId;              // id the asset map gives the packing list
    bool pklListsUnmappedAsset = false; // the packing list lists a file the asset map lacks
    bool wrongPklHash = false;          // the first track's digest in the packing list is wrong
    bool wrongCplHash = false;          // the first track's digest in the composition is wrong
    bool pklGroupId = false;
    bool secondCpl = false; // listed in the asset map and the packing list
    bool secondPkl = false; // listed in the asset map
    bool noCpl = false;     // the composition is missing from the asset map
    bool noPkl = false;
};

struct BuiltMaster
{
    QString folder; // absolute, like every path here
    QString assetMapPath;
    QString cplId; // "urn:uuid:..."
    QString title;
    QStringList trackPaths;    // picture and sound of each reel
    QStringList pklAssetPaths; // every packing-list asset in its order: compositions, then tracks
    QStringList keyIds;        // encrypted masters: every KeyId of the composition, in order
};

class FixtureBuilder
{
public:
    explicit FixtureBuilder(const QString &diskRoot);

    BuiltMaster writeMaster(const MasterLayout &master);
    QString writeKdm(const BuiltMaster &master, const KdmLayout &kdmLayout = KdmLayout());

    // "set.ini": hash/check and the certificate list (cert_num/num, cert_list/cert0, ...).
    static void writeSettings(const QString &path, int hashCheck, const QStringList &certs = {});
    static QString sha1Base64(const QByteArray &data);
    static QString newUrnUuid();

private:
    QString m_root;
    quint64 m_filesWritten = 0; // seeds each track file's content, so no two files are alike
};
