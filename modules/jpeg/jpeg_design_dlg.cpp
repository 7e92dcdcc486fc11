// The Design Q page and its Compute: model, map in window A, matrix file, and the owner told that a
// designed matrix now exists.
#include "modules/jpeg/jpeg_design_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/jpeg/jpeg_dctw.h"
#include "modules/jpeg/jpeg_pages.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_app.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CJpgDesignDlg::CJpgDesignDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *group = new QGroupBox(QStringLiteral("Design Optimal Quantization Matrix"), this);
    zn::SetCtrlId(group, 1637);
    auto *inner = new QVBoxLayout(group);
    inner->addWidget(new QLabel(QStringLiteral("test"), group));
    inner->addWidget(Ctrl(new QLineEdit(group), 1640));
    auto *compute = Ctrl(new QPushButton(QStringLiteral("Compute"), group), IDC_COMPUTE);
    compute->setAutoDefault(false);
    inner->addWidget(compute);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(group);
    layout->addStretch();
    connect(compute, &QPushButton::clicked, this, &CJpgDesignDlg::OnJpgDesignCompute);
}

void CJpgDesignDlg::OnJpgDesignCompute()
{
    auto *owner = qobject_cast<CModuleDialog *>(GetOwner());
    CDibDoc *doc = m_pStartDibDoc ? m_pStartDibDoc : (owner ? owner->m_pStartDibDoc : nullptr);
    if (!doc || !doc->m_pDib)
        return;
    if (owner)
        owner->SetResultText(QStringLiteral("Calculating perceptually optimal Q-matrix\r\n"));
    zn::WaitCursor wait;
    const std::string tableDir = zn::TablesDirOrPreferences();
    if (tableDir.empty())
        return;
    zn::RunModuleApply([&] {
        ZnImage picture;
        picture.DibToZnImage(doc->m_pDib);
        if (!JpgDesignSizeOk(picture.Rows(), picture.Cols()))
            throw zn::RunAborted(kJpgDesignSizeMessage);
        ZnImage map;
        {
            CJpgDctW model(tableDir); // a missing file has shown its message: nothing is designed
            if (!model.FilterBankLoaded() || !model.ConversionTableLoaded())
                return;
            model.SensitivityMap(picture, &map);
        }
        const auto steps = JpgMatrixFromMap(map);
        JpgScaleMap(&map);
        const std::string title = doc->m_pDib->m_title;
        zn::PutResultImage(map, doc->m_pResultDibA, "JPG_" + title + "_map",
                           "JPG(" + title + "): Sensitivity Map");
        doc->ShowResultImages(false, true, false, QString(), QStringLiteral("aa"), QString());
        if (!JpegWriteDesignedMatrix(DocUserDir().toStdString() + kJpegMatrixName, steps)) {
            zn::ShowMessage("Cannot write designed matrix to disk");
            return;
        }
        NotifyOwner(WM_JPG_MATRIX_DESIGNED);
    });
}
