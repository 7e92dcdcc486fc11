// Push-like radio groups, group boxes and check boxes of the module pages.
#include "modules/common/module_controls.h"

#include "shell/dialog_support.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

namespace zn {

PushRadioGroup::PushRadioGroup(QWidget *page) : QObject(page), m_pPage(page) {}

QPushButton *PushRadioGroup::Add(int id, const QString &text, int x, int y, int w, int h)
{
    auto *b = new QPushButton(text, m_pPage);
    SetCtrlId(b, id);
    b->setCheckable(true);
    b->setAutoExclusive(false);
    b->setAutoDefault(false);
    b->setGeometry(x, y, w, h);
    connect(b, &QPushButton::clicked, this, [this, id] {
        Select(id); // a second click on the checked button keeps it checked
        emit Clicked(id);
    });
    m_buttons.push_back(b);
    return b;
}

void PushRadioGroup::Select(int id)
{
    for (QPushButton *b : m_buttons)
        b->setChecked(CtrlId(b) == id);
}

void PushRadioGroup::Clear()
{
    for (QPushButton *b : m_buttons)
        b->setChecked(false);
}

int PushRadioGroup::Selected() const
{
    for (QPushButton *b : m_buttons)
        if (b->isChecked())
            return CtrlId(b);
    return 0;
}

void PushRadioGroup::SetEnabled(bool enable)
{
    for (QPushButton *b : m_buttons)
        b->setEnabled(enable);
}

QGroupBox *MakeGroupBox(QWidget *page, int id, const QString &text, int x, int y, int w, int h)
{
    auto *g = new QGroupBox(text, page);
    SetCtrlId(g, id);
    g->setGeometry(x, y, w, h);
    g->lower(); // behind the buttons it frames
    return g;
}

QCheckBox *MakeCheckBox(QWidget *page, int id, const QString &text, int x, int y, int w, int h)
{
    auto *c = new QCheckBox(text, page);
    SetCtrlId(c, id);
    c->setGeometry(x, y, w, h);
    return c;
}

} // namespace zn
