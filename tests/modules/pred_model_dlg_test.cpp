// The prediction-model dialog: it opens on model 3 whatever the caller holds, OK returns the chosen
// model and Cancel or Escape return 0; and the model pictures.
#include "modules/dpcm/pred_model_dlg.h"
#include "modules/dpcm/pred_model_pictures.h"
#include "modules/module_harness.h"
#include "shell/shell_fixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <gtest/gtest.h>

namespace pred_model_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

// Runs the dialog; inside its loop, clicks the buttons in order (a key 0 means none).
int RunDialog(std::vector<int> clicks, Qt::Key key = Qt::Key_unknown)
{
    CPredModelDlg dlg;
    zntest::WhenModal<CPredModelDlg>([clicks, key](CPredModelDlg *d) {
        for (int id : clicks)
            ModuleHarness::Click(d, id);
        if (key != Qt::Key_unknown) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(d, &press);
        }
    });
    return dlg.DoModal();
}

TEST(PredModelDlg, ReturnsTheChosenModelOrZero)
{
    struct Case
    {
        std::vector<int> clicks;
        Qt::Key key;
        int result;
    };
    const Case cases[] = {
        {{1}, Qt::Key_unknown, 3}, // OK untouched: the default model
        {{1167, 1}, Qt::Key_unknown, 1}, {{1168, 1}, Qt::Key_unknown, 2},
        {{1170, 1}, Qt::Key_unknown, 4}, {{1170, 1169, 1}, Qt::Key_unknown, 3},
        {{1167, 2}, Qt::Key_unknown, 0}, // Cancel after a choice
        {{1168}, Qt::Key_Escape, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result);
        EXPECT_EQ(RunDialog(c.clicks, c.key), c.result);
    }
}

TEST(PredModelDlg, OpensOnModelThreeWithItsControls)
{
    CPredModelDlg dlg;
    dlg.m_nPredModel = 1; // what a caller's page might hold
    bool checked = false;
    zntest::WhenModal<CPredModelDlg>([&](CPredModelDlg *d) {
        EXPECT_EQ(d->windowTitle().toStdString(), "Prediction Model Selection");
        EXPECT_TRUE(ModuleHarness::IsChecked(d, 1169));
        for (int id : {1167, 1168, 1170})
            EXPECT_FALSE(ModuleHarness::IsChecked(d, id)) << id;
        for (int id = 1163; id <= 1166; ++id)
            EXPECT_NE(d->Item<QLabel>(id), nullptr) << id;
        checked = true;
        ModuleHarness::Click(d, 1);
    });
    EXPECT_EQ(dlg.DoModal(), 3);
    EXPECT_TRUE(checked);
}

TEST(PredModelPictures, SizesAndMarks)
{
    struct Case
    {
        int id;
        int width;
    };
    for (const Case c : {Case{141, 24}, Case{143, 24}, Case{144, 24}, Case{145, 33}, Case{173, 24},
                         Case{174, 33}, Case{175, 24}, Case{176, 24}, Case{177, 24}}) {
        const QPixmap pm = zn::PredModelPicture(c.id);
        EXPECT_EQ(pm.width(), c.width) << c.id;
        EXPECT_EQ(pm.height(), 24) << c.id;
    }
    EXPECT_TRUE(zn::PredModelPicture(142).isNull());
    // Each further neighbour adds a mark: the pictures of models 1..4 all differ, the blank one is plain.
    QImage previous;
    for (int model = 1; model <= 4; ++model) {
        const QImage img = zn::PredModelButtonPicture(model).toImage();
        EXPECT_EQ(img, zn::PredModelPicture(zn::kPredModelPageBitmaps[model - 1]).toImage());
        EXPECT_NE(img, previous);
        previous = img;
    }
    const QImage blank = zn::PredModelButtonPicture(0).toImage();
    EXPECT_EQ(blank.pixel(12, 12), blank.pixel(0, 0));
}

} // namespace

} // namespace pred_model_dlg_test
