#pragma once

#include <QString>

// The fixed check list of 29 rows and the kinds of result cell the run writes into column 2.

namespace CheckRow {
enum : int {
    CarrierHeader = 0,  // A.2
    Label = 1,          // -a)
    Physical = 2,       // -b)
    Interface = 3,      // -c)
    FileSystem = 4,     // -d)
    Partition = 5,      // -e)
    DcpAndKdm = 6,      // -f)
    DcpName = 7,        // -g)
    DcpHeader = 8,      // A.3
    AssetMapHeader = 9, // -A.3.1
    AssetMapPresent = 10,
    AssetMapNamespace = 11,
    AssetPaths = 12,
    PklHeader = 13, // -A.3.2
    PklListed = 14,
    PklNamespace = 15,
    PklAnnotation = 16,
    PklAssets = 17,
    Hash = 18,
    GroupId = 19,
    CplHeader = 20, // -A.3.3
    CplListed = 21,
    CplNamespace = 22,
    CplTitle = 23,
    CplTrackHashes = 24,
    Stereoscopic = 25,
    KdmHeader = 26, // A.4
    KdmId = 27,
    KdmNamespace = 28,
    Count = 29
};
}

enum class CellKind {
    Blank,          // empty text, no alignment, no colour (run start only)
    Pass,           // "符合", green
    Fail,           // "不符合", red
    Progress,       // "检测中......" or a hash progress text, blue
    NotApplicable,  // "———", green
    UnencryptedPass // "符合(未加密DCP)", green
};

// Column 0 and column 1 texts of a row.
QString checkListNumber(int row);
QString checkListItem(int row);

// The text a cell of this kind shows; a progress cell shows progressText.
QString cellKindText(CellKind kind, const QString &progressText = QString());
