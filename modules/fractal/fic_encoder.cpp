// FractalEncoder: domain preparation (compute_sums), the quadtree search (fic_encode_square) over the
// tiling of the image (fic_tile_image), and the code file.
#include "image/znimage.h"
#include "modules/fractal/fic_bits.h"
#include "modules/fractal/fic_classify.h"
#include "modules/fractal/fic_codec.h"
#include "modules/fractal/fic_search.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

namespace {

class Encoder
{
public:
    Encoder(const uint8_t *pixels, int rows, int cols, const FicEncodeParams &p, FicSearch search)
        : m_img(pixels), m_rows(rows), m_cols(cols), m_par(p), m_search(search)
    {}

    std::vector<uint8_t> Run(FicEncodeStats *stats);

private:
    void MakeHalfCopies();
    void compute_sums();
    void MakeLevels();
    FicHalfCopies Halves() const
    {
        return {{m_half[0].data(), m_half[1].data(), m_half[2].data(), m_half[3].data()}, m_halfCols};
    }
    void Search(const FicRange &range, const FicBlockClass &rc, const FicDomainLevel &lv, bool mayBeSplit,
                FicBest *best);
    void fic_encode_square(int x, int y, int b, int d);

    const uint8_t *m_img;
    int m_rows, m_cols;
    FicEncodeParams m_par;
    FicSearch m_search;
    FicHeader m_header;
    int m_L = 0;
    int m_zero = 0;
    int m_halfCols = 0;
    std::array<std::vector<double>, 4> m_half;
    std::vector<FicDomainLevel> m_levels;
    std::vector<int16_t> m_scratch;
    std::vector<long> m_levelBits;
    FicBitWriter m_writer;
    long m_fitting = 0, m_coded = 0;
};

void Encoder::MakeHalfCopies()
{
    const int hr = m_rows / 2, hc = m_cols / 2;
    m_halfCols = hc;
    for (int xo = 0; xo < 2; ++xo)
        for (int yo = 0; yo < 2; ++yo) {
            std::vector<double> &copy = m_half[2 * xo + yo];
            copy.assign(static_cast<size_t>(hr) * hc, 0.0);
            for (int r = 0; r < hr; ++r) {
                const int y = 2 * r + yo;
                if (y + 1 >= m_rows)
                    continue;
                const uint8_t *p0 = m_img + static_cast<long>(y) * m_cols;
                const uint8_t *p1 = p0 + m_cols;
                for (int c = 0; c < hc; ++c) {
                    const int x = 2 * c + xo;
                    if (x + 1 >= m_cols)
                        continue;
                    copy[static_cast<size_t>(r) * hc + c] = (p0[x] + p0[x + 1] + p1[x] + p1[x + 1]) / 4.0;
                }
            }
        }
}

void Encoder::compute_sums()
{
    try {
        MakeHalfCopies();
    } catch (const std::bad_alloc &) {
        throw zn::RunAborted("matrix-allocate - No memory in matrix allocate.");
    }
    try {
        MakeLevels();
    } catch (const std::bad_alloc &) {
        throw zn::RunAborted("compute_sums - No memory for domain pixel sums.");
    }
}

// The domain records and class-pair lists of every depth.
void Encoder::MakeLevels()
{
    if (m_L < m_header.dmax)
        zn::Log(zn::LogLevel::Error, "compute_sums - Reduce maximum number of quadtree partitions.");
    const std::vector<FicLevel> grids = FicMakeLevels(m_header);
    m_levels.resize(grids.size());
    for (size_t i = 0; i < grids.size(); ++i) {
        FicDomainLevel &lv = m_levels[i];
        lv.grid = grids[i];
        lv.rangeSide = lv.grid.side / 2;
        const int dd = lv.grid.side;
        lv.domains.reserve(static_cast<size_t>(lv.grid.hcount) * lv.grid.vcount);
        for (int h = 0; h < lv.grid.hcount; ++h)
            for (int v = 0; v < lv.grid.vcount; ++v) {
                const int x = h * lv.grid.hstep, y = v * lv.grid.vstep;
                std::array<double, 4> s, t;
                fic_quadrant_sums_half(m_half[2 * (x & 1) + (y & 1)].data(), m_halfCols, x, y, dd, &s, &t);
                const FicBlockClass bc = fic_block_class(s, t, static_cast<double>(dd) * dd / 16);
                FicDomain dom;
                dom.h = h;
                dom.v = v;
                dom.sd = bc.sum;
                dom.sdd = bc.sumSq;
                dom.orientation = bc.orientation;
                lv.lists[bc.first * 24 + bc.second].entries.push_back(static_cast<int>(lv.domains.size()));
                lv.domains.push_back(dom);
            }
        // Lists are searched from the domain added last.
        for (FicDomainList &list : lv.lists) {
            std::reverse(list.entries.begin(), list.entries.end());
            if (list.entries.empty())
                list.entries.push_back(0); // domain (0, 0): h = 0, v = 0 was classified first
        }
        if (m_search == FicSearch::kFast)
            FicPackDomainLists(&lv, Halves());
    }
}

// The two lists of the range's class: its own pair with its orientation, then the pair that holds
// the domains fitting with a negative scale.
void Encoder::Search(const FicRange &range, const FicBlockClass &rc, const FicDomainLevel &lv,
                     bool mayBeSplit, FicBest *best)
{
    const FicDomainList &first = lv.lists[rc.first * 24 + rc.second];
    const FicDomainList &second = lv.lists[rc.first * 24 + FicNegativeSecondClass(rc.first, rc.second)];
    const int negOrientation = FicNegativeOrientation(rc.first, rc.orientation);
    if (m_search == FicSearch::kFast) {
        FicSearchRangeFast(range, first, rc.orientation, second, negOrientation,
                           mayBeSplit ? m_par.threshold : -1.0, &m_scratch, best);
        return;
    }
    FicSearchListPlain(range, lv, first, rc.orientation, Halves(), best);
    FicSearchListPlain(range, lv, second, negOrientation, Halves(), best);
}

void Encoder::fic_encode_square(int x, int y, int b, int d)
{
    const int dmin = m_header.dmin, dmax = m_header.dmax;
    const int half = b / 2;
    if (d < dmin) {
        fic_encode_square(x, y, half, d + 1);
        fic_encode_square(x + half, y, half, d + 1);
        fic_encode_square(x, y + half, half, d + 1);
        fic_encode_square(x + half, y + half, half, d + 1);
        return;
    }
    std::array<double, 4> s, t;
    fic_quadrant_sums_full(m_img, m_cols, x, y, b, b, &s, &t);
    const FicBlockClass rc = fic_block_class(s, t, static_cast<double>(b) * b / 4);
    const FicDomainLevel &lv = m_levels[static_cast<size_t>(d - dmin)];
    FicRange range;
    range.image = m_img;
    range.cols = m_cols;
    range.x = x;
    range.y = y;
    range.b = b;
    range.sr = rc.sum;
    range.srr = rc.sumSq;
    range.sb = m_par.sb;
    range.ob = m_par.ob;
    FicBest best;
    Search(range, rc, lv, d < dmax, &best);

    const long before = m_writer.BitCount();
    if (best.rms <= m_par.threshold) {
        ++m_fitting;
        if (d < dmax)
            m_writer.Write(0, 1);
    } else if (d < dmax) {
        m_writer.Write(1, 1);
        m_levelBits[static_cast<size_t>(d - dmin)] += 1;
        fic_encode_square(x, y, half, d + 1);
        fic_encode_square(x + half, y, half, d + 1);
        fic_encode_square(x, y + half, half, d + 1);
        fic_encode_square(x + half, y + half, half, d + 1);
        return;
    }
    m_writer.Write(static_cast<uint32_t>(best.scale), m_par.sb);
    m_writer.Write(static_cast<uint32_t>(best.offset), m_par.ob);
    ++m_coded;
    if (best.scale != m_zero) {
        m_writer.Write(static_cast<uint32_t>(best.orientation), 3);
        m_writer.Write(static_cast<uint32_t>(best.v * lv.grid.hcount + best.h), lv.grid.bits);
    }
    m_levelBits[static_cast<size_t>(d - dmin)] += m_writer.BitCount() - before;
}

std::vector<uint8_t> Encoder::Run(FicEncodeStats *stats)
{
    m_header.sb = m_par.sb;
    m_header.ob = m_par.ob;
    m_header.dmin = FicDepthOfBlock(m_cols, m_rows, m_par.maxBlock);
    m_header.dmax = FicDepthOfBlock(m_cols, m_rows, m_par.minBlock);
    m_header.cols = m_cols;
    m_header.rows = m_rows;
    m_L = FicDepthRoot(m_cols, m_rows);
    m_zero = FicZeroIndex(m_par.sb);
    m_levelBits.assign(static_cast<size_t>(m_header.dmax - m_header.dmin + 1), 0);
    compute_sums();

    FicWriteHeader(m_writer, m_header);
    for (const FicSquare &sq : FicTiling(m_cols, m_rows)) // fic_tile_image
        fic_encode_square(sq.x, sq.y, sq.side, sq.depth);
    m_writer.Flush();

    for (size_t i = 0; i < m_levelBits.size(); ++i)
        zn::LogF(zn::LogLevel::Info, "FractalEncoder - depth %zu: %ld bits", m_header.dmin + i,
                 m_levelBits[i]);
    if (stats) {
        stats->fitting = m_fitting;
        stats->coded = m_coded;
        stats->dmin = m_header.dmin;
        stats->dmax = m_header.dmax;
    }
    return m_writer.Bytes();
}

} // namespace

std::string FicSettingsProblem(int rows, int cols, const FicEncodeParams &p)
{
    if (p.sb < 1 || p.sb > 8 || p.ob < 1 || p.ob > 8)
        return zn::Format("FractalEncoder - %i scaling and %i offset bits cannot be coded (1 to 8 each).",
                          p.sb, p.ob);
    if (p.minBlock < 2 || p.maxBlock > 128 || p.minBlock > p.maxBlock)
        return zn::Format(
            "FractalEncoder - Block sizes %i to %i cannot be coded (2 to 128, minimum not above "
            "maximum).",
            p.minBlock, p.maxBlock);
    if (p.threshold < 0)
        return "FractalEncoder - The rms threshold cannot be negative.";
    if (rows < 4 || cols < 4 || rows > kFicMaxSide || cols > kFicMaxSide)
        return zn::Format(
            "FractalEncoder - A %i x %i image cannot be coded: each side must be 4 to %i pixels.", cols, rows,
            kFicMaxSide);
    const int smaller = rows < cols ? rows : cols;
    if (FicDepthOfBlock(cols, rows, p.maxBlock) < 1)
        return zn::Format(
            "FractalEncoder - Maximum block size %i is too large for this %i x %i image: it can be "
            "at most half the smaller side (%i).",
            p.maxBlock, cols, rows, smaller / 2);
    FicHeader h;
    h.sb = p.sb;
    h.ob = p.ob;
    h.dmin = FicDepthOfBlock(cols, rows, p.maxBlock);
    h.dmax = FicDepthOfBlock(cols, rows, p.minBlock);
    h.cols = cols;
    h.rows = rows;
    const std::string problem = FicHeaderProblem(h, rows, cols);
    if (!problem.empty())
        return zn::Format(
            "FractalEncoder - This %i x %i image cannot be coded with blocks of %i to %i pixels: %s.", cols,
            rows, p.minBlock, p.maxBlock, problem.c_str());
    return {};
}

std::vector<uint8_t> FicEncode(const uint8_t *pixels, int rows, int cols, const FicEncodeParams &p,
                               FicEncodeStats *stats, FicSearch search)
{
    const std::string problem = FicSettingsProblem(rows, cols, p);
    if (!problem.empty())
        throw zn::RunAborted(problem);
    Encoder enc(pixels, rows, cols, p, search);
    return enc.Run(stats);
}

bool FractalEncoder(const ZnImage &source, const FicEncodeParams &p, const std::string &path, float out[2],
                    std::string *problem)
{
    const int rows = source.Rows(), cols = source.Cols();
    const std::string settings = FicSettingsProblem(rows, cols, p);
    if (!settings.empty())
        throw zn::RunAborted(settings);

    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    const std::string cannot =
        zn::Format("FractalEncoder - Cannot open output file for write: %s.", path.c_str());
    if (!file) {
        zn::Log(zn::LogLevel::Error, cannot);
        if (problem)
            *problem = cannot;
        return false;
    }

    // The coder sees whole grey levels: every sample truncated to a byte.
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(static_cast<size_t>(rows) * cols);
    } catch (const std::bad_alloc &) {
        throw zn::RunAborted("matrix-allocate - No memory in matrix allocate.");
    }
    const float *src = source.Data();
    for (size_t i = 0; i < pixels.size(); ++i) {
        const float v = src[i];
        pixels[i] = static_cast<uint8_t>(v <= 0.0f ? 0 : (v >= 255.0f ? 255 : static_cast<int>(v)));
    }
    FicEncodeStats stats;
    const std::vector<uint8_t> bytes = FicEncode(pixels.data(), rows, cols, p, &stats);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
        const std::string failed = zn::Format("FractalEncoder - Cannot write output file: %s.", path.c_str());
        zn::Log(zn::LogLevel::Error, failed);
        if (problem)
            *problem = failed;
        return false;
    }
    out[0] = static_cast<float>(8.0 * static_cast<double>(bytes.size()) / (static_cast<double>(rows) * cols));
    out[1] = stats.coded ? static_cast<float>(100.0 * stats.fitting / stats.coded) : 0.0f;
    return true;
}
