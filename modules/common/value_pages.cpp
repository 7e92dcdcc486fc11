// Pages of one value chosen from a table of radios.
#include "modules/common/value_pages.h"

#include "shell/dialog_support.h"

#include <QPushButton>

CValueRadioPage::CValueRadioPage(const Layout &l, QWidget *parent)
    : CModulePage(l.idd, parent), m_fValue(l.start), m_choices(l.choices), m_nMessage(l.message)
{
    const int rows = (static_cast<int>(l.choices.size()) + l.perRow - 1) / l.perRow;
    const int step = l.buttonWidth + 4;
    zn::MakeGroupBox(this, 0, QString::fromLatin1(l.groupText), 4, 4, 12 + step * l.perRow, 30 + 28 * rows);
    m_pRadios = new zn::PushRadioGroup(this);
    for (size_t i = 0; i < l.choices.size(); ++i) {
        const int col = static_cast<int>(i) % l.perRow, row = static_cast<int>(i) / l.perRow;
        m_pRadios->Add(l.choices[i].id, QString::fromLatin1(l.choices[i].label), 10 + step * col,
                       24 + 28 * row, l.buttonWidth);
    }
    setMinimumHeight(40 + 28 * rows);
    SetValue(l.start);
    connect(m_pRadios, &zn::PushRadioGroup::Clicked, this, &CValueRadioPage::OnChoice);
}

void CValueRadioPage::SetValue(float value)
{
    m_fValue = value;
    for (const Choice &c : m_choices)
        if (c.value == value) {
            m_pRadios->Select(c.id);
            return;
        }
    m_pRadios->Clear();
}

QPushButton *CValueRadioPage::Button(int id) const
{
    for (QPushButton *b : m_pRadios->Buttons())
        if (zn::CtrlId(b) == id)
            return b;
    return nullptr;
}

void CValueRadioPage::OnChoice(int id)
{
    for (const Choice &c : m_choices)
        if (c.id == id) {
            if (c.value == m_fValue)
                return;
            m_fValue = c.value;
            NotifyOwner(m_nMessage);
            return;
        }
}
