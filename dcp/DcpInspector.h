#pragma once

#include "dcp/DcpTypes.h"

#include <QString>
#include <QVector>

#include <functional>

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
    QVector<QString> assetMapPaths;
    AssetMapInfo assetMap;
    KdmInfo kdm;
    QVector<CplInfo> cpls;
    QVector<PklInfo> pkls;
    QVector<KdmInfo> kdms;
    // The document that could not be read, and the system's reason (loadMaster's Unreadable).
    QString unreadableFile;
    QString unreadableReason;

    // Asked once per folder and document while discovery walks the disk; true ends discovery
    // (findMaster then fails without a message). Discovery runs on the caller's thread, so this
    // is how an interruption reaches it. Not run data: a reset keeps it.
    std::function<bool()> stopRequested;

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
    bool stopping(); // asks the stop check; once it said stop, discovery stays stopped
    bool readFailed(const QString &path, const QString &reason);

    bool m_stopSeen = false;
};

// True when text parses as a date with the pattern "yyyyMMdd".
bool isValidDate(const QString &text);

// The process-wide inspector the windows work on; static storage, like the design asks.
extern DcpInspector gDcpInspector;
