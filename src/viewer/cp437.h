#pragma once

#include <QByteArrayView>
#include <QString>

namespace arcsweep {

// Code page 437, the DOS character set of ".nfo" art, as the DOS screen shows it:
// the glyphs for 0x01-0x1F and 0x7F (smileys, arrows, card suits), box drawing and
// shades above 0x7F. TAB, LF and CR stay control characters; 0x00 shows as a blank.
// Qt's and iconv's decoders map the low bytes to control characters, hence our table.
namespace Cp437 {

char16_t toUnicode(uchar byte);

// Appends the decoded bytes to `out`.
void appendDecoded(QString &out, QByteArrayView bytes);

inline QString decode(QByteArrayView bytes) {
    QString out;
    appendDecoded(out, bytes);
    return out;
}

} // namespace Cp437
} // namespace arcsweep
