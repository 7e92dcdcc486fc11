// Two-dimensional DPCM with the quantiser inside the prediction loop: each sample is predicted from
// its decoded causal neighbours, so encoder and decoder stay in step. Under channel errors they drift
// apart: the encoder predicts from its own error-free reconstruction, the decoder from what it
// received, and the error spreads through the prediction until the picture ends.
#include "modules/sbc/sbc_quant.h"

#include "platform/errors.h"
#include "platform/messages.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

template <class T> struct Plane
{
    static float Get(const void *p, long i) { return static_cast<float>(static_cast<const T *>(p)[i]); }
};

// Decoded values go into integer planes rounded (add 0.5, truncate), limited to the type's range.
template <class T> void PutDecoded(void *p, long i, double v)
{
    if constexpr (std::is_same_v<T, float>) {
        static_cast<float *>(p)[i] = static_cast<float>(v);
    } else {
        const double lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
        double r = v + 0.5;
        if (!(r >= lo))
            r = lo;
        if (r > hi)
            r = hi;
        static_cast<T *>(p)[i] = static_cast<T>(r);
    }
}

template <class T> void PutError(void *p, long i, float e)
{
    if constexpr (std::is_same_v<T, float>) {
        static_cast<float *>(p)[i] = e;
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        float r = e + 0.5f;
        r = r < 0 ? 0 : (r > 255 ? 255 : r);
        static_cast<uint8_t *>(p)[i] = static_cast<uint8_t>(r);
    } else {
        PutDecoded<int32_t>(p, i, e);
    }
}

// Prediction from a neighbourhood accessor; a neighbour outside the window counts as 0.
template <class At> inline double Predict(const float *coef, int r, int c, int cols, At at)
{
    double pred = 0;
    if (c > 0)
        pred += static_cast<double>(coef[PRED_LEFT]) * at(r, c - 1);
    if (r > 0) {
        pred += static_cast<double>(coef[PRED_UPPER]) * at(r - 1, c);
        if (c > 0)
            pred += static_cast<double>(coef[PRED_UPPER_LEFT]) * at(r - 1, c - 1);
        if (c + 1 < cols)
            pred += static_cast<double>(coef[PRED_UPPER_RIGHT]) * at(r - 1, c + 1);
    }
    return pred;
}

// Runs the loop; rate sums the code lengths of the uncorrupted indices, which go to *indices too.
template <class T>
void DpcmLoop(float *rate, float *distortion, const Quant *q, const float *coef, float p, void *errPlane,
              void *plane, int rows, int cols, long first, long stride, std::vector<int> *indices)
{
    const int levels = q->levels;
    const float *thr = q->thresholds.data();
    const float *rec = q->reconstruction.data();
    const int32_t *codeLen = q->code->VlcCodeLen.data();
    const bool errors = p > 0;
    auto decoded = [&](int r, int c) { return Plane<T>::Get(plane, first + r * stride + c); };
    // Encoder's own reconstruction of the previous and the current row (used only under errors).
    std::vector<float> encPrev(errors ? cols : 0), encCur(errors ? cols : 0);
    float rateSum = 0, dist = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const long at = first + r * stride + c;
            const float x = Plane<T>::Get(plane, at);
            double predEnc;
            if (errors)
                predEnc = Predict(coef, r, c, cols,
                                  [&](int rr, int cc) { return rr == r ? encCur[cc] : encPrev[cc]; });
            else
                predEnc = Predict(coef, r, c, cols, decoded);
            const float e = static_cast<float>(x - predEnc);
            const int k = SbcQuantCell(e, thr, levels);
            rateSum += codeLen[k];
            const float qe = e - rec[k];
            dist += qe * qe;
            if (indices)
                indices->push_back(k);
            if (errPlane)
                PutError<T>(errPlane, static_cast<long>(r) * cols + c, e);
            if (errors) {
                encCur[c] = static_cast<float>(predEnc + rec[k]);
                int received = SbcBitErrors(k, codeLen[k], p);
                if (received >= levels)
                    received = (levels - 1) / 2;
                const double predDec = Predict(coef, r, c, cols, decoded);
                PutDecoded<T>(plane, at, predDec + rec[received]);
            } else {
                PutDecoded<T>(plane, at, predEnc + rec[k]);
            }
        }
        if (errors)
            encPrev.swap(encCur);
    }
    const long n = static_cast<long>(rows) * cols;
    *rate = rateSum / n;
    *distortion = dist / n;
}

void CheckQuant(const Quant *q, const char *who)
{
    if (!SbcQuantUsable(q))
        throw zn::RunAborted(zn::Format("%s-No quantizer for the samples", who));
}

template <class F> bool DispatchRep(int rep, F f)
{
    switch (rep) {
    case 0:
        f(uint8_t{});
        return true;
    case 1:
        f(int32_t{});
        return true;
    case 2:
        f(float{});
        return true;
    default:
        return false;
    }
}

} // namespace

void SbcDpcmQuantPred(float *rate, float *distortion, const Quant *q, const float *coef, float p,
                      void *errPlane, void *plane, int rep, int rows, int cols, long first, long stride)
{
    *rate = 0;
    *distortion = 0;
    CheckQuant(q, "SbcDpcmQuantPred");
    if (rows <= 0 || cols <= 0)
        return;
    bool ok = DispatchRep(rep, [&](auto tag) {
        using T = decltype(tag);
        DpcmLoop<T>(rate, distortion, q, coef, p, errPlane, plane, rows, cols, first, stride, nullptr);
    });
    if (!ok)
        zn::ShowMessage("SbcDpcmQuantPred-Unknown buffer type");
}

void SbcDpcmQuantize(float *rate, float *distortion, const Quant *q, const float *coef, float p, void *plane,
                     int rep, int rows, int cols, long first, long stride)
{
    *rate = 0;
    *distortion = 0;
    CheckQuant(q, "SbcDpcmQuantize");
    std::vector<int> indices;
    if (rows > 0 && cols > 0) {
        indices.reserve(static_cast<size_t>(rows) * cols);
        float loopRate;
        bool ok = DispatchRep(rep, [&](auto tag) {
            using T = decltype(tag);
            DpcmLoop<T>(&loopRate, distortion, q, coef, p, nullptr, plane, rows, cols, first, stride,
                        &indices);
        });
        if (!ok)
            zn::ShowMessage("SbcDpcmQuantize--Unknown buffer type");
    }
    const int type = q->code->type;
    if (type != VLC_TYPE_FLC && type != VLC_TYPE_TABLE) {
        zn::ShowMessage("SbcDpcmQuantize-Only FLC and HUFF codewords allowed");
        return;
    }
    if (indices.empty())
        return;
    float bits = 0;
    for (int k : indices)
        bits += q->code->VlcCodeLen[k];
    *rate = bits / static_cast<float>(indices.size());
}
