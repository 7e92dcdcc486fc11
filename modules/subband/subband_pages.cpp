// The subband dialog's pages. Each decomposition radio sits under a picture of the bands it makes,
// so the user sees how the frequency plane is cut before choosing.
#include "modules/subband/subband_pages.h"

#include "modules/subband/subband_coder.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kPageWidth = 230;
constexpr int kPageHeight = 130;

struct FilterRadio
{
    int id;
    const char *label;
    const char *name;
};
constexpr FilterRadio kFilterRadios[6] = {{1125, "2", "02"},   {1126, "8", "08a"},  {1127, "12", "12a"},
                                          {1128, "16", "16b"}, {1129, "24", "24c"}, {1130, "32", "32e"}};

// Splits the square (x, y, size) into four at each level for the bands the decomposition splits:
// band j of a level is the j-th band in the split order (low band first, then its siblings).
void DrawBands(QPainter &p, int x, int y, int size, int level, const SbcDecomposition &d, int *budget)
{
    if (level >= 3 || level >= d.nLevels || budget[level] <= 0 || size < 4)
        return;
    --budget[level];
    const int h = size / 2;
    p.drawLine(x + h, y, x + h, y + size);
    p.drawLine(x, y + h, x + size, y + h);
    const int xs[4] = {x, x + h, x, x + h}, ys[4] = {y, y, y + h, y + h};
    for (int k = 0; k < 4; ++k)
        DrawBands(p, xs[k], ys[k], h, level + 1, d, budget);
}

} // namespace

QPixmap SbcDecompPicture(int decomp)
{
    constexpr int kSize = 28;
    QPixmap pix(kSize + 1, kSize + 1);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setPen(Qt::black);
    p.drawRect(0, 0, kSize, kSize);
    const SbcDecomposition d = SbcDecompositionOf(decomp);
    int budget[3] = {d.splits[0], d.splits[1], d.splits[2]};
    // Breadth-first as the split runs: the level-2 budget goes to the first bands of level 1, etc.
    DrawBands(p, 0, 0, kSize, 0, d, budget);
    return pix;
}

const CodingPageIds CSbcSubbandsDlg::kSbcIds = {
    169, 1133, "Set Subbands Parameters", 0, 0, 1134, 1135, 1137, 1138, 1139, 1140, 1897};
const BitratePageIds CSbcBitrateDlg::kSbcIds = {
    159, 1107, {1108, 1109, 1110, 1111, 1112, 1113, 1114, 1104, 1105, 1106}, 1143};
const ErrorsPageIds CSbcErrorsDlg::kSbcIds = {160, 1119, {1115, 1116, 1117, 1118}};

CSbcDecompDlg::CSbcDecompDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 1120, QStringLiteral("Select Decomposition"), 4, 4, 220, 96);
    m_pDecomps = new zn::PushRadioGroup(this);
    for (int i = 0; i < 6; ++i) {
        const int x = 10 + 35 * i;
        auto *picture = new QLabel(this); // bitmap kBitmaps[i]
        picture->setPixmap(SbcDecompPicture(i + 1));
        picture->setGeometry(x + 1, 24, 30, 30);
        m_pDecomps->Add(kRadios[i], QString::number(i + 1), x, 60, 32);
    }
    m_pDecomps->Select(kRadios[2]);
    m_pEncode = zn::MakeCheckBox(this, IDC_ENCODE, QStringLiteral("Encoding of the Subbands"), 8, 104, 200);
    m_pEncode->setChecked(true);
    connect(m_pDecomps, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 6; ++i)
            if (kRadios[i] == id && m_nDecomp != i + 1) {
                m_nDecomp = i + 1;
                NotifyOwner(WM_SBC_DECOMP_CHANGED);
            }
    });
    connect(m_pEncode, &QCheckBox::clicked, this, [this] {
        m_bEncode = m_pEncode->isChecked() ? 1 : 0;
        NotifyOwner(WM_CODING_SWITCHED);
    });
}

CSbcFilterDlg::CSbcFilterDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    resize(kPageWidth, kPageHeight);
    zn::MakeGroupBox(this, 1131, QStringLiteral("Set Number of Taps"), 4, 4, 220, 60);
    m_pFilters = new zn::PushRadioGroup(this);
    for (int i = 0; i < 6; ++i)
        m_pFilters->Add(kFilterRadios[i].id, QString::fromLatin1(kFilterRadios[i].label), 10 + 35 * i, 28,
                        32);
    m_pFilters->Select(1128);
    connect(m_pFilters, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (const FilterRadio &f : kFilterRadios)
            if (f.id == id && m_sFilter != f.name) {
                m_sFilter = f.name;
                NotifyOwner(WM_SBC_FILTER_CHANGED);
            }
    });
}
