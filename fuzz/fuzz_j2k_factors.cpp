// Fuzzes the band factor files of "-Fsteps", "-Fweights" and the progressive visual weights: the
// reader on any text, then every band factor of a few decomposition shapes.
#include "jpeg2000/factor_file.h"
#include "jpeg2000/local_services.h"

#include "platform/errors.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace zn::j2k;
    char path[] = "/tmp/fuzz_j2k_factors_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != ssize_t(size)) {
        close(fd);
        unlink(path);
        return 0;
    }
    close(fd);
    J2kRun run;
    try {
        quant_factor_file f = read_quant_factor_file(path, 4);
        for (const factor_segment &s : f.segments)
            for (int levels : {0, 1, 5})
                for (int level = 0; level <= levels; ++level)
                    for (int band = 0; band < 64; ++band)
                        segment_band_factor(s, levels, level, band);
    } catch (const zn::RunAborted &) {
    }
    unlink(path);
    return 0;
}
