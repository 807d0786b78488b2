#pragma once

// Lists kept as one text ("comma text"): the lists of excluded files and
// types, folder masks, mail attachments. The same rules on both sides of
// every exchange, so a list always reads back as it was written.

#include <QString>
#include <QStringList>

namespace ardanto {

// Joins with ","; an item holding a blank, a comma, a double quote or a
// control character goes in double quotes, inner double quotes doubled. A
// list of one empty item gives "\"\"" so that it does not read back as no
// item at all.
QString CommaTextJoin(const QStringList& items);

// Splits at commas and, outside double quotes, also at blanks and control
// characters; blanks around a comma belong to no item. A quoted item may hold
// blanks and commas, and a doubled double quote in it stands for one; an
// unclosed quote runs to the end of the text. Two commas in a row, and a comma
// that ends the text, give an empty item.
QStringList CommaTextSplit(const QString& text);

} // namespace ardanto
