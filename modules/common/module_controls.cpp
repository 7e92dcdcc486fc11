// Push-like radio groups, group boxes and check boxes of the module pages.
#include "modules/common/module_controls.h"

#include "shell/dialog_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>

namespace zn {

PushRadioGroup::PushRadioGroup(QWidget *page) : QObject(page), m_pPage(page) {}

QPushButton *PushRadioGroup::Add(int id, const QString &text)
{
    auto *b = new QPushButton(text, m_pPage);
    SetCtrlId(b, id);
    b->setCheckable(true);
    b->setAutoExclusive(false);
    b->setAutoDefault(false);
    b->setMinimumWidth(20);
    connect(b, &QPushButton::clicked, this, [this, id] {
        Select(id); // a second click on the checked button keeps it checked
        emit Clicked(id);
    });
    m_buttons.push_back(b);
    return b;
}

QPushButton *PushRadioGroup::Add(int id, const QString &text, int x, int y, int w, int h)
{
    QPushButton *b = Add(id, text);
    b->setGeometry(x, y, w, h);
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

QGroupBox *MakeButtonRow(QWidget *page, int id, const QString &text,
                         const std::vector<QPushButton *> &buttons)
{
    auto *g = new QGroupBox(text, page);
    SetCtrlId(g, id);
    auto *row = new QHBoxLayout(g);
    row->setSpacing(2);
    row->setContentsMargins(4, 4, 4, 4);
    for (QPushButton *b : buttons)
        row->addWidget(b);
    return g;
}

QGroupBox *MakeButtonGrid(QWidget *page, int id, const QString &text,
                          const std::vector<QPushButton *> &buttons, int columns)
{
    auto *g = new QGroupBox(text, page);
    SetCtrlId(g, id);
    auto *grid = new QGridLayout(g);
    grid->setSpacing(2);
    grid->setContentsMargins(4, 4, 4, 4);
    for (size_t i = 0; i < buttons.size(); ++i)
        grid->addWidget(buttons[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    return g;
}

QCheckBox *MakeCheckBox(QWidget *page, int id, const QString &text)
{
    auto *c = new QCheckBox(text, page);
    SetCtrlId(c, id);
    return c;
}

QGroupBox *MakeGroupBox(QWidget *page, int id, const QString &text, int x, int y, int w, int h)
{
    auto *g = new QGroupBox(text, page);
    SetCtrlId(g, id);
    g->setGeometry(x, y, w, h);
    g->lower();
    return g;
}

QCheckBox *MakeCheckBox(QWidget *page, int id, const QString &text, int x, int y, int w, int h)
{
    QCheckBox *c = MakeCheckBox(page, id, text);
    c->setGeometry(x, y, w, h);
    return c;
}

bool IsChecked(const QWidget *dialog, int id)
{
    auto *b = FindControl<QAbstractButton>(dialog, id);
    return b && b->isChecked();
}

float CheckedValue(const QWidget *dialog, std::span<const IdValue> choices, float none)
{
    for (const IdValue &c : choices)
        if (IsChecked(dialog, c.id))
            return c.value;
    return none;
}

} // namespace zn
