#pragma once

#include <QString>
#include <QVector>

// Plain value records of the package's documents. They refer to each other only through id
// texts, held as the documents write them (URN prefix and letter case included) less the XML
// white space around them; digests and paths are taken the same way.

// One asset. The same record serves an asset-map entry, a packing-list entry and a composition
// track; each document fills only some of the fields.
struct AssetInfo
{
    QString id;
    QString path; // asset map: Path; packing list: OriginalFileName (later the asset map's Path)
    qint64 size = 0;
    bool sizeGiven = false; // asset map: Length, packing list: Size was written as a number
    QString type;      // packing list: Type; track: "Picture", "Sound", "Picture3D", "Subtitle"
    QString hash;      // Base64 SHA-1 as written
    QString editRate;  // track: EditRate as a rounded integer text ("24", "120")
    QString frameRate; // track: FrameRate as a rounded integer text
    qint32 duration = 0;
    QString aspectRatio; // track: "1.85:1"
    QString language;
    QString keyId;
    QString pictureSize; // track: "1998*1080"
};

struct AssetMapInfo
{
    QString namespaceUri;
    QString id;
    QString annotationText;
    QVector<AssetInfo> assets;
};

struct PklInfo
{
    QString namespaceUri;
    QString id;
    QString annotationText;
    QString issueDate; // first ten characters of IssueDate
    QVector<AssetInfo> assets;
    bool hasGroupId = false;
    QString filePath; // where discovery read it; not part of the document
};

// One asset of a reel as the composition lists it, whatever its kind: the labels' track fields
// keep only the main tracks, while the package's consistency needs every asset of every reel.
struct CplReelAsset
{
    QString kind; // the element's local name: "MainPicture", "MainSound", "AuxData", ...
    QString id;
    QString hash;
    qint64 duration = -1; // -1: not written, or not a number
    qint64 intrinsicDuration = -1;
    qint64 entryPoint = -1;
};

struct CplReel
{
    QString id;
    QVector<CplReelAsset> assets; // in document order
};

struct CplInfo
{
    QString namespaceUri;
    QString id;
    QString contentTitleText;
    QVector<AssetInfo> assets; // tracks of all reels, in document order
    bool stereoscopic = false;
    QString stereoscopicNamespaceUri;
    bool encrypted = false;
    QVector<CplReel> reels; // complete reels only: one cut short by a fault is left out
    QString filePath;       // where discovery read it; not part of the document
};

struct KdmInfo
{
    QString namespaceUri;
    QString messageId;
    QString compositionPlaylistId;
    QString notValidBefore;
    QString notValidAfter;
    QVector<QString> subjectNames; // every X509SubjectName, the signer chain's included
    QString recipientSubjectName;  // KDMRequiredExtensions/Recipient/X509SubjectName
    QString filePath;              // where discovery read it; not part of the document
};

// The two 23-character namespace prefixes (scheme and host) of Interop and SMPTE documents.
extern const QString kInteropNamespacePrefix;
extern const QString kSmpteNamespacePrefix;

// A namespace rule passes when the URI contains the Interop prefix, or else the SMPTE prefix:
// case-sensitive substring search, so the prefix may stand anywhere in the URI.
bool hasDcpNamespace(const QString &namespaceUri);
