#include "viewer/cp437.h"

#include <gtest/gtest.h>
#include <iconv.h>

using namespace arcsweep;

namespace {

// glibc's converter, an independent reading of the upper half of the code page.
QString iconvCp437(const QByteArray &bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP437");
    if (cd == iconv_t(-1))
        return {};
    QByteArray out(bytes.size() * 4, '\0');
    char *in = const_cast<char *>(bytes.constData());
    char *dst = out.data();
    size_t inLeft = size_t(bytes.size()), outLeft = size_t(out.size());
    const size_t done = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (done == size_t(-1))
        return {};
    out.truncate(out.size() - qsizetype(outLeft));
    return QString::fromUtf8(out);
}

TEST(Cp437, UpperHalfAgreesWithGlibc) {
    QByteArray upper;
    for (int b = 0x80; b <= 0xFF; ++b)
        upper.append(char(b));
    const QString expected = iconvCp437(upper);
    ASSERT_EQ(expected.size(), 128) << "glibc has no CP437 converter";
    const QString decoded = Cp437::decode(upper);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(decoded.at(i), expected.at(i)) << "byte 0x" << std::hex << (0x80 + i);
}

TEST(Cp437, LowBytesAreDosGlyphsExceptTheLineControls) {
    for (int b = 0x01; b <= 0x1F; ++b) {
        const QChar c = Cp437::toUnicode(uchar(b));
        if (b == '\t' || b == '\n' || b == '\r')
            EXPECT_EQ(int(c.unicode()), b);
        else
            EXPECT_TRUE(c.isPrint() && c.unicode() > 0x7F) << "byte " << b;
    }
    EXPECT_EQ(Cp437::decode("\x01\x02\x03\x1A\x7F"), QString::fromUtf8("☺☻♥→⌂"));
    EXPECT_EQ(Cp437::decode(QByteArrayView("A\0B", 3)), QStringLiteral("A B"));
    for (int b = 0x20; b <= 0x7E; ++b)
        EXPECT_EQ(int(Cp437::toUnicode(uchar(b))), b);
}

} // namespace
