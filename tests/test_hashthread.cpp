#include "run/HashThread.h"
#include "support/FixtureBuilder.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Receives the worker's messages on the test's thread, through the same queued delivery the
// check run gets.
class MessageCollector : public QObject
{
    Q_OBJECT
public:
    QStringList messages;
    bool hasVerdict() const
    {
        return !messages.isEmpty() &&
               (messages.last() == QLatin1String("OK") || messages.last() == QLatin1String("ERR"));
    }
    QStringList progress() const
    {
        QStringList texts = messages;
        if (hasVerdict())
            texts.removeLast();
        return texts;
    }

public slots:
    void receive(QString text) { messages << text; }
};

class TestHashThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void messages_data();
    void messages();
    void progressIsSentOnlyWhenItChanges();
    void interruptedWorkerStopsAndStaysSilent();

private:
    QString writeFile(const QString &name, const QByteArray &content);
    QStringList run(const QStringList &paths, const QStringList &hashes);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHashThread::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestHashThread::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList TestHashThread::run(const QStringList &paths, const QStringList &hashes)
{
    MessageCollector collector;
    HashThread worker(paths, hashes);
    connect(&worker, &HashThread::MsgSignal, &collector, &MessageCollector::receive);
    worker.start();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(collector.hasVerdict(), 30000); }();
    worker.wait();
    QCoreApplication::processEvents();
    return collector.messages;
}

namespace {
QStringList texts(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

QByteArray pattern(int size, char seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(seed + i * 7 + i / 251);
    return data;
}
} // namespace

void TestHashThread::messages_data()
{
    // Sizes of the files in order (-1: the file is missing), which digest is stated wrong
    // (-1: none; -2: the right one in other letter case), and the messages expected.
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<int>("wrongHash");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one file of 25000 bytes")
        << QVector<int>{25000} << -1 << texts({"40.96%", "81.92%", "100.00%", "OK"});
    QTest::newRow("two files of 10240 bytes")
        << QVector<int>{10240, 10240} << -1 << texts({"50.00%", "100.00%", "OK"});
    QTest::newRow("no files") << QVector<int>{} << -1 << texts({"OK"});
    QTest::newRow("zero-byte file") << QVector<int>{0} << -1 << texts({"OK"});
    QTest::newRow("zero-byte file after another")
        << QVector<int>{20480, 0} << -1 << texts({"50.00%", "100.00%", "OK"});
    QTest::newRow("zero-byte file with a wrong digest") << QVector<int>{0} << 0 << texts({"ERR"});
    QTest::newRow("second digest wrong")
        << QVector<int>{10240, 10240, 10240} << 1 << texts({"33.33%", "66.67%", "ERR"});
    QTest::newRow("digest in other letter case")
        << QVector<int>{25000} << -2 << texts({"40.96%", "81.92%", "100.00%", "ERR"});
    QTest::newRow("missing file in the middle")
        << QVector<int>{10240, -1, 10240} << -1 << texts({"50.00%", "ERR"});
    QTest::newRow("missing first file") << QVector<int>{-1} << -1 << texts({"ERR"});
}

void TestHashThread::messages()
{
    QFETCH(QVector<int>, sizes);
    QFETCH(int, wrongHash);
    QFETCH(QStringList, expected);

    QStringList paths;
    QStringList hashes;
    for (int i = 0; i < sizes.size(); ++i) {
        const QString name = QStringLiteral("track%1.mxf").arg(i);
        if (sizes[i] < 0) {
            paths << m_dir->filePath(name);
            hashes << FixtureBuilder::sha1Base64(QByteArray());
            continue;
        }
        const QByteArray content = pattern(sizes[i], static_cast<char>('a' + i));
        paths << writeFile(name, content);
        QString hash = FixtureBuilder::sha1Base64(content);
        if (i == wrongHash)
            hash = FixtureBuilder::sha1Base64(content + 'x');
        if (wrongHash == -2) {
            QVERIFY(hash != hash.toLower());
            hash = hash.toLower();
        }
        hashes << hash;
    }
    QCOMPARE(run(paths, hashes), expected);
}

void TestHashThread::progressIsSentOnlyWhenItChanges()
{
    // 20001 chunks: more chunks than there are distinct percentages.
    const qint64 chunks = 20001;
    const qint64 size = chunks * HashThread::kChunkSize - 17;
    const QString path = m_dir->filePath(QStringLiteral("big.mxf"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(pattern(4096, 'q')) == 4096);
        QVERIFY(file.resize(size));
    }
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(sha1.addData(&file));
    }
    const QString digest = QString::fromLatin1(sha1.result().toBase64());

    QStringList expected;
    for (qint64 done = 0; done < size;) {
        done = qMin(size, done + HashThread::kChunkSize);
        const QString text = QString::number(done * 100.0 / size, 'f', 2) + QLatin1Char('%');
        if (expected.isEmpty() || expected.last() != text)
            expected << text;
    }
    expected << QStringLiteral("OK");
    QVERIFY(expected.size() <= 10002);

    QCOMPARE(run({path}, {digest}), expected);
}

void TestHashThread::interruptedWorkerStopsAndStaysSilent()
{
    // A sparse file far larger than could be hashed within the test's patience.
    const QString path = m_dir->filePath(QStringLiteral("huge.mxf"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(Q_INT64_C(16) * 1024 * 1024 * 1024));
    }
    MessageCollector collector;
    HashThread worker({path}, {QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAAAAA=")});
    connect(&worker, &HashThread::MsgSignal, &collector, &MessageCollector::receive);
    worker.start();
    QTRY_VERIFY(!collector.messages.isEmpty());

    QElapsedTimer timer;
    timer.start();
    worker.requestInterruption();
    QVERIFY(worker.wait(5000));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

    QCoreApplication::processEvents();
    QVERIFY(!collector.hasVerdict());
    for (const QString &text : qAsConst(collector.messages))
        QVERIFY(text.endsWith(QLatin1Char('%')));
}

QTEST_GUILESS_MAIN(TestHashThread)
#include "test_hashthread.moc"
