// The R(D) point store: recording curves, closing and sorting them, deleting them, and the status
// box with its text report.
#include "shell/rd_database.h"

#include "platform/file.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <algorithm>
#include <utility>

namespace zn {

namespace {
constexpr const char *kEmptySlot = "_EMPTY_";
constexpr const char *kModuleKeys[] = {"PCM",  "DPCM", "VQ",  "FRAC",  "DCT",
                                       "JPEG", "SBC",  "EZW", "SPIHT", "JPEG2000"};
constexpr int kNumberOfKeys = sizeof(kModuleKeys) / sizeof(kModuleKeys[0]);
} // namespace

CRDDataBase::CRDDataBase()
{
    for (auto &name : m_sModuleName)
        name = kEmptySlot;
    for (const char *key : kModuleKeys)
        m_sModuleName[GetModuleIndex(key)] = key;
}

void CRDDataBase::AttachDocument(std::unique_ptr<RDDocumentLink> link)
{
    m_ownedDoc = std::move(link);
    m_pDoc = m_ownedDoc.get();
}

int CRDDataBase::GetModuleIndex(std::string key)
{
    for (int i = 0; i < kNumberOfKeys; ++i) {
        if (key == kModuleKeys[i])
            return i;
    }
    ShowMessage("(CRDDataBase::GetModuleIndex) Illegal Module Name Used. Assume PCM");
    return 0;
}

void CRDDataBase::SetLastMessage(const std::string &text)
{
    if (m_pDoc) {
        if (RDStoringLink *dlg = m_pDoc->StoringDlg())
            dlg->SetLastMessage(text);
    }
}

void CRDDataBase::SetModuleIsActive(std::string key, bool active)
{
    int slot = GetModuleIndex(key);
    if (active) {
        if (m_bModuleActive[slot])
            ShowMessage(Format("(SetModuleIsActive) ERROR, Module %s is already set to active", key.c_str()));
        else
            m_bModuleActive[slot] = true;
    } else {
        if (m_bModuleActive[slot])
            m_bModuleActive[slot] = false;
        else
            ShowMessage(
                Format("(SetModuleIsActive) ERROR, Module %s is already set to not active", key.c_str()));
    }
    RDStoringLink *dlg = m_pDoc ? m_pDoc->StoringDlg() : nullptr;
    if (!dlg)
        return;
    if (!active && m_bStoring && slot == m_nCurrentModule) {
        StopStoring();
        // StopStoring may have run dialog code; look the dialog up again.
        if (RDStoringLink *again = m_pDoc->StoringDlg())
            again->SetStoppedState();
    }
    if (RDStoringLink *again = m_pDoc->StoringDlg())
        again->UpdateModuleList();
}

void CRDDataBase::StoreRDPoint(std::string key, float rate, float snr, float psnr, float mse)
{
    if (!m_bStoring || m_nCurrentModule < 0 || m_nCurrentCurve < 0)
        return;
    int slot = GetModuleIndex(key);
    if (slot != m_nCurrentModule) {
        SetLastMessage(
            Format("(%s) Result of %s not stored", m_sModuleName[m_nCurrentModule].c_str(), key.c_str()));
        return;
    }
    CRDModuleData &data = m_ModuleData[slot];
    int &count = data.m_nNumberOfPoints[m_nCurrentCurve];
    if (count >= MAXIMUM_NUMBER_OF_POINTS) {
        SetLastMessage(Format("(%s) Not stored. Max. (%d) reached.", key.c_str(), MAXIMUM_NUMBER_OF_POINTS));
        return;
    }
    CRDCurve &curve = data.m_Curve[m_nCurrentCurve];
    curve.m_fRate[count] = rate;
    curve.m_fSNR[count] = snr;
    curve.m_fPSNR[count] = psnr;
    curve.m_fMSE[count] = mse;
    ++count;
    SetLastMessage(Format("(%s) Store R=%.1f bpp; SNR=%.1f dB", key.c_str(), rate, snr));
}

int CRDDataBase::GetNumberOfCurves() const
{
    int sum = 0;
    for (int n : m_nNumberOfCurves)
        sum += n;
    return sum;
}

int CRDDataBase::GetNumberOfActiveModules() const
{
    int active = 0;
    for (int i = 0; i < MAXIMUM_NUMBER_OF_MODULES && m_sModuleName[i] != kEmptySlot; ++i) {
        if (m_bModuleActive[i])
            ++active;
    }
    return active;
}

int CRDDataBase::StartStoring(std::string key, std::string profileName)
{
    int slot = GetModuleIndex(key);
    m_bStoring = true;
    m_nCurrentModule = slot;
    if (m_nNumberOfCurves[slot] < MAXIMUM_NUMBER_OF_CURVES) {
        ++m_nNumberOfCurves[slot];
    } else {
        ShowMessage(
            Format("Maximum number (%d) of RD-curves for Module %s reached.\nOverwriting lastly stored "
                   "RD-curve.",
                   MAXIMUM_NUMBER_OF_CURVES, key.c_str()));
    }
    m_nCurrentCurve = m_nNumberOfCurves[slot] - 1;
    CRDModuleData &data = m_ModuleData[slot];
    data.m_bCurveClosed[m_nCurrentCurve] = false;
    data.m_nNumberOfPoints[m_nCurrentCurve] = 0;
    data.m_sProfileName[m_nCurrentCurve] = profileName;
    SetLastMessage(Format("Start storing R(D) for %s", key.c_str()));
    return 0;
}

void CRDDataBase::StopStoring()
{
    if (m_nCurrentModule >= 0 && m_nCurrentCurve >= 0) {
        CRDModuleData &data = m_ModuleData[m_nCurrentModule];
        int points = data.m_nNumberOfPoints[m_nCurrentCurve];
        SetLastMessage(Format("(%s) %d R(D) points stored", m_sModuleName[m_nCurrentModule].c_str(), points));
        if (points == 0) {
            --m_nNumberOfCurves[m_nCurrentModule];
        } else {
            data.m_bCurveClosed[m_nCurrentCurve] = true;
            SortCurveByRate(m_nCurrentModule, m_nCurrentCurve);
        }
    }
    m_bStoring = false;
    m_nCurrentModule = -1;
    m_nCurrentCurve = -1;
    if (m_pDoc) {
        if (RDPlotLink *plot = m_pDoc->PlotDlg())
            plot->UpdateProfileList();
    }
}

bool CRDDataBase::ProfileNameInUse(const std::string &name) const
{
    for (int s = 0; s < MAXIMUM_NUMBER_OF_MODULES; ++s) {
        for (int c = 0; c < m_nNumberOfCurves[s]; ++c) {
            if (m_ModuleData[s].m_sProfileName[c] == name)
                return true;
        }
    }
    return false;
}

std::string CRDDataBase::GetDefaultProfileName(std::string key)
{
    int slot = GetModuleIndex(key);
    // Counting alone would repeat a stored name once an earlier curve has been deleted: step on to
    // the first free number.
    int number = m_nNumberOfCurves[slot] + 1;
    std::string name = Format("%s_%4.4d", key.c_str(), number);
    while (ProfileNameInUse(name))
        name = Format("%s_%4.4d", key.c_str(), ++number);
    return name;
}

void CRDDataBase::SortCurveByRate(int module, int curve)
{
    if (module < 0 || module >= MAXIMUM_NUMBER_OF_MODULES || curve < 0 || curve >= MAXIMUM_NUMBER_OF_CURVES)
        return;
    int n = m_ModuleData[module].m_nNumberOfPoints[curve];
    CRDCurve &c = m_ModuleData[module].m_Curve[curve];
    // Selection sort by exchange; only a strictly smaller rate takes over, so of equal rates the
    // earliest is picked. The exchange may carry a point past others of its rate, so equal rates
    // need not keep their recording order; the report and the plotted line follow this order.
    for (int i = 0; i + 1 < n; ++i) {
        int best = i;
        for (int k = i + 1; k < n; ++k) {
            if (c.m_fRate[k] < c.m_fRate[best])
                best = k;
        }
        if (best != i) {
            std::swap(c.m_fRate[i], c.m_fRate[best]);
            std::swap(c.m_fSNR[i], c.m_fSNR[best]);
            std::swap(c.m_fPSNR[i], c.m_fPSNR[best]);
            std::swap(c.m_fMSE[i], c.m_fMSE[best]);
        }
    }
}

void CRDDataBase::EraseOneCurve(std::string profileName)
{
    for (int s = 0; s < MAXIMUM_NUMBER_OF_MODULES; ++s) {
        CRDModuleData &data = m_ModuleData[s];
        for (int c = 0; c < m_nNumberOfCurves[s]; ++c) {
            if (!data.m_bCurveClosed[c]) {
                ShowMessage("(RDDataBase::EraseOneCurve: Curve not closed.\r\nThis error should not occur");
                continue;
            }
            if (data.m_sProfileName[c] != profileName)
                continue;
            for (int k = c; k + 1 < m_nNumberOfCurves[s]; ++k) {
                data.m_bCurveClosed[k] = data.m_bCurveClosed[k + 1];
                data.m_sProfileName[k] = data.m_sProfileName[k + 1];
                int n = data.m_nNumberOfPoints[k + 1];
                data.m_nNumberOfPoints[k] = n;
                const CRDCurve &from = data.m_Curve[k + 1];
                CRDCurve &to = data.m_Curve[k];
                for (int p = 0; p < n; ++p) {
                    to.m_fRate[p] = from.m_fRate[p];
                    to.m_fSNR[p] = from.m_fSNR[p];
                    to.m_fPSNR[p] = from.m_fPSNR[p];
                    to.m_fMSE[p] = from.m_fMSE[p];
                }
            }
            --m_nNumberOfCurves[s];
            // A curve being recorded in this slot has moved down with the others.
            if (m_bStoring && s == m_nCurrentModule && m_nCurrentCurve > c)
                --m_nCurrentCurve;
            return;
        }
    }
}

void CRDDataBase::EraseAllCurves()
{
    for (int &n : m_nNumberOfCurves)
        n = 0;
    m_bStoring = false;
    m_nCurrentModule = -1;
    m_nCurrentCurve = -1;
}

std::string CRDDataBase::StatusText()
{
    std::string title = m_pDoc ? m_pDoc->ImageTitle() : std::string();
    std::string text = "Current status of database storing R(D) points\n";
    text += Format("Original image \t\t: %s\n", title.c_str());
    if (m_bStoring)
        text +=
            Format("Data currently being stored\t: YES\nNumber of profiles stored\t: %d\nNumber of active "
                   "modules\t: %d\n\n",
                   GetNumberOfCurves(), GetNumberOfActiveModules());
    else
        text += Format("Data currently being stored\t: NO\nNumber of profile stored\t: %d\nNumber of active "
                       "modules\t: %d\n\n",
                       GetNumberOfCurves(), GetNumberOfActiveModules());
    for (int i = 0; i < MAXIMUM_NUMBER_OF_MODULES && m_sModuleName[i] != kEmptySlot; ++i) {
        const char *fmt = m_bModuleActive[i] ? "%.7s\t(active)    \t: %d profiles stored\n"
                                             : "%.7s\t(not active)\t: %d profiles stored\n";
        text += Format(fmt, m_sModuleName[i].c_str(), m_nNumberOfCurves[i]);
    }
    text += "\nSave R(D) data in a text file?";
    return text;
}

std::string CRDDataBase::ReportText() const
{
    std::string text;
    for (int s = 0; s < MAXIMUM_NUMBER_OF_MODULES; ++s) {
        if (m_nNumberOfCurves[s] < 1)
            continue;
        text += " -----------------------------------------\n";
        text += Format("|              %.8s                       |\n", m_sModuleName[s].c_str());
        text += " -----------------------------------------\n\n";
        const CRDModuleData &data = m_ModuleData[s];
        for (int c = 0; c < m_nNumberOfCurves[s]; ++c) {
            if (!data.m_bCurveClosed[c])
                continue;
            text += Format("Profile name : %s\n", data.m_sProfileName[c].c_str());
            text += "  Bit rate       SNR      PSNR      MSE\n";
            const CRDCurve &curve = data.m_Curve[c];
            for (int p = 0; p < data.m_nNumberOfPoints[c]; ++p)
                text += Format("%8.2f     %8.2f  %8.2f  %8.3f\n", curve.m_fRate[p], curve.m_fSNR[p],
                               curve.m_fPSNR[p], curve.m_fMSE[p]);
            text += "\n";
        }
    }
    return text;
}

bool CRDDataBase::AppendReport(const std::string &path) const
{
    const bool ok = WriteWholeFile(path, ReportText(), "a+");
    if (!ok)
        ShowMessage("The R(D) data could not be written to\n" + path, MsgButtons::Ok, MsgIcon::Error);
    return ok;
}

void CRDDataBase::ReportStatus()
{
    std::string text = StatusText();
    if (ShowMessage(text, MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
        return;
    if (!m_pDoc)
        return;
    RDSaveRequest request;
    request.dir = m_pDoc->UserDir();
    request.defaultName = m_pDoc->ImageTitle() + "_RD.txt";
    request.defaultExt = ".txt";
    request.filter = "Text File (*.txt)|*.txt||";
    request.title = "Save the R(D) Data As...";
    request.confirmOverwrite = false;
    std::string path;
    if (m_pDoc->AskSaveFile(request, &path))
        AppendReport(path);
}

} // namespace zn
