#pragma once

#include "dcp/DcpTypes.h"
#include "dcp/RunSettings.h"

#include <QString>
#include <QVector>

#include <functional>

class VolumeService;

// The one object that holds a check run's data between its steps: the label fields, what
// discovery found on the disk, the parsed documents and the chosen KDM. Members are public; the
// rules and discovery are member functions (defined next to the subsystem that owns them).
class DcpInspector
{
public:
    // Result codes of loadMaster; a value n >= 2 means n asset maps were found.
    enum MasterResult {
        MasterOk = 0,
        NoAssetMap = -1,
        FilesMissing = -2,
        NoCpl = -3,
        SeveralCpls = -4,
        NoPkl = -5,
        SeveralPkls = -6,
        NoKdmFile = -7,
        NotEncrypted = -8,
        NoMatchingKdm = -9,
        Unreadable = -10,  // a document exists but could not be read: unreadableFile names it
        Interrupted = -11, // the stop check asked discovery to stop
    };

    QString cplName;
    // The label fields, listed with what is known of each in labelFields() below.
    QString filmName;
    QString kdmDate;
    QString duration;
    QString resolution;
    QString aspect;
    QString frame;
    QString color;
    QString audio;
    QString vetDate; // yyyyMMdd
    QString producer;
    QString diskInterface;
    bool encrypted = false;
    QVector<QString> removableDrives;
    // A folder check's folder, which stands for the disk root; empty when a disk is checked.
    QString masterFolder;
    QVector<QString> assetMapPaths;
    AssetMapInfo assetMap;
    KdmInfo kdm;
    QVector<CplInfo> cpls;
    QVector<PklInfo> pkls;
    QVector<KdmInfo> kdms;
    // The document that could not be read, and the system's reason (loadMaster's Unreadable).
    QString unreadableFile;
    QString unreadableReason;
    // What the last failed rule found, for the operator: the file, the value found and the value
    // expected, one "name：value" per line. Rules set it when they fail; the run takes it.
    // Const rules write it too: it describes their verdict, not the package.
    mutable QString failureDetail;

    // Asked once per folder and document while discovery walks the disk; true ends discovery
    // (findMaster then fails without a message). Discovery runs on the caller's thread, so this
    // is how an interruption reaches it. Not run data: a reset keeps it.
    std::function<bool()> stopRequested;
    // What the run read from its settings file at its start. A reset keeps it.
    RunSettings settings;
    // The volumes the carrier rules look at; the process's service when null. A reset keeps it.
    const VolumeService *volumes = nullptr;

    // Where the master is looked for: the folder of a folder check, or the disk found.
    QString masterRoot() const;
    // A path as the operator finds it on the disk: relative to the master root when inside it,
    // in the system's notation otherwise.
    QString displayPath(const QString &path) const;

    // The reset at the start of every check run.
    void resetRunData();

    // Carrier rules (run/CarrierRules.cpp).
    bool findRemovableDrives(QString &message);
    bool checkNtfs(QString &message);
    bool checkSingleDrive(QString &message);

    // Discovery (dcp/MasterDiscovery.cpp).
    bool findMaster(QString &message);
    int loadMaster(const QString &driveRoot);
    bool findAssetMaps(const QString &folder); // false when stopped
    bool scanKdms(const QString &driveRoot);
    bool selectKdm();
    // Why no KDM on the disk was chosen, one line per KDM file.
    QString kdmRejections() const;

    // Package rules (run/PackageRules.cpp).
    bool checkDcpName(QString &message);
    bool checkAssetPaths(QString &message);
    bool pklListedInAssetMap();
    bool checkPklAssets(QString &message);

    // Composition rules and label pre-fill (run/CompositionRules.cpp).
    bool cplListedInAssetMap() const;
    bool checkCplTrackHashes(QString &message) const;
    void prefillLabelFields();
    bool checkLabelValues(QString &message) const;

    // KDM rules (run/KdmRules.cpp).
    bool checkKdmCompositionId(QString &message) const;
    bool checkKdmNamespace(QString &message) const;

    // The label dialog's validation (run/LabelRules.cpp).
    bool checkLabelFields(QString &message) const;

private:
    const VolumeService &carrierVolumes() const;
    bool stopping(); // asks the stop check; once it said stop, discovery stays stopped
    bool readFailed(const QString &path, const QString &reason);
    QString documentList(const QStringList &paths) const; // one display path per line

    bool m_stopSeen = false;
};

// True when text parses as a date with the pattern "yyyyMMdd".
bool isValidDate(const QString &text);

// One label field: a row here and a member above are all it takes to add one.
struct LabelField
{
    const char *key; // in the labels file and the command line's output
    QString DcpInspector::*member;
    bool startsEmpty;          // the dialog shows it empty, whatever the run found
    const char *reportCaption; // on the report's first page; nullptr: not printed there
    const char *emptyMessage;  // why the dialog refuses it empty
};

// The label fields in the dialog's order.
const QVector<LabelField> &labelFields();
