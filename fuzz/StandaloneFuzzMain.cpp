// Runs a fuzz target without libFuzzer (for compilers that lack it, and for
// the short run of the test suite): every file of the seed folder, then
// mutations of them from a fixed seed, so a run is repeatable.
//
//   fuzz_target [--runs N] [--seed S] [seed folder]
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const QByteArray& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()),
                           size_t(input.size()));
}

// Flips, inserts, deletes or repeats a few bytes, or splices in CR, LF and
// hexadecimal digits, the bytes the parsers look at most.
QByteArray mutate(QByteArray input, QRandomGenerator& random) {
    static const char interesting[] = "\r\n0123456789ABCDEFabcdefx:-SMP ";
    const int edits = 1 + int(random.bounded(4));
    for (int i = 0; i < edits; ++i) {
        const qsizetype at = input.isEmpty() ? 0 : qsizetype(random.bounded(int(input.size())));
        switch (random.bounded(5)) {
        case 0:
            if (!input.isEmpty())
                input[at] = char(input[at] ^ (1 << random.bounded(8)));
            break;
        case 1:
            input.insert(at, char(random.bounded(256)));
            break;
        case 2:
            if (!input.isEmpty())
                input.remove(at, 1 + random.bounded(4));
            break;
        case 3:
            input.insert(at, interesting[random.bounded(int(sizeof interesting - 1))]);
            break;
        default:
            input.insert(at, input.mid(at, 1 + random.bounded(8)));
            break;
        }
    }
    return input.left(4096);
}

} // namespace

int main(int argc, char* argv[]) {
    int runs = 1000;
    quint32 seed = 1;
    QString folder;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = quint32(std::strtoul(argv[++i], nullptr, 10));
        else
            folder = QString::fromLocal8Bit(argv[i]);
    }
    QList<QByteArray> seeds;
    for (const QString& file : QDir(folder).entryList(QDir::Files, QDir::Name)) {
        QFile input(QDir(folder).filePath(file));
        if (input.open(QIODevice::ReadOnly))
            seeds << input.readAll();
    }
    if (seeds.isEmpty())
        seeds << QByteArray(8, '\0');
    for (const QByteArray& input : seeds)
        run(input);
    QRandomGenerator random(seed);
    for (int i = 0; i < runs; ++i)
        run(mutate(seeds[random.bounded(int(seeds.size()))], random));
    std::printf("%d seed inputs and %d mutations ran\n", int(seeds.size()), runs);
    return 0;
}
