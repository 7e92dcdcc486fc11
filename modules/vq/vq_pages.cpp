// VQ tab pages. A codebook is only replaced once its successor is known to be usable: a file that
// cannot be read, or is no codebook, and a cancelled design all leave the page as it was.
#include "modules/vq/vq_pages.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/file_dialog.h"
#include "modules/common/module_controls.h"
#include "modules/vq/codebook_design_dlg.h"
#include "modules/vq/vq_codebook.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

CVqCodebookDlg::CVqCodebookDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *load = Ctrl(new QPushButton(QStringLiteral("Load Codebook"), this), IDC_LOAD);
    auto *create = Ctrl(new QPushButton(QStringLiteral("Create Codebook"), this), IDC_CREATE);
    load->setAutoDefault(false);
    create->setAutoDefault(false);
    // One button a row: the column is too narrow for both captions side by side.
    auto *group = new QGroupBox(QStringLiteral("Set a Codebook"), this);
    zn::SetCtrlId(group, 1230);
    auto *buttons = new QVBoxLayout(group);
    buttons->addWidget(load);
    buttons->addWidget(create);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    connect(load, &QPushButton::clicked, this, &CVqCodebookDlg::OnLoadCodebook);
    connect(create, &QPushButton::clicked, this, &CVqCodebookDlg::OnCreateCodebook);
}

CVqCodebookDlg::~CVqCodebookDlg() = default;

void CVqCodebookDlg::SetFileImage(std::unique_ptr<CDib> image)
{
    m_pFileImage = std::move(image);
}

void CVqCodebookDlg::OnLoadCodebook()
{
    ModuleFileRequest request;
    request.title = QStringLiteral("Select a VQ Codebook");
    request.initialDir = theApp.m_sCodebookDir;
    request.initialName = QStringLiteral("*.cbk");
    request.filter = QStringLiteral("Codebook Files (*.cbk)|*.cbk||");
    const QString path = RunModuleFileDialog(request);
    if (path.isEmpty())
        return;
    auto file = std::make_unique<CDib>();
    if (file->LoadDibFile(path.toStdString(), true) < 0)
        return; // the reader has said why; the page keeps its codebook
    auto codebook = std::make_unique<ZnImage>();
    codebook->DibToZnImage(file.get());
    // Any BMP can be chosen: its first pixels must describe a codebook that fits the picture.
    VqCodebookHeader header;
    const std::string problem = VqReadHeader(*codebook, &header);
    if (!problem.empty()) {
        zn::ShowMessage("The selected file is not a VQ Codebook:\r\n" + problem +
                            "\r\n\r\nPlease Select another Codebook!",
                        zn::MsgButtons::Ok, zn::MsgIcon::Warning);
        return;
    }
    file->m_caption = "CODEBOOK IMAGE: " + file->m_title;
    m_pFileImage = std::move(file);
    m_pCodebook = std::move(codebook);
    NotifyOwner(WM_VQ_CODEBOOK_CHANGED);
}

void CVqCodebookDlg::OnCreateCodebook()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc)
        if (auto *owner = qobject_cast<CModuleDialog *>(GetOwner()))
            doc = owner->m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    ZnImage train;
    train.DibToZnImage(doc->m_pDib);
    auto codebook = std::make_unique<ZnImage>();
    CCodebookDesignDlg dlg(window());
    if (dlg.DoModalDesign(&train, codebook.get(), doc->m_pDib->m_title) != IDOK)
        return;
    m_pFileImage.reset();
    m_pCodebook = std::move(codebook);
    NotifyOwner(WM_VQ_CODEBOOK_CHANGED);
}

namespace {

constexpr int kBitsIds[12] = {1044, 1545, 1546, 1547, 1548, 1049, 1550, 1551, 1052, 1053, 1340, 1341};

} // namespace

int CVqBitsDlg::BitsId(int bits)
{
    return bits >= 1 && bits <= 12 ? kBitsIds[bits - 1] : 0;
}

CVqBitsDlg::CVqBitsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pGroup = new QGroupBox(QStringLiteral("Set Bits per 4x4 Vector"), this);
    zn::SetCtrlId(m_pGroup, IDC_GROUP);
    auto *grid = new QGridLayout(m_pGroup);
    grid->setSpacing(2);
    grid->setContentsMargins(4, 4, 4, 4);
    m_pBits = new zn::PushRadioGroup(this);
    for (int b = 1; b <= 12; ++b)
        grid->addWidget(m_pBits->Add(kBitsIds[b - 1], QString::number(b)), (b - 1) / 6, (b - 1) % 6);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pGroup);
    layout->addStretch();
    connect(m_pBits, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int b = 1; b <= 12; ++b)
            if (kBitsIds[b - 1] == id && b != m_nBits) {
                m_nBits = b;
                NotifyOwner(WM_VQ_BITS_CHANGED);
            }
    });
}

void CVqBitsDlg::SetRange(int rmin, int rmax, int bits)
{
    for (int b = 1; b <= 12; ++b)
        m_pBits->Buttons()[b - 1]->setEnabled(b >= rmin && b <= rmax);
    m_pBits->Select(BitsId(bits));
    m_nBits = bits;
}

CVqErrorsDlg::CVqErrorsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pProb = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> probs = {
        m_pProb->Add(1538, QStringLiteral(".005")), m_pProb->Add(1039, QStringLiteral(".001")),
        m_pProb->Add(1040, QStringLiteral(".0005")), m_pProb->Add(1041, QStringLiteral(".0001"))};
    m_pGroup = zn::MakeButtonRow(this, 1537, QStringLiteral("Set Channel Errors Probability"), probs);
    m_pSimulate = zn::MakeCheckBox(this, 1019, QStringLiteral("Simulate Channel Errors"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pGroup);
    layout->addWidget(m_pSimulate);
    layout->addStretch();
    m_pGroup->setEnabled(false);
    m_pProb->SetEnabled(false);
    connect(m_pSimulate, &QCheckBox::clicked, this, &CVqErrorsDlg::OnSimulateErrors);
    connect(m_pProb, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        static constexpr zn::IdValue kProbs[] = {
            {1538, 0.005f}, {1039, 0.001f}, {1040, 0.0005f}, {1041, 0.0001f}};
        for (const zn::IdValue &e : kProbs)
            if (e.id == id)
                m_fProb = e.value;
        NotifyOwner(WM_VQ_ERRORS_CHANGED);
    });
}

void CVqErrorsDlg::OnSimulateErrors()
{
    const bool on = m_pSimulate->isChecked();
    m_pProb->SetEnabled(on);
    m_pGroup->setEnabled(on);
    if (on) {
        m_pProb->Select(1538);
        m_fProb = 0.005f;
    } else {
        m_pProb->Clear();
        m_fProb = 0.0f;
    }
    NotifyOwner(WM_VQ_ERRORS_CHANGED);
}
