// Runs a fuzz target over files (seeds, kept findings) without libFuzzer: what the test suite
// does with every input that ever mattered, in the normal and the sanitizer builds. With
// FUZZ_MUTATIONS set it also runs that many mutated copies of each input, from a fixed seed
// (FUZZ_MUTATION_SEED): a short fuzzing budget for a build without libFuzzer. Each mutated input
// is written to "last-mutation" before it runs, so the one a crash stopped at can be kept.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
void fuzzShutDown();

namespace {

void run(const QByteArray& bytes)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
}

// One of libFuzzer's simpler moves: a flipped bit, a changed, inserted or erased byte, a cut,
// a repeated piece, or a splice with another input.
QByteArray mutate(QByteArray bytes, const QByteArray& other, QRandomGenerator& random)
{
    const auto at = [&random](qsizetype size) {
        return qsizetype(random.bounded(quint32(std::max<qsizetype>(size, 1))));
    };
    switch (random.bounded(7)) {
    case 0:
        if (!bytes.isEmpty())
            bytes[at(bytes.size())] ^= char(1 << random.bounded(8));
        break;
    case 1:
        if (!bytes.isEmpty())
            bytes[at(bytes.size())] = char(random.bounded(256));
        break;
    case 2: bytes.insert(at(bytes.size() + 1), char(random.bounded(256))); break;
    case 3:
        if (!bytes.isEmpty())
            bytes.remove(at(bytes.size()), 1 + at(8));
        break;
    case 4: bytes.truncate(at(bytes.size() + 1)); break;
    case 5: {
        const qsizetype from = at(bytes.size());
        bytes.insert(at(bytes.size() + 1), bytes.mid(from, 1 + at(16)));
        break;
    }
    default: bytes = bytes.left(at(bytes.size() + 1)) + other.mid(at(other.size())); break;
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    int fuzzArgc = 1;
    if (LLVMFuzzerInitialize(&fuzzArgc, &argv) != 0)
        return 1;
    QList<QByteArray> inputs;
    for (int i = 1; i < argc; ++i) {
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            inputs.append(file.readAll());
            run(inputs.last());
        }
    }
    const int mutations = qEnvironmentVariableIntValue("FUZZ_MUTATIONS");
    const quint32 seed = quint32(qEnvironmentVariableIntValue("FUZZ_MUTATION_SEED"));
    QRandomGenerator random(seed);
    QFile last(QStringLiteral("last-mutation"));
    for (const QByteArray& input : std::as_const(inputs)) {
        QByteArray bytes = input;
        for (int i = 0; i < mutations; ++i) {
            // Mostly a further move on the last one; now and then back to the input.
            bytes = mutate(random.bounded(4) == 0 ? input : bytes,
                           inputs.at(qsizetype(random.bounded(quint32(inputs.size())))), random);
            if (last.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                last.write(bytes);
                last.close();
            }
            run(bytes);
        }
    }
    fuzzShutDown();
    std::printf("%lld inputs replayed, %lld mutated copies run (seed %u)\n", qint64(inputs.size()),
                qint64(inputs.size()) * mutations, seed);
    return inputs.isEmpty() ? 1 : 0;
}
