#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class DcpInspector;

// The operator's confirmation for a headless run: the [label] section of a small INI file, one
// "key=value" per line. A value is the text after "=" without the blanks around it, kept as
// written (commas and semicolons included); double quotes around it keep blanks at its ends.
struct LabelInput
{
    QHash<QString, QString> values; // only the keys the file sets
    QStringList ignoredKeys;        // keys outside [label] or unknown to the checker, as written
};

// The keys of the [label] section, in the order of the dialog's fields.
QStringList labelKeys();

// False, with a message that names the file (and line), when it cannot be read or is not INI.
bool readLabelFile(const QString &path, LabelInput &input, QString &errorMessage);

// Stores the confirmation into the inspector as the dialog's button would: a key the file sets
// gives its text; an absent key keeps what the dialog shows, the pre-fill, or nothing for the
// fields the dialog starts empty (film name, colour, audio, producer, interface).
void applyLabels(const LabelInput &input, DcpInspector &inspector);
