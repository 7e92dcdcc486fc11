// FractalDecoder: the code file read back into block maps (fic_tile_decode, fic_read_square), then
// the maps applied again and again from a flat grey start.
#include "image/znimage.h"
#include "modules/fractal/fic_bits.h"
#include "modules/fractal/fic_codec.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// No code of an image with 12-bit sides comes near this; anything longer is not a code file.
constexpr long kMaxCodeBytes = 64L << 20;

class CodeReader
{
public:
    CodeReader(std::span<const uint8_t> bytes, FicCode *code) : m_reader(bytes), m_code(code) {}

    std::string Read(int rows, int cols)
    {
        FicHeader &h = m_code->header;
        h = FicReadHeader(m_reader);
        std::string problem = FicHeaderProblem(h, rows, cols);
        if (!problem.empty())
            return problem;
        m_levels = FicMakeLevels(h);
        m_zero = FicZeroIndex(h.sb);
        for (const FicSquare &sq : FicTiling(h.cols, h.rows)) { // fic_tile_decode
            problem = fic_read_square(sq.x, sq.y, sq.side, sq.depth);
            if (!problem.empty())
                return problem;
        }
        return {};
    }

private:
    std::string fic_read_square(int x, int y, int b, int d)
    {
        const FicHeader &h = m_code->header;
        if (d < h.dmin || (d < h.dmax && m_reader.Read(1) == 1)) {
            const int half = b / 2;
            for (const auto &[qx, qy] :
                 {std::pair{x, y}, {x + half, y}, {x, y + half}, {x + half, y + half}}) {
                std::string problem = fic_read_square(qx, qy, half, d + 1);
                if (!problem.empty())
                    return problem;
            }
            return {};
        }
        FicTransform t;
        t.x0 = x;
        t.y0 = y;
        t.side = b;
        t.depth = d;
        const int scale = static_cast<int>(m_reader.Read(h.sb));
        const int offset = static_cast<int>(m_reader.Read(h.ob));
        t.S = FicScale(scale, h.sb);
        t.O = FicOffset(offset, t.S, h.ob);
        if (scale != m_zero) {
            const FicLevel &lv = m_levels[static_cast<size_t>(d - h.dmin)];
            t.orientation = static_cast<int>(m_reader.Read(3));
            const long index = m_reader.Read(lv.bits);
            if (index >= long{lv.hcount} * lv.vcount)
                return zn::Format("domain index %ld lies outside the %i x %i domains of depth %i", index,
                                  lv.hcount, lv.vcount, d);
            t.dx = static_cast<int>(index % lv.hcount) * lv.hstep;
            t.dy = static_cast<int>(index / lv.hcount) * lv.vstep;
        }
        m_code->maps.push_back(t);
        return {};
    }

    FicBitReader m_reader;
    FicCode *m_code;
    std::vector<FicLevel> m_levels;
    int m_zero = 0;
};

} // namespace

std::string FicParseCode(std::span<const uint8_t> bytes, int rows, int cols, FicCode *code)
{
    code->maps.clear();
    CodeReader reader(bytes, code);
    std::string problem = reader.Read(rows, cols);
    if (!problem.empty())
        code->maps.clear();
    return problem;
}

void fractal_decoder_apply_transformations(const FicCode &code, const uint8_t *cur, uint8_t *next)
{
    const long C = code.header.cols;
    for (const FicTransform &t : code.maps) {
        const int b = t.side;
        for (int Y = 0; Y < b; ++Y) {
            uint8_t *out = next + (t.y0 + Y) * C + t.x0;
            for (int X = 0; X < b; ++X) {
                int U, V;
                FicOrient(t.orientation, X, Y, b, b, &U, &V);
                const uint8_t *p = cur + (t.dy + 2 * V) * C + t.dx + 2 * U;
                const double a = (p[0] + p[1] + p[C] + p[C + 1]) / 4.0;
                const double v = t.S * a + t.O + 0.5;
                out[X] = static_cast<uint8_t>(v < 0 ? 0.0 : (v > 255 ? 255.0 : v));
            }
        }
    }
}

std::vector<uint8_t> FicDecodeImage(const FicCode &code, int iterations)
{
    const size_t n = static_cast<size_t>(code.header.rows) * code.header.cols;
    // Asked of the allocator without an exception, so a picture too large for memory is told apart
    // from every other failure whatever allocator the program runs on.
    std::unique_ptr<uint8_t[]> a(new (std::nothrow) uint8_t[n]), b(new (std::nothrow) uint8_t[n]);
    if (!a || !b) {
        // The decoder's own diagnostic line; the run ends with the same words on the screen.
        zn::Log(zn::LogLevel::Error, "\nNo memory in matrix allocate.");
        throw zn::RunAborted("\nNo memory in matrix allocate.");
    }
    uint8_t *cur = a.get(), *next = b.get();
    std::fill_n(cur, n, uint8_t{128});
    std::fill_n(next, n, uint8_t{128});
    for (int i = 0; i < iterations; ++i) {
        fractal_decoder_apply_transformations(code, cur, next);
        std::swap(cur, next);
    }
    return std::vector<uint8_t>(cur, cur + n);
}

bool FicReadCodeFile(const std::string &path, std::vector<uint8_t> *bytes)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (static_cast<long>(bytes->size()) > kMaxCodeBytes)
            break; // longer than any code: the header check or the body check refuses it
    }
    return true;
}

namespace {

int LoadCode(const std::string &path, int rows, int cols, FicCode *code, std::string *problem)
{
    std::vector<uint8_t> bytes;
    if (!FicReadCodeFile(path, &bytes)) {
        if (problem)
            *problem = zn::Format("FractalDecoder - Cannot open code file: %s.", path.c_str());
        return kFicNoCodeFile;
    }
    const std::string why = static_cast<long>(bytes.size()) > kMaxCodeBytes
                                ? "it is longer than any code"
                                : FicParseCode(bytes, rows, cols, code);
    if (!why.empty()) {
        zn::LogF(zn::LogLevel::Error, "FractalDecoder - %s: %s.", path.c_str(), why.c_str());
        if (problem)
            *problem = why;
        return kFicCodeDoesNotFit;
    }
    return kFicDecoded;
}

} // namespace

int FicCheckCodeFile(const std::string &path, int rows, int cols, std::string *problem)
{
    FicCode code;
    return LoadCode(path, rows, cols, &code, problem);
}

int FractalDecoder(ZnImage *output, int iterations, const std::string &path, std::string *problem)
{
    const int rows = output->Rows(), cols = output->Cols();
    float *out = output->Data();
    const size_t n = static_cast<size_t>(rows) * cols;
    FicCode code;
    const int status = LoadCode(path, rows, cols, &code, problem);
    if (status != kFicDecoded) {
        std::fill(out, out + n, 0.0f);
        return status;
    }
    const std::vector<uint8_t> image = FicDecodeImage(code, iterations);
    for (size_t i = 0; i < n; ++i)
        out[i] = image[i];
    return kFicDecoded;
}
