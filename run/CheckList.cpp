#include "run/CheckList.h"

namespace {
struct RowText
{
    const char *number;
    const char *item;
};

const RowText kRows[CheckRow::Count] = {
    {"A.2", "载体符合性检测"},
    {"-a)", "硬盘标签检测"},
    {"-b)", "物理损坏检测"},
    {"-c)", "硬盘接口检测"},
    {"-d)", "文件系统检测"},
    {"-e)", "硬盘分区检测"},
    {"-f)", "DCP和KDM检测"},
    {"-g)", "DCP命名规范检测"},
    {"A.3", "DCP符合性检测"},
    {"-A.3.1", "ASSETMAP检测"},
    {"--a)", "ASSETMAP文件有无检测"},
    {"--b)", "命名空间检测"},
    {"--c)", "路径一致检测"},
    {"-A.3.2", "PKL检测"},
    {"--a)", "PKL文件UUID列出检测"},
    {"--b)", "命名空间检测"},
    {"--c)", "AnnotationText元素值检测"},
    {"--d)", "资产文件UUID一致性检测"},
    {"--e)", "HASH值一致性检测"},
    {"--f)", "GroupID元素检测"},
    {"-A.3.3", "CPL检测"},
    {"--a)", "CPL文件UUID列出检测"},
    {"--b)", "命名空间检测"},
    {"--c)", "ContentTitleText元素值检测"},
    {"--d)", "HASH值一致性检测"},
    // The item name is spelled so on the official check list.
    {"--e)", "MainSterescopicPicture元素检测"},
    {"A.4", "KDM符合性检测"},
    {"-a)", "UUID一致性检测"},
    {"-b)", "命名空间检测"},
};
} // namespace

QString checkListNumber(int row)
{
    if (row < 0 || row >= CheckRow::Count)
        return QString();
    return QString::fromUtf8(kRows[row].number);
}

QString checkListItem(int row)
{
    if (row < 0 || row >= CheckRow::Count)
        return QString();
    return QString::fromUtf8(kRows[row].item);
}

QString cellKindText(CellKind kind, const QString &progressText)
{
    switch (kind) {
    case CellKind::Blank:
        return QString();
    case CellKind::Pass:
        return QStringLiteral("符合");
    case CellKind::Fail:
        return QStringLiteral("不符合");
    case CellKind::Progress:
        return progressText.isNull() ? QStringLiteral("检测中......") : progressText;
    case CellKind::NotApplicable:
        return QStringLiteral("———");
    case CellKind::UnencryptedPass:
        return QStringLiteral("符合(未加密DCP)");
    }
    return QString();
}
