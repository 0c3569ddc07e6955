#include "format/Format.h"

QString plural(qint64 n, const QString& one, const QString& few, const QString& many) {
    // Remainders taken before the sign is dropped, so even the most negative count is safe.
    const qint64 lastDigit = n % 10 < 0 ? -(n % 10) : n % 10;
    const qint64 lastTwo = n % 100 < 0 ? -(n % 100) : n % 100;
    if (lastDigit == 1 && lastTwo != 11)
        return one;
    if (lastDigit >= 2 && lastDigit <= 4 && (lastTwo < 12 || lastTwo > 14))
        return few;
    return many;
}
