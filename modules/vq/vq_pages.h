// The three tab pages of the VQ dialog. The Codebook page acts itself: it loads a .cbk file or runs
// the codebook design, keeps the codebook it got, and tells its owner with WM_APP+14. The Bits and
// Errors pages hold one value each and tell their owner of a change.
#pragma once

#include "shell/module_dialog.h"

#include <memory>

class CDib;
class CDibDoc;
class QCheckBox;
class QGroupBox;
class ZnImage;

namespace zn {
class PushRadioGroup;
}

inline constexpr int WM_VQ_BITS_CHANGED = WM_APP + 1;
inline constexpr int WM_VQ_ERRORS_CHANGED = WM_APP + 3;
inline constexpr int WM_VQ_CODEBOOK_CHANGED = WM_APP + 14;

class CVqCodebookDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 189;
    static constexpr int IDC_LOAD = 1228;
    static constexpr int IDC_CREATE = 1229;
    explicit CVqCodebookDlg(QWidget *parent);
    ~CVqCodebookDlg() override;

    // The owning document; when unset, the owner dialog's.
    CDibDoc *m_pStartDibDoc = nullptr;

    void OnLoadCodebook();
    void OnCreateCodebook();

    // The codebook image (nullptr until one arrives) and, for a codebook read from a file, that
    // file's picture.
    ZnImage *CodebookImage() const { return m_pCodebook.get(); }
    CDib *FileImage() const { return m_pFileImage.get(); }
    // A designed codebook gets its picture from the dialog that shows it.
    void SetFileImage(std::unique_ptr<CDib> image);

private:
    std::unique_ptr<ZnImage> m_pCodebook;
    std::unique_ptr<CDib> m_pFileImage;
};

class CVqBitsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 140;
    static constexpr int IDC_GROUP = 1043;
    explicit CVqBitsDlg(QWidget *parent);

    // The radio id of a number of bits (1..12).
    static int BitsId(int bits);
    int m_nBits = -1;
    // Enables the radios rmin..rmax and checks `bits`.
    void SetRange(int rmin, int rmax, int bits);
    QGroupBox *Group() const { return m_pGroup; }

private:
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pBits;
};

class CVqErrorsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 155;
    explicit CVqErrorsDlg(QWidget *parent);

    float m_fProb = -1.0f;

private:
    void OnSimulateErrors();
    QGroupBox *m_pGroup;
    zn::PushRadioGroup *m_pProb;
    QCheckBox *m_pSimulate;
};
