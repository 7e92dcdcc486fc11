// A tab page that chooses one value from a fixed table with push-like radio buttons, as the rate,
// level and smoothing pages of the wavelet modules do. The page keeps the value and tells its owner
// only when a click changes it; the owner may check, clear, enable and disable the buttons itself.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

#include <span>

class QPushButton;

class CValueRadioPage : public CModulePage
{
    Q_OBJECT
public:
    struct Choice
    {
        int id;
        const char *label;
        float value;
    };
    struct Layout
    {
        int idd;
        const char *groupText;
        std::span<const Choice> choices;
        int perRow;      // buttons per row
        int buttonWidth; // pixels
        int message;     // WM_APP+n sent on a new value
        float start;     // the value checked at the start
    };
    CValueRadioPage(const Layout &layout, QWidget *parent);

    float m_fValue;

    // Checks the button of value (none when no button has it) without telling the owner.
    void SetValue(float value);
    void ClearChecks() { m_pRadios->Clear(); }
    QPushButton *Button(int id) const;
    std::span<const Choice> Choices() const { return m_choices; }

private:
    void OnChoice(int id);

    zn::PushRadioGroup *m_pRadios;
    std::span<const Choice> m_choices;
    int m_nMessage;
};
