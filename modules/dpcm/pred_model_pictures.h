// The pictures of the four prediction models: the predicted sample as an x and every neighbour the
// model uses as an o at its place around it. Drawn here as small pictograms.
#pragma once

#include <QPixmap>

namespace zn {

// Pictures of models 1..4 on the DPCM Model page and in the model dialog (24 x 24; model 4, which
// reaches the upper-right neighbour, 33 x 24).
inline constexpr int kPredModelPageBitmaps[4] = {141, 143, 144, 145};
// Pictures of models 1..4 on the coefficient pages' button, and the blank one for "no model".
inline constexpr int kPredModelButtonBitmaps[4] = {173, 175, 176, 174};
inline constexpr int kPredModelBlankBitmap = 177;

// The picture of a bitmap id above; a null pixmap for any other id.
QPixmap PredModelPicture(int bitmapId);
// The button picture of a model 1..4, the blank picture for anything else.
QPixmap PredModelButtonPicture(int model);

} // namespace zn
