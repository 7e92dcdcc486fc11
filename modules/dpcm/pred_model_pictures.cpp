// Prediction-model pictograms. The neighbours sit on a grid of 11-pixel cells: the upper row holds
// upper-left, upper and upper-right, the lower row left and the predicted sample x.
#include "modules/dpcm/pred_model_pictures.h"

#include <QPainter>

namespace zn {

namespace {

constexpr int kCell = 11;

// Model n uses the first n of: left, upper, upper-left, upper-right (cell column, row).
constexpr int kNeighbourCell[4][2] = {{0, 1}, {1, 0}, {0, 0}, {2, 0}};

QPixmap Draw(int model, bool blank)
{
    const int width = model == 4 ? 3 * kCell : 24;
    QPixmap pm(width, 24);
    pm.fill(QColor(192, 192, 192));
    if (blank)
        return pm;
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    auto cellRect = [](int col, int row) {
        return QRect(1 + col * kCell, 1 + row * kCell, kCell - 2, kCell - 2);
    };
    for (int i = 0; i < model; ++i)
        p.drawEllipse(cellRect(kNeighbourCell[i][0], kNeighbourCell[i][1]));
    const QRect x = cellRect(1, 1);
    p.setPen(QPen(Qt::red, 2));
    p.drawLine(x.topLeft(), x.bottomRight());
    p.drawLine(x.topRight(), x.bottomLeft());
    return pm;
}

} // namespace

QPixmap PredModelPicture(int bitmapId)
{
    for (int m = 1; m <= 4; ++m)
        if (bitmapId == kPredModelPageBitmaps[m - 1] || bitmapId == kPredModelButtonBitmaps[m - 1])
            return Draw(m, false);
    if (bitmapId == kPredModelBlankBitmap)
        return Draw(1, true);
    return QPixmap();
}

QPixmap PredModelButtonPicture(int model)
{
    if (model >= 1 && model <= 4)
        return PredModelPicture(kPredModelButtonBitmaps[model - 1]);
    return PredModelPicture(kPredModelBlankBitmap);
}

} // namespace zn
