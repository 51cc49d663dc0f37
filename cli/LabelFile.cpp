#include "cli/LabelFile.h"

#include "dcp/DcpInspector.h"
#include "dcp/InputFiles.h"

#include <QTextCodec>

QStringList labelKeys()
{
    QStringList keys;
    for (const LabelField &field : labelFields())
        keys << QString::fromLatin1(field.key);
    return keys;
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
    for (const IniLine &line : iniLines(text, QStringLiteral(";#"))) {
        if (line.kind == IniLine::Malformed) {
            errorMessage =
                QStringLiteral("the labels file %1, line %2: expected key=value or [section]")
                    .arg(path)
                    .arg(line.number);
            return false;
        }
        if (line.kind != IniLine::Entry)
            continue;
        QString value = line.value;
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (line.section != QLatin1String("label")) {
            input.ignoredKeys.append(QStringLiteral("[%1] %2").arg(line.section, line.key));
            continue;
        }
        if (!known.contains(line.key)) {
            input.ignoredKeys.append(QStringLiteral("[label] %1").arg(line.key));
            continue;
        }
        input.values.insert(line.key, value);
    }
    return true;
}

void applyLabels(const LabelInput &input, DcpInspector &inspector)
{
    for (const LabelField &field : labelFields()) {
        QString &text = inspector.*field.member;
        const auto it = input.values.constFind(QString::fromLatin1(field.key));
        if (it != input.values.constEnd())
            text = it.value();
        else if (field.startsEmpty)
            text.clear();
        // Otherwise the pre-fill stands. For vetDate the dialog would re-format a valid date to
        // the same text; an invalid pre-fill cannot occur, since the run writes today's date.
    }
}
