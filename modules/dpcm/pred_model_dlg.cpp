// The prediction-model dialog: four pictures over four push-like radios, OK and Cancel.
#include "modules/dpcm/pred_model_dlg.h"

#include "modules/common/module_controls.h"
#include "modules/dpcm/pred_model_pictures.h"

#include <QLabel>
#include <QPushButton>

CPredModelDlg::CPredModelDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Prediction Model Selection"));
    resize(236, 132);
    zn::MakeGroupBox(this, 1171, QStringLiteral("Set a Prediction Model"), 8, 6, 220, 86);
    m_pModels = new zn::PushRadioGroup(this);
    for (int model = 1; model <= 4; ++model) {
        const int x = 18 + 52 * (model - 1);
        auto *picture = Ctrl(new QLabel(this), 1162 + model);
        picture->setPixmap(zn::PredModelPicture(zn::kPredModelPageBitmaps[model - 1]));
        picture->setGeometry(x + (40 - picture->pixmap().width()) / 2, 28, 40, 24);
        m_pModels->Add(1166 + model, QString::number(model), x, 60, 40);
    }
    connect(m_pModels, &zn::PushRadioGroup::Clicked, this, &CPredModelDlg::OnModelClicked);
    auto *ok = Ctrl(new QPushButton(QStringLiteral("OK"), this), IDOK);
    auto *cancel = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    ok->setGeometry(40, 100, 70, 24);
    cancel->setGeometry(126, 100, 70, 24);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(m_nPredModel); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
}

bool CPredModelDlg::OnInitDialog()
{
    // Whatever the caller holds, the dialog starts from the default model.
    m_nPredModel = 3;
    m_pModels->Select(1169);
    return true;
}

void CPredModelDlg::OnModelClicked(int id)
{
    m_nPredModel = id - 1166;
}

int CPredModelDlg::DoModal()
{
    OnInitDialog();
    // OK ends with the model; Cancel, Escape and the close button reject, which ends with 0.
    return exec();
}
