#pragma once

#include <QString>
#include <QVector>

class DcpInspector;

// A finding that peers flag and the check list does not judge: it never changes a row, a
// warning or an exit status, but cinema servers may refuse such a package at ingest.
struct Advisory
{
    QString code;    // stable: "pkl-size", "assetmap-length", "unlisted-file", ...
    QString path;    // relative to the master root, "/" separated; empty when no file is meant
    QString message; // for the operator, in Chinese
};

// Looks at what the run read of the documents (as far as it got) and at the files below the
// asset map's folder. Empty when there is nothing to tell or no asset map was read.
QVector<Advisory> findAdvisories(const DcpInspector &inspector);
