// What each system provides its own way: SHA-1 from the system's library, the folder the window
// writes its report into, and fonts standing in for the Windows fonts the forms name.
#include "platform/Sha1.h"
#include "report/FontSetup.h"
#include "report/ReportLocation.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    quint32 state = 2463534242u;
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data[i] = static_cast<char>(state);
    }
    return data;
}
} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }

    void sha1Digest_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece"); // bytes per addData call
        QTest::newRow("empty") << 0 << 1;
        QTest::newRow("one chunk, odd pieces") << 10240 << 4097;
        QTest::newRow("3 MB and a byte, in chunks") << 3 * 1024 * 1024 + 1 << 10240;
        QTest::newRow("3 MB and a byte, at once") << 3 * 1024 * 1024 + 1 << 3 * 1024 * 1024 + 1;
    }

    void sha1Digest()
    {
        QFETCH(int, size);
        QFETCH(int, piece);
        const QByteArray data = pattern(size);
        const QByteArray expected = QCryptographicHash::hash(data, QCryptographicHash::Sha1);

        Sha1Digest digest;
        QVERIFY(digest.isValid());
        // Twice through one object, as the worker hashes file after file; the first pass is
        // broken off by a reset halfway, as a file that ends early would leave it.
        digest.addData(data.constData(), size / 2);
        digest.reset();
        for (int pass = 0; pass < 2; ++pass) {
            for (int at = 0; at < size; at += piece)
                digest.addData(data.constData() + at, qMin(piece, size - at));
            QCOMPARE(digest.result().toHex(), expected.toHex());
            digest.reset();
        }
    }

    void reportLocation_data()
    {
        QTest::addColumn<QString>("program"); // "@" is a temporary folder; "@/file" a file there
        QTest::addColumn<QString>("documents");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const char *program, const char *documents,
                            const char *expected) {
            QTest::newRow(tag) << QString::fromUtf8(program) << QString::fromUtf8(documents)
                               << QString::fromUtf8(expected);
        };
        row("program folder takes files", "@/program", "@/documents",
            "@/program/VetMasterReport.pdf");
        // Under a file nothing can be made, whoever runs the test.
        row("program folder takes none", "@/file/program", "@/documents",
            "@/documents/Tavimor/VetMasterReport.pdf");
        row("Documents missing too", "@/file/program", "@/documents/new",
            "@/documents/new/Tavimor/VetMasterReport.pdf");
        row("neither takes files", "@/file/program", "@/file/documents",
            "@/file/program/VetMasterReport.pdf");
    }

    void reportLocation()
    {
        QFETCH(QString, program);
        QFETCH(QString, documents);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const auto at = [&dir](QString path) { return path.replace(QLatin1Char('@'), dir.path()); };
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("program"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("documents"))));
        writeFile(dir.filePath(QStringLiteral("file")), QByteArray());

        QCOMPARE(reportFilePath(at(program), at(documents)), at(expected));
        // The probe leaves nothing behind.
        QCOMPARE(QDir(at(program)).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!QFileInfo::exists(at(expected)));
    }

    void fontSubstitutes_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("installed"); // comma-separated
        QTest::addColumn<QString>("chinese");   // installed fonts with Simplified Chinese glyphs
        QTest::addColumn<QString>("expected");
        const char *windows = "Arial,SimSun,NSimSun,SimHei,Microsoft YaHei";
        const char *linux = "DejaVu Sans,WenQuanYi Zen Hei,AR PL UMing CN";
        const auto row = [](const char *tag, const char *family, const char *installed,
                            const char *chinese, const char *expected) {
            QTest::newRow(tag) << QString::fromUtf8(family) << QString::fromUtf8(installed)
                               << QString::fromUtf8(chinese) << QString::fromUtf8(expected);
        };
        row("installed itself", "黑体", "黑体,Arial", "黑体", "");
        row("not a family of the forms", "Arial", windows, "", "");
        row("Windows: 幼圆 without Office", "幼圆", windows, "SimSun", "Microsoft YaHei,SimHei");
        row("Windows: English names", "黑体", windows, "", "SimHei,Microsoft YaHei");
        row("Windows: 新宋体", "新宋体", windows, "", "NSimSun,SimSun,Microsoft YaHei,SimHei");
        row("Windows: Agency FB", "Agency FB", windows, "", "Microsoft YaHei,SimHei");
        row("Linux: 宋体", "宋体", linux, "", "AR PL UMing CN,WenQuanYi Zen Hei");
        row("Linux: 幼圆", "幼圆", linux, "", "WenQuanYi Zen Hei");
        row("only an unknown CJK font", "宋体", "Arial,Fangzheng Kai", "Fangzheng Kai,Other",
            "Fangzheng Kai");
        row("no CJK font at all", "黑体", "Arial", "", "");
    }

    void fontSubstitutes()
    {
        QFETCH(QString, family);
        QFETCH(QString, installed);
        QFETCH(QString, chinese);
        QFETCH(QString, expected);
        const auto list = [](const QString &text) {
            return text.split(QLatin1Char(','), Qt::SkipEmptyParts);
        };
        QCOMPARE(cjkSubstitutes(family, list(installed), list(chinese)), list(expected));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
