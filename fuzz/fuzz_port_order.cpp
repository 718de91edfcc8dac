// Fuzz target: the natural order of port names is a strict weak ordering for
// any names (sorting with anything else is undefined), and sorting with it
// never crashes. Input: port names separated by LF, read as UTF-8.
#include "AdapterSearch.h"

#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList names = text.split(QLatin1Char('\n'));
    if (names.size() > 12)
        names.resize(12); // every triple is checked
    const auto less = [](const QString& a, const QString& b) { return NaturalLess(a, b); };
    const auto same = [&](const QString& a, const QString& b) {
        return !less(a, b) && !less(b, a);
    };
    for (const QString& a : names) {
        if (less(a, a))
            abort();
        for (const QString& b : names) {
            if (less(a, b) && less(b, a))
                abort();
            for (const QString& c : names) {
                if ((less(a, b) && less(b, c) && !less(a, c)) ||
                    (same(a, b) && same(b, c) && !same(a, c)))
                    abort();
            }
        }
    }
    std::sort(names.begin(), names.end(), less);
    return 0;
}
