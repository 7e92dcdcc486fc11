// The DCT dialog's pages. Radio buttons are push-like and checkable; a page notifies its owner only
// when a value really changes, except the error probabilities, which notify on every click.
#include "modules/dct/dct_pages.h"

#include "modules/dpcm/pred_model_dlg.h"
#include "modules/dpcm/pred_model_pictures.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kPageWidth = 230;
constexpr int kPageHeight = 130;
constexpr const char *kPdfNames[4] = {"gg050", "gg075", "gg100", "gg200"};

QLabel *MakeLabel(QWidget *page, int id, const QString &text, int x, int y, int w = 50)
{
    auto *l = new QLabel(text, page);
    if (id)
        zn::SetCtrlId(l, id);
    l->setGeometry(x, y, w, 18);
    return l;
}

// A drop-down list of a sorted template list: the entries in their sorted order.
QComboBox *MakeList(QWidget *page, int id, const QStringList &entries, int x, int y)
{
    auto *c = new QComboBox(page);
    zn::SetCtrlId(c, id);
    c->addItems(entries);
    c->setGeometry(x, y, 64, 22);
    return c;
}

int PdfIndex(const std::string &pdf)
{
    for (int i = 0; i < 4; ++i)
        if (pdf == kPdfNames[i])
            return i;
    return 0;
}

} // namespace

const CodingPageIds CDctCoefsDlg::kIds = {
    181, 0, "Set DCT Coefficients", 1185, 1184, 1186, 1187, 1188, 1189, 1190, 1191, 1212};
const BitratePageIds CDctBitrateDlg::kIds = {
    183, 0, {1195, 1196, 1197, 1198, 1199, 1200, 1201, 1202, 1203, 1204}, 1205};
const ErrorsPageIds CDctErrorsDlg::kIds = {184, 1206, {1207, 1208, 1209, 1210}};

// ---- Size ----------------------------------------------------------------------------------------

CDctSizeDlg::CDctSizeDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 0, QStringLiteral("Set Transform Size"), 4, 4, 220, 60);
    m_pSizes = new zn::PushRadioGroup(this);
    const char *labels[4] = {"2x2", "4x4", "8x8", "16x16"};
    for (int i = 0; i < 4; ++i)
        m_pSizes->Add(kRadios[i], QString::fromLatin1(labels[i]), 12 + 52 * i, 28, 48);
    m_pSizes->Select(kRadios[2]);
    m_pEncode = zn::MakeCheckBox(this, IDC_ENCODE, QStringLiteral("Encoding of DCT Coeffs"), 8, 72, 200);
    m_pEncode->setChecked(true);
    connect(m_pSizes, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 4; ++i)
            if (kRadios[i] == id && m_nSize != i + 1) {
                m_nSize = i + 1;
                NotifyOwner(WM_DCT_SIZE_CHANGED);
            }
    });
    connect(m_pEncode, &QCheckBox::clicked, this, [this] {
        m_bEncode = m_pEncode->isChecked() ? 1 : 0;
        NotifyOwner(WM_CODING_SWITCHED);
    });
}

void CDctSizeDlg::SetSize(int size)
{
    m_nSize = size;
    m_pSizes->Select(kRadios[size - 1]);
}

// ---- Coefs (and the subband Subs page) -------------------------------------------------------------

CDctCoefsDlg::CDctCoefsDlg(QWidget *parent, const CodingPageIds &ids)
    : CModulePage(ids.idd, parent), m_ids(ids)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, ids.group, QString::fromLatin1(ids.groupText), 4, 4, 220, 120);
    MakeLabel(this, ids.lblCoding, QStringLiteral("Coding"), 60, 22);
    MakeLabel(this, ids.lblCValue, QStringLiteral("C-Value"), 130, 22);
    MakeLabel(this, ids.lblFirst, QStringLiteral("First"), 10, 44);
    MakeLabel(this, ids.lblOthers, QStringLiteral("Others"), 10, 72);
    const QStringList methods = {QStringLiteral("DPCM"), QStringLiteral("PCM")};
    const QStringList cValues = {QStringLiteral("0.50"), QStringLiteral("0.75"), QStringLiteral("1.00"),
                                 QStringLiteral("2.00")};
    m_pFirstMethod = MakeList(this, ids.firstMethod, methods, 60, 42);
    m_pOtherMethod = MakeList(this, ids.otherMethod, methods, 60, 70);
    m_pFirstCValue = MakeList(this, ids.firstCValue, cValues, 130, 42);
    m_pOtherCValue = MakeList(this, ids.otherCValue, cValues, 130, 70);
    m_pDpcmLabel = MakeLabel(this, 1148, QStringLiteral("DPCM"), 196, 22, 28);
    m_pPredLabel = MakeLabel(this, 1211, QStringLiteral("pred"), 196, 34, 28);
    m_pModelButton = Ctrl(new QPushButton(this), ids.predButton);
    m_pModelButton->setAutoDefault(false);
    m_pModelButton->setGeometry(196, 52, 26, 40);
    connect(m_pFirstMethod, &QComboBox::activated, this, [this](int i) { OnMethodChanged(true, i); });
    connect(m_pOtherMethod, &QComboBox::activated, this, [this](int i) { OnMethodChanged(false, i); });
    connect(m_pFirstCValue, &QComboBox::activated, this, [this](int i) { OnCValueChanged(true, i); });
    connect(m_pOtherCValue, &QComboBox::activated, this, [this](int i) { OnCValueChanged(false, i); });
    connect(m_pModelButton, &QPushButton::clicked, this, &CDctCoefsDlg::OnPredModel);
    ResetCoding();
}

void CDctCoefsDlg::ResetCoding()
{
    m_nFirstMethod = 1;
    m_sFirstPdf = "gg075";
    m_nOtherMethod = 0;
    m_sOtherPdf = "gg050";
    m_nPredModel = 3;
    m_pFirstMethod->setCurrentIndex(0);
    m_pOtherMethod->setCurrentIndex(1);
    m_pFirstCValue->setCurrentIndex(PdfIndex(m_sFirstPdf));
    m_pOtherCValue->setCurrentIndex(PdfIndex(m_sOtherPdf));
    ShowModel(3);
}

void CDctCoefsDlg::ShowModel(int model)
{
    const bool on = model >= 1 && model <= 4;
    m_pModelButton->setIcon(QIcon(zn::PredModelButtonPicture(model)));
    m_pModelButton->setIconSize(QSize(20, 34));
    m_pModelButton->setEnabled(on);
    m_pDpcmLabel->setEnabled(on);
    m_pPredLabel->setEnabled(on);
}

void CDctCoefsDlg::OnMethodChanged(bool first, int index)
{
    const int m = 1 - index; // list index 0 is DPCM
    int &stored = first ? m_nFirstMethod : m_nOtherMethod;
    if (m == stored)
        return;
    if (m_nFirstMethod != 1 && m_nOtherMethod != 1) {
        ShowModel(3);
        m_nPredModel = 3;
    }
    stored = m;
    if (m_nFirstMethod == 0 && m_nOtherMethod == 0) {
        ShowModel(0);
        m_nPredModel = 0;
    }
    NotifyOwner(WM_CODING_COEFS_CHANGED);
}

void CDctCoefsDlg::OnCValueChanged(bool first, int index)
{
    if (index < 0 || index > 3)
        return;
    std::string &stored = first ? m_sFirstPdf : m_sOtherPdf;
    if (stored == kPdfNames[index])
        return;
    stored = kPdfNames[index];
    NotifyOwner(WM_CODING_COEFS_CHANGED);
}

void CDctCoefsDlg::OnPredModel()
{
    CPredModelDlg dlg(this);
    const int m = dlg.DoModal();
    if (m == 0 || m == m_nPredModel)
        return;
    ShowModel(m);
    m_nPredModel = m;
    NotifyOwner(WM_CODING_COEFS_CHANGED);
}

// ---- Bitrate -----------------------------------------------------------------------------------------

CDctBitrateDlg::CDctBitrateDlg(QWidget *parent, const BitratePageIds &ids)
    : CModulePage(ids.idd, parent), m_ids(ids)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, ids.group, QStringLiteral("Set Bitrate"), 4, 4, 220, 84);
    m_pRates = new zn::PushRadioGroup(this);
    const char *labels[10] = {"0.25", "0.50", "0.75", "1.0", "1.5", "2.0", "2.5", "3.0", "3.5", "4.0"};
    for (int i = 0; i < 10; ++i)
        m_pRates->Add(ids.radios[i], QString::fromLatin1(labels[i]), 12 + 42 * (i % 5), 26 + 28 * (i / 5),
                      38);
    m_pRates->Select(ids.radios[3]);
    m_pEntropy = zn::MakeCheckBox(this, ids.entropy, QStringLiteral("Entropy Coding"), 8, 96, 160);
    m_pEntropy->setChecked(true);
    connect(m_pRates, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 10; ++i)
            if (m_ids.radios[i] == id && m_fBitrate != kRates[i]) {
                m_fBitrate = kRates[i];
                NotifyOwner(WM_CODING_RATE_CHANGED);
            }
    });
    connect(m_pEntropy, &QCheckBox::clicked, this, [this] {
        m_bEntropy = m_pEntropy->isChecked() ? 1 : 0;
        NotifyOwner(WM_CODING_ENTROPY_CHANGED);
    });
}

void CDctBitrateDlg::ResetCoding()
{
    m_pRates->Select(m_ids.radios[2]);
    m_fBitrate = 0.75f;
    ClearEntropy();
}

void CDctBitrateDlg::ClearEntropy()
{
    m_pEntropy->setChecked(false);
    m_bEntropy = 0;
}

// ---- Errors ------------------------------------------------------------------------------------------

CDctErrorsDlg::CDctErrorsDlg(QWidget *parent, const ErrorsPageIds &ids)
    : CModulePage(ids.idd, parent), m_ids(ids)
{
    resize(kPageWidth, kPageHeight);
    m_pGroup =
        zn::MakeGroupBox(this, ids.group, QStringLiteral("Set Subs' Channel Error Prob"), 4, 4, 220, 56);
    m_pProbs = new zn::PushRadioGroup(this);
    const char *labels[4] = {".005", ".001", ".0005", ".0001"};
    for (int i = 0; i < 4; ++i)
        m_pProbs->Add(ids.radios[i], QString::fromLatin1(labels[i]), 12 + 52 * i, 26, 48);
    m_pSimulate = zn::MakeCheckBox(this, IDC_SIMULATE, QStringLiteral("Simulate Channel Errors"), 8, 68, 200);
    m_pGroup->setEnabled(false);
    m_pProbs->SetEnabled(false);
    connect(m_pSimulate, &QCheckBox::clicked, this, &CDctErrorsDlg::OnSimulate);
    connect(m_pProbs, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 4; ++i)
            if (m_ids.radios[i] == id)
                m_fErrorProb = kProbs[i];
        NotifyOwner(WM_CODING_ERRORS_CHANGED);
    });
}

void CDctErrorsDlg::OnSimulate()
{
    const bool on = m_pSimulate->isChecked();
    m_pGroup->setEnabled(on);
    m_pProbs->SetEnabled(on);
    if (on) {
        m_pProbs->Select(m_ids.radios[0]);
        m_fErrorProb = kProbs[0];
    } else {
        m_pProbs->Clear();
        m_fErrorProb = 0.0f;
    }
    NotifyOwner(WM_CODING_ERRORS_CHANGED);
}

void CDctErrorsDlg::Reset()
{
    m_pProbs->Clear();
    m_pProbs->SetEnabled(false);
    m_pGroup->setEnabled(false);
    m_pSimulate->setChecked(false);
    m_fErrorProb = 0.0f;
}

// ---- Display -----------------------------------------------------------------------------------------

CDctDisplayDlg::CDctDisplayDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 0, QStringLiteral("Display DCT Coefficients as"), 4, 4, 220, 60);
    m_pModes = new zn::PushRadioGroup(this);
    m_pModes->Add(1290, QStringLiteral("Collections"), 12, 28, 96);
    m_pModes->Add(1291, QStringLiteral("DCT Blocks"), 116, 28, 96);
    m_pModes->Select(1290);
    connect(m_pModes, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        const int mode = id == 1290 ? 1 : 2;
        if (mode == m_nDisplay)
            return;
        m_nDisplay = mode;
        NotifyOwner(WM_DCT_DISPLAY_CHANGED);
    });
}
