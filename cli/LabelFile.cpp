#include "cli/LabelFile.h"

#include "dcp/DcpInspector.h"
#include "dcp/InputFiles.h"

#include <QTextCodec>

namespace {
QString *labelField(DcpInspector &inspector, const QString &key)
{
    struct Entry
    {
        const char *key;
        QString DcpInspector::*member;
    };
    static const Entry kEntries[] = {
        {"filmName", &DcpInspector::filmName},
        {"kdmDate", &DcpInspector::kdmDate},
        {"duration", &DcpInspector::duration},
        {"resolution", &DcpInspector::resolution},
        {"aspect", &DcpInspector::aspect},
        {"frame", &DcpInspector::frame},
        {"color", &DcpInspector::color},
        {"audio", &DcpInspector::audio},
        {"vetDate", &DcpInspector::vetDate},
        {"producer", &DcpInspector::producer},
        {"diskInterface", &DcpInspector::diskInterface},
    };
    for (const Entry &entry : kEntries) {
        if (key == QLatin1String(entry.key))
            return &(inspector.*entry.member);
    }
    return nullptr;
}

// The dialog shows these empty, whatever the run found.
bool startsEmptyInDialog(const QString &key)
{
    static const QStringList kKeys = {QStringLiteral("filmName"), QStringLiteral("color"),
                                      QStringLiteral("audio"), QStringLiteral("producer"),
                                      QStringLiteral("diskInterface")};
    return kKeys.contains(key);
}
} // namespace

QStringList labelKeys()
{
    return {
        QStringLiteral("filmName"),   QStringLiteral("kdmDate"),      QStringLiteral("duration"),
        QStringLiteral("resolution"), QStringLiteral("aspect"),       QStringLiteral("frame"),
        QStringLiteral("color"),      QStringLiteral("audio"),        QStringLiteral("vetDate"),
        QStringLiteral("producer"),   QStringLiteral("diskInterface")};
}

bool readLabelFile(const QString &path, LabelInput &input, QString &errorMessage)
{
    input = LabelInput();
    const InputFile file = readInputFile(path);
    if (file.problem != InputFileProblem::None) {
        errorMessage = QStringLiteral("cannot read the labels file %1: %2").arg(path, file.reason);
        return false;
    }
    const QByteArray &bytes = file.bytes;
    QTextCodec::ConverterState state;
    QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0) {
        errorMessage = QStringLiteral("the labels file %1 is not UTF-8 text").arg(path);
        return false;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const QStringList known = labelKeys();
    QString section;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = equals > 0 ? line.left(equals).trimmed() : QString();
        if (key.isEmpty()) {
            errorMessage =
                QStringLiteral("the labels file %1, line %2: expected key=value or [section]")
                    .arg(path)
                    .arg(i + 1);
            return false;
        }
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (section != QLatin1String("label")) {
            input.ignoredKeys.append(QStringLiteral("[%1] %2").arg(section, key));
            continue;
        }
        if (!known.contains(key)) {
            input.ignoredKeys.append(QStringLiteral("[label] %1").arg(key));
            continue;
        }
        input.values.insert(key, value);
    }
    return true;
}

void applyLabels(const LabelInput &input, DcpInspector &inspector)
{
    for (const QString &key : labelKeys()) {
        QString *field = labelField(inspector, key);
        if (!field)
            continue;
        const auto it = input.values.constFind(key);
        if (it != input.values.constEnd())
            *field = it.value();
        else if (startsEmptyInDialog(key))
            field->clear();
        // Otherwise the pre-fill stands. For vetDate the dialog would re-format a valid date to
        // the same text; an invalid pre-fill cannot occur, since the run writes today's date.
    }
}
