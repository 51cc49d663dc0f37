#include "dcp/RunEnvironment.h"

namespace {
QDate &dateOverride()
{
    static QDate date;
    return date;
}
} // namespace

QDate currentLocalDate()
{
    const QDate &date = dateOverride();
    return date.isValid() ? date : QDate::currentDate();
}

void setCurrentLocalDateOverride(const QDate &date)
{
    dateOverride() = date;
}
