// Bit allocation over the subbands. Every band has an operating-point curve (rate it adds to the whole
// image, distortion of the band); the allocation moves, one band at a time, the band whose next step
// buys the largest distortion decrease per bit. Steps may jump over points above the curve's lower
// convex hull, so only efficient quantisers are ever chosen.
#include "modules/sbc/subb.h"

#include "image/numeric.h"
#include "modules/sbc/sbc_quant.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <cmath>
#include <memory>
#include <vector>

namespace {

bool FloatLuma(const Subb *sb)
{
    return sb->seqType == IMG_SEQ_MONO && sb->rep == IMG_REP_FLOAT;
}

// The steepest segment from point a to any later point of the curve: slope 0 when none decreases.
void NextStep(const PerfQuant *c, int a, float *slope, int *next)
{
    *slope = 0;
    *next = a;
    for (int j = a + 1; j < c->n; ++j) {
        const float s = -(c->distortion[j] - c->distortion[a]) / (c->rate[j] - c->rate[a]);
        if (s > 0 && s > *slope) {
            *slope = s;
            *next = j;
        }
    }
}

struct CurveSet
{
    std::vector<PerfQuant *> curves;
    explicit CurveSet(int n) : curves(n, nullptr) {}
    ~CurveSet()
    {
        for (PerfQuant *c : curves)
            FreePerfQuant(c);
    }
};

} // namespace

void SbcGetCodMethPar(float *vari, float *coef, const Subb *sb, const int *methods, int model)
{
    if (!FloatLuma(sb))
        zn::ShowMessage("SbcGetCodMethPar: Only float-Y subbands supported. Check code");
    const SubbComponent &comp = sb->comp[0];
    for (int i = 0; i < 4 * comp.count; ++i)
        coef[i] = 0;
    float **cc = matrix(-2, 2, -2, 2);
    for (int i = 0; i < comp.count; ++i) {
        vari[i] = 0;
        if (!SubbBandInside(sb, i) || !sb->plane[0])
            continue;
        const int rows = comp.bandRows[i], cols = comp.bandCols[i];
        const long first = comp.first[i];
        switch (methods[i]) {
        case SBC_PCM: {
            float mean;
            SbcMean(&mean, sb->plane[0], sb->rep, rows, cols, first, sb->cols);
            SbcVari(&vari[i], sb->plane[0], sb->rep, mean, rows, cols, first, sb->cols);
            break;
        }
        case SBC_DPCM:
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    cc[dy][dx] = 0;
            SbcCorr2d(cc, 5, sb->plane[0], sb->rep, rows, cols, first, sb->cols);
            YuleWalker2d(&vari[i], &coef[4 * i], cc, 5, model);
            break;
        default:
            zn::ShowMessage("SbcGetCodMethPar: Unknown coding method for one of the subbands. Check code");
        }
    }
    FreeMatrix(cc, -2, 2, -2, 2);
}

void SbcGetPerfPar(PerfQuant **curves, const Subb *sb, const float *vari, int codeType,
                   const std::string &dir, const std::string &stem, const std::vector<std::string> &pdfNames)
{
    if (!FloatLuma(sb))
        zn::ShowMessage("SbcGetPerfPar: Only float-Y subbands supported. Check code");
    const SubbComponent &comp = sb->comp[0];
    const double pixels = static_cast<double>(sb->rows) * sb->cols;
    std::unique_ptr<PerfQuant, void (*)(PerfQuant *)> table(nullptr, FreePerfQuant);
    for (int i = 0; i < comp.count; ++i)
        curves[i] = nullptr;
    for (int i = 0; i < comp.count; ++i) {
        if (!(i > 0 && pdfNames[i] == pdfNames[i - 1]) || !table) {
            PerfQuant *t = nullptr;
            table.reset();
            ReadPerfQuant(&t, dir, stem, pdfNames[i], codeType);
            table.reset(t);
        }
        if (!table) {
            for (int k = 0; k < i; ++k) {
                FreePerfQuant(curves[k]);
                curves[k] = nullptr;
            }
            throw zn::RunAborted(zn::Format("SbcGetPerfPar: No performance table for the quantizers \"%s\"",
                                            pdfNames[i].c_str()));
        }
        PerfQuant *c;
        AllocPerfQuant(&c, table->n + 1);
        curves[i] = c;
        c->type = table->type;
        c->n = table->n + 1;
        c->levels[0] = 0;
        c->rate[0] = 0;
        c->distortion[0] = 1.0f;
        for (int j = 0; j < table->n; ++j) {
            c->levels[j + 1] = table->levels[j];
            c->rate[j + 1] = table->rate[j];
            c->distortion[j + 1] = table->distortion[j];
        }
        const double fraction =
            pixels > 0 ? comp.bandRows[i] * static_cast<double>(comp.bandCols[i]) / pixels : 0;
        for (int j = 0; j < c->n; ++j) {
            c->rate[j] = static_cast<float>(c->rate[j] * fraction);
            c->distortion[j] *= vari[i];
        }
    }
}

int SbcBitAlloc(float *rate, float *distortion, int *alloc, int n, PerfQuant *const *curves, int targetKind,
                float target)
{
    float R = 0, D = 0;
    std::vector<float> slope(n);
    std::vector<int> next(n);
    for (int i = 0; i < n; ++i) {
        const PerfQuant *c = curves[i];
        if (alloc[i] > c->n - 1)
            alloc[i] = c->n - 1;
        if (alloc[i] < 0)
            alloc[i] = 0;
        R += c->rate[alloc[i]];
        D += c->distortion[alloc[i]];
        NextStep(c, alloc[i], &slope[i], &next[i]);
    }
    int steps = 0;
    for (;;) {
        int best = -1;
        for (int i = 0; i < n; ++i)
            if (slope[i] > 0 && (best < 0 || slope[i] > slope[best]))
                best = i;
        if (best < 0) {
            zn::ShowMessage("SbcBitAlloc-Too high bitrate or too low distortion specified");
            *rate = R;
            *distortion = D;
            return steps;
        }
        const float prevR = R, prevD = D;
        const int prevIndex = alloc[best];
        const PerfQuant *c = curves[best];
        alloc[best] = next[best];
        R += c->rate[alloc[best]] - c->rate[prevIndex];
        D += c->distortion[alloc[best]] - c->distortion[prevIndex];
        NextStep(c, alloc[best], &slope[best], &next[best]);
        ++steps;
        const bool passed = targetKind == 1 ? R > target : D < target;
        if (!passed)
            continue;
        const bool keep = targetKind == 1 ? std::fabs(R - target) < std::fabs(target - prevR)
                                          : std::fabs(D - target) < std::fabs(target - prevD);
        if (!keep) {
            alloc[best] = prevIndex;
            R = prevR;
            D = prevD;
        }
        *rate = R;
        *distortion = D;
        return steps;
    }
}

void SbcSelQuant(float *rate, float *distortion, Quant **quants, float *vari, float *coef, const Subb *sb,
                 const int *methods, int model, int codeType, const std::string &dir, const std::string &stem,
                 const std::vector<std::string> &pdfNames, float target)
{
    const int n = sb->comp[0].count;
    CurveSet set(n);
    std::vector<int> alloc(n, 0);
    for (int i = 0; i < n; ++i)
        quants[i] = nullptr;
    SbcGetCodMethPar(vari, coef, sb, methods, model);
    SbcGetPerfPar(set.curves.data(), sb, vari, codeType, dir, stem, pdfNames);
    SbcBitAlloc(rate, distortion, alloc.data(), n, set.curves.data(), 1, target);
    for (int i = 0; i < n; ++i) {
        const int levels = set.curves[i]->levels[alloc[i]];
        Quant *q = nullptr;
        if (levels < 1) {
            ZeroQuant(&q);
        } else {
            ReadQuant(&q, dir, stem, pdfNames[i], levels);
            if (!q) {
                for (int k = 0; k < i; ++k) {
                    FreeQuant(quants[k]);
                    quants[k] = nullptr;
                }
                throw zn::RunAborted(zn::Format("SbcSelQuant: No %d-level quantizer \"%s\" for subband %d",
                                                levels, pdfNames[i].c_str(), i + 1));
            }
        }
        quants[i] = q;
        // The tables hold quantisers for unit variance.
        const float v = vari[i] > 0 ? vari[i] : 0.0f;
        const float sd = std::sqrt(v);
        q->distortion *= v;
        for (int k = 0; k < q->levels; ++k) {
            q->reconstruction[k] *= sd;
            q->thresholds[k] *= sd;
        }
        if (codeType == VLC_FLC) {
            MakeFlcVlc(q);
            q->rate = static_cast<float>(q->code->VlcCodeLen[0]);
        } else if (codeType == VLC_HUFFMAN) {
            q->code->type = VLC_TYPE_TABLE;
        } else {
            zn::ShowMessage("SbcSelQuant: Unknown vlc method. Check code");
        }
    }
}
