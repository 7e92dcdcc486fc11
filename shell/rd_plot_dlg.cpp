// The R(D) plotting dialog: profile choice, automatic or manual scale, SNR or PSNR, and the
// PostScript export of the graph on show.
#include "shell/rd_plot_dlg.h"

#include "platform/format.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/rd_doc_glue.h"
#include "shell/rd_storing_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopedValueRollback>
#include <cfloat>
#include <cmath>

namespace {
QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

// How the edits show a float: the shortest form with single precision digits ("0.5", "40").
QString FloatText(float v)
{
    return Q(zn::Format("%.*g", FLT_DIG, static_cast<double>(v)));
}

struct ScaleField
{
    QLineEdit *edit;
    float *member;
    float min, max;
};
} // namespace

CRDPlotDlg::CRDPlotDlg(CDibDoc *doc, zn::CRDDataBase *store, QWidget *parent)
    : CZnDialog(IDD, parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_pStartDibDoc(doc),
      m_pRDData(store)
{
    setModal(false);
    setWindowTitle(QStringLiteral("Bit Rate Versus (P)SNR: "));
    setFixedSize(524, 446);

    m_pView = new zn::CRDView(this);
    zn::SetCtrlId(m_pView, IDC_RDPLOT_AREA);
    m_pView->setGeometry(6, 10, 512, 310);

    m_pShow = Ctrl(new QPushButton(QStringLiteral("Show New Graph"), this), IDC_RDPLOT_PLOTCURVE);
    m_pAdd = Ctrl(new QPushButton(QStringLiteral("Add Another Graph"), this), IDC_RDPLOT_PLOTANOTHERCURVE);
    m_pProfiles = Ctrl(new QComboBox(this), IDC_RDPLOT_PROFILES);
    m_pShow->setGeometry(6, 330, 130, 26);
    m_pAdd->setGeometry(6, 362, 130, 26);
    m_pProfiles->setGeometry(142, 330, 180, 26);

    m_pAutomatic = Ctrl(new QCheckBox(QStringLiteral("Automatic Scale  "), this), IDC_RDPLOT_AUTOMATIC);
    m_pAutomatic->setLayoutDirection(Qt::RightToLeft); // text left of the box
    m_pAutomatic->setGeometry(142, 362, 180, 26);
    m_pSnr = Ctrl(new QPushButton(QStringLiteral("SNR"), this), IDC_RDPLOT_SNR);
    m_pPsnr = Ctrl(new QPushButton(QStringLiteral("PSNR"), this), IDC_RDPLOT_PSNR);
    auto *types = new QButtonGroup(this);
    for (QPushButton *b : {m_pSnr, m_pPsnr}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        types->addButton(b);
    }
    m_pSnr->setGeometry(330, 330, 90, 26);
    m_pPsnr->setGeometry(426, 330, 90, 26);

    auto label = [this](const char *text, int x, int y, int w) {
        auto *l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(x, y, w, 22);
    };
    label("Horizontal Scale", 6, 396, 110);
    label("to", 196, 396, 20);
    label("Vertical Scale", 6, 420, 110);
    label("to", 196, 420, 20);
    m_pRateFrom = Ctrl(new QLineEdit(this), IDC_RDPLOT_RATE_FROM);
    m_pRateTo = Ctrl(new QLineEdit(this), IDC_RDPLOT_RATE_TO);
    m_pValueFrom = Ctrl(new QLineEdit(this), IDC_RDPLOT_VALUE_FROM);
    m_pValueTo = Ctrl(new QLineEdit(this), IDC_RDPLOT_VALUE_TO);
    m_pRateFrom->setGeometry(120, 396, 70, 22);
    m_pRateTo->setGeometry(220, 396, 70, 22);
    m_pValueFrom->setGeometry(120, 420, 70, 22);
    m_pValueTo->setGeometry(220, 420, 70, 22);

    m_pSave = Ctrl(new QPushButton(QStringLiteral("Save as Postscript File"), this), IDC_RDPLOT_SAVE);
    m_pSave->setGeometry(330, 380, 186, 26);
    m_pCancel = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    m_pCancel->setGeometry(330, 414, 186, 26);
    for (QPushButton *b : {m_pShow, m_pAdd, m_pSave, m_pCancel})
        b->setAutoDefault(false);

    connect(m_pShow, &QPushButton::clicked, this, &CRDPlotDlg::OnRdplotPlotcurve);
    connect(m_pAdd, &QPushButton::clicked, this, &CRDPlotDlg::OnRdplotPlotanothercurve);
    connect(m_pAutomatic, &QCheckBox::clicked, this, &CRDPlotDlg::OnAutomaticScale);
    connect(m_pSnr, &QPushButton::clicked, this, [this] { m_sPlotType = "SNR"; });
    connect(m_pPsnr, &QPushButton::clicked, this, [this] { m_sPlotType = "PSNR"; });
    connect(m_pSave, &QPushButton::clicked, this, &CRDPlotDlg::OnSaveAsPostScript);
    connect(m_pCancel, &QPushButton::clicked, this, &CRDPlotDlg::OnCancel);

    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    // Initialisation: placed (not topmost), automatic scale, SNR.
    QPoint origin;
    QSize client;
    if (RDMainClientArea(&origin, &client))
        move(origin + QPoint(210, 120));
    m_pAutomatic->setChecked(true);
    m_bAutomaticScale = true;
    for (QLineEdit *e : {m_pRateFrom, m_pRateTo, m_pValueFrom, m_pValueTo})
        e->setEnabled(false);
    m_pSnr->setChecked(true);
    m_sPlotType = "SNR";
    m_sCurrentPlotType = "SNR";
    UpdateData(false);
    show();
}

bool CRDPlotDlg::UpdateData(bool fromControls)
{
    const ScaleField fields[] = {{m_pRateFrom, &m_fRateFrom, 0.0f, 7.0f},
                                 {m_pRateTo, &m_fRateTo, 1.0f, 8.0f},
                                 {m_pValueTo, &m_fValueTo, -20.0f, 60.0f},
                                 {m_pValueFrom, &m_fValueFrom, -20.0f, 60.0f}};
    for (const ScaleField &f : fields) {
        if (!fromControls) {
            f.edit->setText(FloatText(*f.member));
            continue;
        }
        bool ok = false;
        float v = QLocale::c().toFloat(f.edit->text().trimmed(), &ok);
        if (!ok || !std::isfinite(v)) {
            zn::ShowMessage("Please enter a number.", zn::MsgButtons::Ok, zn::MsgIcon::Warning);
            return false;
        }
        if (v < f.min || v > f.max) {
            zn::ShowMessage(zn::Format("Please enter a number between %.*g and %.*g.", FLT_DIG,
                                       static_cast<double>(f.min), FLT_DIG, static_cast<double>(f.max)),
                            zn::MsgButtons::Ok, zn::MsgIcon::Warning);
            return false;
        }
        *f.member = v;
    }
    return true;
}

void CRDPlotDlg::OnScaleEditKillFocus(QLineEdit *edit)
{
    // The message box of a bad entry takes the focus from the edit that Tab moved to; that edit's
    // own check would read the bad entry, not yet put back, and show the same message again.
    if (m_bCheckingScale)
        return;
    const QScopedValueRollback<bool> checking(m_bCheckingScale, true);
    float *member = edit == m_pRateFrom    ? &m_fRateFrom
                    : edit == m_pRateTo    ? &m_fRateTo
                    : edit == m_pValueFrom ? &m_fValueFrom
                                           : &m_fValueTo;
    const float old = *member;
    if (!UpdateData(true)) {
        *member = old;
        UpdateData(false);
        return;
    }
    bool rate = edit == m_pRateFrom || edit == m_pRateTo;
    bool ordered = rate ? m_fRateFrom < m_fRateTo : m_fValueFrom < m_fValueTo;
    if (!ordered) {
        *member = old;
        UpdateData(false);
    }
}

void CRDPlotDlg::UpdateProfileList()
{
    m_pProfiles->clear();
    std::vector<std::string> names =
        m_pRDData ? RDClosedProfileNames(*m_pRDData) : std::vector<std::string>{};
    for (const std::string &n : names)
        m_pProfiles->addItem(Q(n));
    m_pProfiles->setEnabled(!names.empty());
    if (!names.empty())
        m_pProfiles->setCurrentIndex(m_pProfiles->count() - 1);
    UpdateData(false);
    m_pShow->setEnabled(names.size() >= 1);
    m_pAdd->setEnabled(names.size() >= 2);
}

bool CRDPlotDlg::FindProfile(int *slot, int *curve) const
{
    if (!m_pRDData || m_pProfiles->currentIndex() < 0)
        return false;
    const std::string name = m_pProfiles->currentText().toStdString();
    bool found = false;
    for (int s = 0; s < zn::MAXIMUM_NUMBER_OF_MODULES; ++s) {
        for (int c = 0; c < m_pRDData->m_nNumberOfCurves[s]; ++c) {
            if (m_pRDData->m_ModuleData[s].m_sProfileName[c] == name) {
                *slot = s; // the last match wins
                *curve = c;
                found = true;
            }
        }
    }
    return found;
}

const float *CRDPlotDlg::PlotValues(int slot, int curve) const
{
    const zn::CRDCurve &c = m_pRDData->m_ModuleData[slot].m_Curve[curve];
    if (m_sCurrentPlotType == "SNR")
        return c.m_fSNR;
    if (m_sCurrentPlotType == "PSNR")
        return c.m_fPSNR;
    return nullptr;
}

void CRDPlotDlg::OnRdplotPlotcurve()
{
    int s = 0, c = 0;
    if (!FindProfile(&s, &c))
        return;
    m_sCurrentPlotType = m_sPlotType;
    const zn::CRDModuleData &data = m_pRDData->m_ModuleData[s];
    const int n = data.m_nNumberOfPoints[c];
    const float *rates = data.m_Curve[c].m_fRate;
    const float *values = PlotValues(s, c);
    float rateFrom = m_fRateFrom, rateTo = m_fRateTo, valueFrom = m_fValueFrom, valueTo = m_fValueTo;
    if (m_bAutomaticScale) {
        rateFrom = valueFrom = 1.0e20f;
        rateTo = valueTo = -1.0e20f;
        for (int k = 0; k < n; ++k) {
            if (!values) {
                zn::ShowMessage("(CRDPlotDlg::OnRdplotPlotcurve()) Illegal value of m_sCurrentPlotType");
                continue;
            }
            // A point the graph cannot show must not stretch the scale either.
            if (!std::isfinite(rates[k]) || !std::isfinite(values[k]))
                continue;
            rateFrom = std::min(rateFrom, rates[k]);
            rateTo = std::max(rateTo, rates[k]);
            valueFrom = std::min(valueFrom, values[k]);
            valueTo = std::max(valueTo, values[k]);
        }
    }
    // Without a usable point the scale is left as it was.
    m_pView->SetScale(rateFrom, rateTo, valueFrom, valueTo, m_sCurrentPlotType);
    if (values)
        m_pView->AddCurve(data.m_sProfileName[c], n, rates, values, true);
    else
        zn::ShowMessage("(CRDPlotDlg::OnRdplotPlotcurve()) Illegal value of m_sCurrentPlotType");
    m_pView->update();
}

void CRDPlotDlg::OnRdplotPlotanothercurve()
{
    int s = 0, c = 0;
    if (!FindProfile(&s, &c))
        return;
    if (!m_bAutomaticScale)
        m_pView->SetScale(m_fRateFrom, m_fRateTo, m_fValueFrom, m_fValueTo, m_sCurrentPlotType);
    const zn::CRDModuleData &data = m_pRDData->m_ModuleData[s];
    if (const float *values = PlotValues(s, c))
        m_pView->AddCurve(data.m_sProfileName[c], data.m_nNumberOfPoints[c], data.m_Curve[c].m_fRate, values,
                          false);
    else
        zn::ShowMessage("(CRDPlotDlg::OnRdplotPlotanothercurve()) Illegal value of m_sCurrentPlotType");
    m_pView->update();
}

void CRDPlotDlg::OnAutomaticScale()
{
    m_bAutomaticScale = m_pAutomatic->isChecked();
    for (QLineEdit *e : {m_pRateFrom, m_pRateTo, m_pValueFrom, m_pValueTo})
        e->setEnabled(!m_bAutomaticScale);
}

void CRDPlotDlg::OnSaveAsPostScript()
{
    if (!m_pRDData || !m_pRDData->m_pDoc)
        return;
    zn::RDDocumentLink *doc = m_pRDData->m_pDoc;
    zn::RDSaveRequest request;
    request.dir = doc->UserDir();
    request.defaultName = doc->ImageTitle() + "_RDPlot";
    request.defaultExt = ".eps";
    request.filter = "Encapsulated postscript file (*.eps)|*.eps|Postscript file (*.ps)|*.ps||";
    request.title = "Save Graph as...";
    std::string path;
    if (!doc->AskSaveFile(request, &path))
        return;
    // Only the test for ".eps" ignores case; the file keeps the name as the user typed it.
    m_pView->WritePostScript(path, zn::ContainsNoCase(path, ".eps"));
}

void CRDPlotDlg::OnCancel()
{
    RDClearPlotDlgPointer(m_pStartDibDoc);
    hide();
}

void CRDPlotDlg::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (isVisible())
        OnCancel();
}

bool CRDPlotDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        for (QLineEdit *e : {m_pRateFrom, m_pRateTo, m_pValueFrom, m_pValueTo}) {
            if (watched == e) {
                OnScaleEditKillFocus(e);
                break;
            }
        }
    }
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        if (auto *w = qobject_cast<QWidget *>(watched))
            w->setCursor(m_pRDData && m_pRDData->IsStoring() ? Qt::BusyCursor : Qt::ArrowCursor);
    }
    return CZnDialog::eventFilter(watched, event);
}
