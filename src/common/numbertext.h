#pragma once

#include <QString>
#include <QStringList>

namespace arcsweep::NumberText {

// A whole number with the locale's thousands grouping: "1,234,567", "0".
// (Both of the program's count masks print this same text.)
QString grouped(double value);

// The runtime's plain number form used in the totals file: a blank where a plus
// sign would be, up to 15 significant digits, a fraction only when there is one
// (after a "." in every locale), the exponent form from 1E15 on ("1E+15"), and a
// trailing blank.
QString plain(double value);

// The leading decimal number of a text ("  12.5abc" gives 12.5); 0 when there is none.
double leadingNumber(const QString &text);

// Delimited fields of a text: separated by commas or line ends, surrounding blanks
// ignored, a field in double quotes taken whole. `maxFields` < 0 reads them all.
QStringList delimitedFields(const QString &text, int maxFields = -1);

} // namespace arcsweep::NumberText
