// CtpltDlg: the template module, the smallest complete module dialog. Two pages choose inverting
// and mirroring; Apply processes the document's pixel rows and shows the result as a chain window.
#pragma once

#include "modules/template/tplt_engine.h"
#include "shell/module_dialog.h"

#include <QString>

class CtpltInvertDlg;
class CtpltMirrorDlg;

inline constexpr int WM_TPLT_MIRROR_CHANGED = WM_APP + 56;
inline constexpr int WM_TPLT_INVERT_CHANGED = WM_APP + 57;

// A page with two push-like radios: value 1 ("do it") or 2 ("do not", the default). It tells its
// owner only when the value really changes.
class CtpltChoicePage : public CModulePage
{
    Q_OBJECT
public:
    struct Layout
    {
        int idd;
        int groupId;
        const char *groupText;
        int firstId;
        const char *firstText;
        int secondId;
        const char *secondText;
        int message;
    };
    CtpltChoicePage(const Layout &layout, QWidget *parent);
    int m_nValue = 2;

private:
    void OnChoice(int value);
    int m_nMessage;
};

class CtpltInvertDlg : public CtpltChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 282;
    explicit CtpltInvertDlg(QWidget *parent);
};

class CtpltMirrorDlg : public CtpltChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 281;
    explicit CtpltMirrorDlg(QWidget *parent);
};

class CtpltDlg : public CModuleDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 280;
    static constexpr int IDC_APPLY = 1663;
    static constexpr int IDC_RESULTS = 1661;

    CtpltDlg();
    void OnTpltApply();

    int m_nInvert = 2;
    int m_nMirror = 2;

protected:
    void CreatePages() override;
    bool OnInitDialog() override;
    void OnPageMessage(int message) override;

private:
    QString m_sResults;
    CtpltMirrorDlg *m_pMirrorPage = nullptr;
    CtpltInvertDlg *m_pInvertPage = nullptr;
};

// Connects the dialog to the document's template command.
void RegisterTemplateModule();
