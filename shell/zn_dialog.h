// CZnDialog: the dialog base of the program. It knows its template id, finds its controls by id,
// and answers F1 with the help topic 0x20000 + template id.
#pragma once

#include "shell/dialog_support.h"

#include <QDialog>

class CZnDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CZnDialog(int idd, QWidget *parent = nullptr, Qt::WindowFlags flags = {});

    int IDD() const { return m_nIDD; }
    QWidget *GetDlgItem(int id) const { return zn::FindControl(this, id); }
    template <typename T> T *Item(int id) const { return zn::FindControl<T>(this, id); }
    // Gives a control of this dialog its id and returns it, so templates read like their tables.
    template <typename T> T *Ctrl(T *control, int id)
    {
        zn::SetCtrlId(control, id);
        return control;
    }

    // A modeless window without owner whose object goes when its window is closed (the welcome box,
    // Image Information). Module dialogs and pages need none of this: their owner window deletes them.
    void DeleteOnPostNcDestroy() { setAttribute(Qt::WA_DeleteOnClose); }

    // OK and Cancel with only the framework's part: a modal dialog ends with IDOK or IDCANCEL, a
    // modeless one is hidden.
    void ForwardOnOK() { done(IDOK); }
    void ForwardOnCancel() { done(IDCANCEL); }

    // The help of this dialog (what the framework's command help does for it).
    virtual void OnCommandHelp();
    int HelpContextId() const { return kHelpContextBase + m_nIDD; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_nIDD;
};
