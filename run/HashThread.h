#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

// Hashes the packing list's files on its own thread and reports through MsgSignal only:
// progress texts ("40.96%"), then exactly one of "OK" and "ERR". A worker whose interruption
// was requested stops at the next chunk and emits nothing more.
class HashThread : public QThread
{
    Q_OBJECT
public:
    HashThread(const QStringList &filePaths, const QStringList &expectedHashes);
    ~HashThread() override;

    // Bytes per chunk: after each, the progress is reported and an interruption honoured.
    static constexpr qint64 kChunkSize = 10240;

signals:
    void MsgSignal(QString strSign);

protected:
    void run() override;

private:
    QStringList filePaths;
    QStringList expectedHashes;
};
