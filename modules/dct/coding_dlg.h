// CBandCodingDlg: what the DCT and subband dialogs share. Both code their bands with the same three
// pages (Coefs or Subs, Bitrate, Errors) and show the same three results; a derived dialog adds its
// own pages and parameters and names its run.
#pragma once

#include "modules/dct/band_coding.h"
#include "shell/module_dialog.h"

#include <QString>
#include <functional>
#include <string>

class CDib;
class CDctBitrateDlg;
class CDctCoefsDlg;
class CDctErrorsDlg;

class CBandCodingDlg : public CModuleDialog
{
    Q_OBJECT
public:
    CBandCodingDlg(int idd, const ModuleTemplate &tmpl, const std::string &rdKey);

protected:
    // Adds the three coding pages as consecutive tabs (labelled coefsLabel, "Bitrate", "Errors").
    void AddCodingPages(CDctCoefsDlg *coefs, const QString &coefsLabel, CDctBitrateDlg *bitrate,
                        CDctErrorsDlg *errors);
    // The base set-up, then the Errors tab disabled: entropy coding is on at start.
    bool OnInitDialog() override;
    // The coding pages' notifications; any other goes to OnOwnPageMessage. A handled one enables Apply.
    void OnPageMessage(int message) final;
    virtual bool OnOwnPageMessage(int message) = 0;
    // The coding part of the derived dialog's pending record, and its "Encoding of ..." box.
    virtual BandCodingChoices &PendingChoices() = 0;
    virtual bool EncodingOn() const = 0;

    // An Apply: an empty tables directory shows its message and opens the Preferences instead; else
    // run codes the document's image, whose result text, R(D) point and three windows are shown.
    using CodedRun = std::function<CodedRunResult(const CDib *image, const std::string &tableDir,
                                                  ZnImage *decoded, ZnImage *dispA, ZnImage *dispB)>;
    void ApplyCoding(const CodedRun &run, const char *nullStoreMessage);

    CDctCoefsDlg *m_pCoefsPage = nullptr;
    CDctBitrateDlg *m_pBitratePage = nullptr;
    CDctErrorsDlg *m_pErrorsPage = nullptr;
    QString m_sResults;

private:
    void OnErrorsChanged();
    void OnEntropyChanged();
    void OnCodingSwitched();

    int m_nCoefsTab = 0; // Bitrate and Errors follow it
};
