// The per-document store of rate-distortion points: up to 15 modules, 100 curves (profiles) per
// module, 250 points per curve. A recording run of one module becomes one curve; closing the run
// sorts it by bit rate so a plot runs left to right. Qt-free: the store meets its two dialogs only
// through the small link interfaces below, reached through the owning document.
#pragma once

#include <memory>
#include <string>

namespace zn {

constexpr int MAXIMUM_NUMBER_OF_MODULES = 15;
constexpr int MAXIMUM_NUMBER_OF_CURVES = 100;
constexpr int MAXIMUM_NUMBER_OF_POINTS = 250;

// What the store uses of the storing dialog.
class RDStoringLink
{
public:
    virtual ~RDStoringLink() = default;
    virtual void SetLastMessage(const std::string &text) = 0;
    virtual void UpdateModuleList() = 0;
    // Module list, profile list, Delete Profile, Delete All and Cancel enabled, last message
    // disabled, Start released and Stop pressed.
    virtual void SetStoppedState() = 0;
};

// What the store uses of the plotting dialog.
class RDPlotLink
{
public:
    virtual ~RDPlotLink() = default;
    virtual void UpdateProfileList() = 0;
};

// A save-file question: start folder, proposed name, default extension, filter, title.
struct RDSaveRequest
{
    std::string dir;
    std::string defaultName;
    std::string defaultExt;
    std::string filter; // "Text File (*.txt)|*.txt||" style
    std::string title;
    // The report file is appended to, so asking "replace?" would mislead; the graph is rewritten.
    bool confirmOverwrite = true;
};

// The owning document as the store sees it: its two dialog pointers, its image title and the
// user's folder, and a save dialog.
class RDDocumentLink
{
public:
    virtual ~RDDocumentLink() = default;
    virtual RDStoringLink *StoringDlg() = 0; // null when the storing dialog is not open
    virtual RDPlotLink *PlotDlg() = 0;       // null when the plotting dialog is not open
    virtual std::string ImageTitle() = 0;
    virtual std::string UserDir() = 0;
    // Asks for a file name; false when the user cancels.
    virtual bool AskSaveFile(const RDSaveRequest &request, std::string *path) = 0;
};

struct CRDCurve
{
    float m_fRate[MAXIMUM_NUMBER_OF_POINTS]; // bits per pixel
    float m_fSNR[MAXIMUM_NUMBER_OF_POINTS];  // dB
    float m_fPSNR[MAXIMUM_NUMBER_OF_POINTS]; // dB
    float m_fMSE[MAXIMUM_NUMBER_OF_POINTS];
};

struct CRDModuleData
{
    bool m_bCurveClosed[MAXIMUM_NUMBER_OF_CURVES] = {};
    std::string m_sProfileName[MAXIMUM_NUMBER_OF_CURVES];
    int m_nNumberOfPoints[MAXIMUM_NUMBER_OF_CURVES] = {};
    CRDCurve m_Curve[MAXIMUM_NUMBER_OF_CURVES];
};

// Large (about 6 MB): allocate it on the heap, once per document.
class CRDDataBase
{
public:
    CRDDataBase();
    CRDDataBase(const CRDDataBase &) = delete;
    CRDDataBase &operator=(const CRDDataBase &) = delete;

    // Sets m_pDoc to a link the store owns (the document adapter).
    void AttachDocument(std::unique_ptr<RDDocumentLink> link);

    int GetModuleIndex(std::string key);
    void SetModuleIsActive(std::string key, bool active);
    bool IsStoring() const { return m_bStoring; }
    void StoreRDPoint(std::string key, float rate, float snr, float psnr, float mse);
    int GetCurrentModule() const { return m_nCurrentModule; }
    int GetNumberOfCurves() const;
    int GetNumberOfActiveModules() const;
    int StartStoring(std::string key, std::string profileName);
    void StopStoring();
    std::string GetDefaultProfileName(std::string key);
    void SortCurveByRate(int module, int curve);
    void EraseOneCurve(std::string profileName);
    void EraseAllCurves();
    void ReportStatus();

    // The pieces of ReportStatus, for the dialogs and tests.
    std::string StatusText();
    std::string ReportText() const;
    // Appends the report; false (after a message) when the file cannot be written.
    bool AppendReport(const std::string &path) const;
    // True when a closed curve, or the curve being recorded, carries this name.
    bool ProfileNameInUse(const std::string &name) const;

    RDDocumentLink *m_pDoc = nullptr;
    int m_nCurrentModule = -1;
    int m_nCurrentCurve = -1;
    bool m_bStoring = false;
    bool m_bModuleActive[MAXIMUM_NUMBER_OF_MODULES] = {};
    std::string m_sModuleName[MAXIMUM_NUMBER_OF_MODULES];
    int m_nNumberOfCurves[MAXIMUM_NUMBER_OF_MODULES] = {};
    CRDModuleData m_ModuleData[MAXIMUM_NUMBER_OF_MODULES];

private:
    void SetLastMessage(const std::string &text);
    std::unique_ptr<RDDocumentLink> m_ownedDoc;
};

} // namespace zn
