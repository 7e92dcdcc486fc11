// The dialog base: template id, controls by id, F1.
#include "shell/zn_dialog.h"

#include <QKeyEvent>

CZnDialog::CZnDialog(int idd, QWidget *parent, Qt::WindowFlags flags) : QDialog(parent, flags), m_nIDD(idd) {}

void CZnDialog::OnCommandHelp()
{
    zn::OpenHelp(HelpContextId());
}

void CZnDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnCommandHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
