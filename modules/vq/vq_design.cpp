// The generalized Lloyd loop. Each pass is a full nearest-neighbour assignment followed by the
// centroid update; a code vector that attracted no block is re-seeded as a flat vector, spread with
// the other empty ones over the grey range, so no cell stays dead. The loop stops when the error of
// two passes differs by at most the threshold, or after maxIterations + 1 passes.
#include "modules/vq/vq_design.h"

#include "image/img.h"
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_search.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/random.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The distance every assignment search starts from: above any distance of 8-bit blocks.
constexpr float kDesignStart = 1e12f;

void CheckParameters(const Img *train, int w, int h, int rmin, int rmax, int maxIterations)
{
    if (!train || train->rep != IMG_REP_FLOAT || train->rows < 1 || train->cols < 1 || !train->FloatPlane())
        throw zn::RunAborted("VqCodebookDesign - No training image.");
    if (w < 1 || h < 1 || w > 64 || h > 64)
        throw zn::RunAborted(zn::Format("VqCodebookDesign - Vectors of %ix%i cannot be designed.", w, h));
    if (rmin < kVqMinRate || rmax > kVqMaxRate || rmin > rmax)
        throw zn::RunAborted(zn::Format("VqCodebookDesign - Rates %i to %i cannot be designed.", rmin, rmax));
    if (maxIterations < 0)
        throw zn::RunAborted("VqCodebookDesign - The number of iterations cannot be negative.");
    // Without a single complete block there is nothing to train on (and the error per pixel would
    // divide by zero).
    if (train->cols / w < 1 || train->rows / h < 1)
        throw zn::RunAborted(zn::Format("VqCodebookDesign - The training image (%ix%i) holds no complete "
                                        "%ix%i block.",
                                        train->cols, train->rows, w, h));
}

// Training vectors: block (i, j) of the picture, rows of blocks from the top, component (y, k) =
// sample (i*h + y, j*w + k). Partial blocks at the right and bottom edge are left out.
std::vector<float> TrainingVectors(const Img *train, int w, int h, long *count)
{
    const int bx = train->cols / w, by = train->rows / h;
    *count = static_cast<long>(bx) * by;
    std::vector<float> out(static_cast<size_t>(*count) * w * h);
    const float *plane = train->FloatPlane();
    float *v = out.data();
    for (int i = 0; i < by; ++i)
        for (int j = 0; j < bx; ++j)
            for (int y = 0; y < h; ++y) {
                const float *row = plane + static_cast<size_t>(i * h + y) * train->cols + j * w;
                for (int k = 0; k < w; ++k)
                    *v++ = row[k];
            }
    return out;
}

// s[k] += x[k] for every component: each sum takes its terms in the same order, two components at
// a time where the processor can.
void AddInto(double *s, const float *x, int dim)
{
    int k = 0;
#if defined(__SSE2__)
    for (; k + 2 <= dim; k += 2) {
        const __m128d pair =
            _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(x + k))));
        _mm_storeu_pd(s + k, _mm_add_pd(_mm_loadu_pd(s + k), pair));
    }
#endif
    for (; k < dim; ++k)
        s[k] += x[k];
}

void InitialCodebook(float *code, int n, int dim, int initType)
{
    if (initType == kVqInitRandom) {
        zn::SeedRandFromClock();
        for (long i = 0; i < static_cast<long>(n) * dim; ++i)
            code[i] = static_cast<float>(zn::Rand()) * (255.0f / static_cast<float>(zn::kRandMax));
        return;
    }
    const float step = 255.0f / static_cast<float>(n);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < dim; ++k)
            code[static_cast<size_t>(i) * dim + k] = (static_cast<float>(i) + 0.5f) * step;
}

// What the searches of one design keep beside the assignment (the code vector of each training
// vector in the last pass, -1 before the first pass of a rate): each training vector's statistics,
// and its distance to that code vector as it now stands, then to the one found.
struct SearchMemory
{
    std::vector<VqVectorStats> stats;
    std::vector<float> dist;
};

void DesignRate(const std::vector<float> &train, long nT, int dim, int rate, int initType, float threshold,
                int maxIterations, std::vector<float> &code, std::vector<long> &counts,
                std::vector<int> &index, std::vector<double> &sums, SearchMemory &memory,
                std::string &logText, const VqDesignLog &log)
{
    const int n = 1 << rate;
    logText = zn::Format(" Bitrate :%d\tNumber of vectors :%d\r\n\r\n", rate, n);
    InitialCodebook(code.data(), n, dim, initType);
    std::fill(index.begin(), index.end(), -1);

    double prev = 0.0, cur = 1e8;
    int pass = 0;
    while (std::fabs(cur - prev) > threshold) {
        prev = cur;
        // Assignment. Each search starts from the block's code vector of the last pass, mostly still
        // the nearest; its distances are measured first, in one sweep of independent sums.
        const VqNearestSearch search(code.data(), n, dim, kDesignStart);
        for (long t = 0; t < nT; ++t)
            if (index[t] >= 0)
                memory.dist[t] =
                    VqDistance(&train[static_cast<size_t>(t) * dim], search.Vector(index[t]), dim);
        std::fill(counts.begin(), counts.begin() + n, 0L);
        double total = 0.0;
        for (long t = 0; t < nT; ++t) {
            index[t] = search.Find(&train[static_cast<size_t>(t) * dim], memory.stats[t], index[t],
                                   memory.dist[t], &memory.dist[t]);
            ++counts[index[t]];
            total += memory.dist[t];
        }
        cur = total / (static_cast<double>(nT) * dim);
        int empty = 0;
        for (int i = 0; i < n; ++i)
            empty += counts[i] == 0;

        // Update: centroids, summed in training order; empty cells become flat vectors spread over
        // the grey range.
        std::fill(sums.begin(), sums.begin() + static_cast<size_t>(n) * dim, 0.0);
        for (long t = 0; t < nT; ++t)
            AddInto(&sums[static_cast<size_t>(index[t]) * dim], &train[static_cast<size_t>(t) * dim], dim);
        int e = 0;
        for (int i = 0; i < n; ++i) {
            float *c = &code[static_cast<size_t>(i) * dim];
            if (counts[i] > 0) {
                const double *s = &sums[static_cast<size_t>(i) * dim];
                for (int k = 0; k < dim; ++k)
                    c[k] = static_cast<float>(s[k] / static_cast<double>(counts[i]));
            } else {
                const float flat = (static_cast<float>(e) + 0.5f) * (255.0f / static_cast<float>(empty));
                for (int k = 0; k < dim; ++k)
                    c[k] = flat;
                ++e;
            }
        }
        logText += zn::Format(" Iteration :(%d)\tMean Square Error :%.2f\tVectors not Assigned :%.2f\r\n",
                              pass, cur, 100.0 * empty / n);
        log(logText);
        ++pass;
        if (pass > maxIterations) {
            logText += zn::Format("\r\n Number of iteration reached maximum for bitrate %d\r\n", rate);
            log(logText);
            break;
        }
    }
}

} // namespace

void VqCodebookDesign(const Img *train, ZnImage *codebook, int w, int h, int rmin, int rmax, int initType,
                      float threshold, int maxIterations, const VqDesignLog &log)
{
    const VqDesignLog show = log ? log : [](const std::string &) {};
    try {
        CheckParameters(train, w, h, rmin, rmax, maxIterations);
        int rows = 0, cols = 0;
        VqCodebookSize(w, h, rmin, rmax, &rows, &cols);
        codebook->Alloc(rows, cols);
        std::fill(codebook->Data(), codebook->Data() + static_cast<size_t>(rows) * cols, 0.0f);
        float *head = codebook->Data();
        head[0] = static_cast<float>(w);
        head[1] = static_cast<float>(h);
        head[2] = static_cast<float>(rmin);
        head[3] = static_cast<float>(rmax);

        const int dim = w * h;
        const int nMax = 1 << rmax;
        long nT = 0;
        const std::vector<float> train_ = TrainingVectors(train, w, h, &nT);
        std::vector<float> code(static_cast<size_t>(nMax) * dim);
        std::vector<long> counts(nMax);
        std::vector<int> index(nT);
        std::vector<double> sums(static_cast<size_t>(nMax) * dim);
        SearchMemory memory;
        memory.stats.resize(static_cast<size_t>(nT));
        memory.dist.resize(static_cast<size_t>(nT));
        for (long t = 0; t < nT; ++t)
            memory.stats[t] = VqMeasureVector(&train_[static_cast<size_t>(t) * dim], dim);

        const VqCodebookHeader header{w, h, rmin, rmax};
        VqPlacement cursor(w, cols);
        std::string logText;
        for (int r = rmin; r <= rmax; ++r) {
            DesignRate(train_, nT, dim, r, initType, threshold, maxIterations, code, counts, index, sums,
                       memory, logText, show);
            VqPutRateVectors(codebook, header, r, code.data(), &cursor);
        }
        if (!logText.empty())
            logText += "\r\n";
        logText +=
            " New Codebook creation completed\r\n Save the new Codebook and push the OK button to use it "
            "to encode the current image";
        show(logText);
    } catch (const std::bad_alloc &) {
        codebook->Alloc(0, 0);
        throw zn::RunAborted("VqCodebookDesign-Memory allocation problem");
    } catch (...) {
        codebook->Alloc(0, 0);
        throw;
    }
}
