// Fuzzes the three table readers (.fcs, .sqt, .sqp) and the fixed-length code of whatever quantiser
// is read. The first byte picks the reader; the rest is the file, written under the name that reader
// asks for in a private temporary folder.
#include "image/tables.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string &FuzzDir()
{
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zn-fuzz-tables-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern + "/";
    }();
    return dir;
}

void Write(const std::string &path, const uint8_t *data, size_t size)
{
    if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string &dir = FuzzDir();
    switch (data[0] % 3) {
    case 0: {
        Write(FiltFileName(dir, "qmf", "x"), data + 1, size - 1);
        Filt *f = nullptr;
        ReadFilt(&f, dir, "qmf", "x");
        FreeFilt(f);
        break;
    }
    case 1: {
        Write(QuantFileName(dir, "s", "p", 2), data + 1, size - 1);
        Quant *q = nullptr;
        ReadQuant(&q, dir, "s", "p", 2);
        if (q)
            MakeFlcVlc(q);
        FreeQuant(q);
        break;
    }
    default: {
        Write(PerfQuantFileName(dir, "s", "p", VLC_HUFFMAN), data + 1, size - 1);
        PerfQuant *p = nullptr;
        ReadPerfQuant(&p, dir, "s", "p", VLC_HUFFMAN);
        FreePerfQuant(p);
        break;
    }
    }
    return 0;
}
