#pragma once

#include <QDate>

// Today's local date, unless a test has fixed it: the one thing a run takes from its
// surroundings that tests must be able to set.
QDate currentLocalDate();
void setCurrentLocalDateOverride(const QDate &date); // invalid date restores the clock
