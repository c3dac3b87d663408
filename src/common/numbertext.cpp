#include "common/numbertext.h"

#include <QLocale>

#include <cmath>

namespace arcsweep::NumberText {

QString grouped(double value) {
    return QLocale::system().toString(std::round(value), 'f', 0);
}

QString plain(double value) {
    const QString sign = value < 0 ? QStringLiteral("-") : QStringLiteral(" ");
    const double magnitude = std::fabs(value);
    QString digits;
    if (magnitude != 0 && (magnitude >= 1e15 || magnitude < 1e-15)) {
        // Mantissa with up to 15 significant digits, then E+NN.
        QString text = QString::number(magnitude, 'E', 14);
        const qsizetype e = text.indexOf(u'E');
        QString mantissa = text.left(e);
        const int exponent = text.mid(e + 1).toInt();
        if (mantissa.contains(u'.')) {
            while (mantissa.endsWith(u'0'))
                mantissa.chop(1);
            if (mantissa.endsWith(u'.'))
                mantissa.chop(1);
        }
        digits = mantissa + (exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+")) +
                 QStringLiteral("%1").arg(std::abs(exponent), 2, 10, QChar(u'0'));
    } else {
        digits = QString::number(magnitude, 'g', 15);
    }
    // Read back by this program, whatever the locale: "." is the decimal separator (a
    // locale's "," would split the number into two of the file's comma-separated fields).
    return sign + digits + u' ';
}

double leadingNumber(const QString &text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    const qsizetype digitsStart = i;
    while (i < t.size() && t[i].isDigit())
        ++i;
    if (i < t.size() && (t[i] == u'.' || t[i] == QLocale::system().decimalPoint().front())) {
        ++i;
        while (i < t.size() && t[i].isDigit())
            ++i;
    }
    if (i == digitsStart)
        return 0;
    // An exponent part only counts when digits follow it.
    if (i < t.size() && (t[i] == u'E' || t[i] == u'e')) {
        qsizetype j = i + 1;
        if (j < t.size() && (t[j] == u'-' || t[j] == u'+'))
            ++j;
        if (j < t.size() && t[j].isDigit()) {
            while (j < t.size() && t[j].isDigit())
                ++j;
            i = j;
        }
    }
    QString number = t.left(i);
    number.replace(QLocale::system().decimalPoint(), QStringLiteral("."));
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

QStringList delimitedFields(const QString &text, int maxFields) {
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto isEnd = [](QChar c) { return c == u',' || c == u'\r' || c == u'\n'; };
    while (i <= n && (maxFields < 0 || fields.size() < maxFields)) {
        while (i < n && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        QString field;
        if (i < n && text[i] == u'"') {
            const qsizetype close = text.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            field = text.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            while (i < n && !isEnd(text[i]))
                ++i; // anything between the closing quote and the delimiter is dropped
        } else {
            const qsizetype start = i;
            while (i < n && !isEnd(text[i]))
                ++i;
            field = text.mid(start, i - start).trimmed();
        }
        fields.append(field);
        if (i >= n)
            break;
        // CR LF is one delimiter.
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        ++i;
    }
    return fields;
}

} // namespace arcsweep::NumberText
