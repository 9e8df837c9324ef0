// Runs a fuzz target over files (seeds, kept findings) without libFuzzer: what the test suite
// does with every input that ever mattered, in the normal and the sanitizer builds.
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
void fuzzShutDown();

int main(int argc, char** argv)
{
    int fuzzArgc = 1;
    if (LLVMFuzzerInitialize(&fuzzArgc, &argv) != 0)
        return 1;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            ++inputs;
        }
    }
    fuzzShutDown();
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
