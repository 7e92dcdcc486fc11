// The optimal linear predictor of a prediction model: the normal (Yule-Walker) equations over the
// model's causal neighbours, solved by LU decomposition. What the predictor removes from the variance
// is what DPCM gains over PCM.
#include "modules/sbc/sbc_quant.h"

#include "image/numeric.h"
#include "platform/messages.h"

#include <cmath>

namespace {

// Neighbour offsets (row, col) in the order models add them, and the coefficient slot of each.
constexpr int kOffset[4][2] = {{0, -1}, {-1, 0}, {-1, -1}, {-1, 1}};
constexpr int kSlot[4] = {PRED_LEFT, PRED_UPPER, PRED_UPPER_LEFT, PRED_UPPER_RIGHT};

} // namespace

void YuleWalker2d(float *vari, float *coef, float **cc, int, int model)
{
    if (model < 1 || model > 4) {
        zn::ShowMessage("YuleWalker2d-Unknown prediction model");
        *vari = cc[0][0];
        return;
    }
    float g[5];
    for (int i = 1; i <= model; ++i)
        g[i] = cc[kOffset[i - 1][0]][kOffset[i - 1][1]];

    // A flat window has no correlation at all: the normal equations are singular and there is
    // nothing to predict, so the best predictor is zero.
    bool solved = false;
    float a[5] = {0, 0, 0, 0, 0};
    if (cc[0][0] > 0 && std::isfinite(cc[0][0])) {
        float **m = matrix(1, model, 1, model);
        int *indx = IntVector(1, model);
        float *b = vector(1, model);
        if (m && indx && b) {
            for (int i = 1; i <= model; ++i) {
                for (int j = 1; j <= model; ++j) {
                    const int dy = kOffset[i - 1][0] - kOffset[j - 1][0];
                    const int dx = kOffset[i - 1][1] - kOffset[j - 1][1];
                    m[i][j] = cc[dy][dx];
                }
                b[i] = g[i];
            }
            float d;
            if (ludcmp(m, model, indx, &d) == 0) {
                LuBackSubst(m, model, indx, b);
                solved = true;
                for (int i = 1; i <= model; ++i) {
                    a[i] = b[i];
                    solved = solved && std::isfinite(b[i]);
                }
            }
        }
        FreeMatrix(m, 1, model, 1, model);
        FreeIntVector(indx, 1, model);
        FreeVector(b, 1, model);
    }
    if (!solved)
        for (int i = 1; i <= model; ++i)
            a[i] = 0;
    double v = cc[0][0];
    for (int i = 1; i <= model; ++i) {
        coef[kSlot[i - 1]] = a[i];
        v -= static_cast<double>(a[i]) * g[i];
    }
    *vari = static_cast<float>(v);
}
