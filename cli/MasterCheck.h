#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

class CheckRun;
class ConsoleFrontEnd;
class DcpInspector;
class VolumeService;
struct LabelInput;

// What one master's check came to, ready to print.
struct MasterResult
{
    int status = 0; // an ExitStatus
    QJsonObject json;
    QString table; // the check list and the warning, as printed without --json
    // Number and item of the first failed row, or the warning of a run that failed without a
    // failed row (refused labels); empty when nothing failed.
    QString firstFailure;
    bool hashSkipped = false;
};

// One master's check run with its own inspector and front end, so that several can run at once
// in one process. The first stage runs in start(); hashing goes on in a worker whose messages
// arrive through the event loop.
class MasterCheck
{
public:
    // folder: the master root (empty: the attached disk). labels: the operator's confirmation,
    // or nullptr. stop: asked between steps of the discovery whether the operator interrupted.
    MasterCheck(const QString &folder, const QString &settingsPath, const LabelInput *labels,
                bool showProgress, std::function<bool()> stop);
    ~MasterCheck();
    MasterCheck(const MasterCheck &) = delete;
    MasterCheck &operator=(const MasterCheck &) = delete;

    void start();
    // Stops the hashing worker, if any, and waits for it.
    void stop();
    bool hasEnded() const;
    // Valid once the run has ended.
    MasterResult result() const;

    ConsoleFrontEnd &frontEnd() { return *m_frontEnd; }
    const DcpInspector &inspector() const { return *m_inspector; }

private:
    const LabelInput *m_labels;
    std::unique_ptr<VolumeService> m_volumes;
    std::unique_ptr<DcpInspector> m_inspector;
    std::unique_ptr<ConsoleFrontEnd> m_frontEnd;
    std::unique_ptr<CheckRun> m_run; // last: it refers to the others
};

// The check list of a run as one JSON object, and as the table with the warning under it.
QJsonObject resultJson(const ConsoleFrontEnd &frontEnd, const DcpInspector &inspector);
QString resultTable(const ConsoleFrontEnd &frontEnd);
