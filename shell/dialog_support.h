// What the dialogs of the program need from the window system: controls found by their numeric ids,
// the private message numbers that pages send to their owner, dialog units, and help by context id.
// Module dialogs and their pages speak of "radio 1013" or "WM_APP+2" exactly as their tables do.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

// Private message numbers. A page tells its owner dialog about a change with WM_APP + n; the
// numbers are per module, so the same n means different things in different dialogs.
inline constexpr int WM_APP = 0x8000;
inline constexpr int WM_DOCUMENT_ATTACHED = WM_APP + 27; // sent once m_pStartDibDoc is set

// The standard button ids of every dialog template.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Help context ids: dialogs ask for 0x20000 + their template id, the main window for 0x20080.
inline constexpr int kHelpContextBase = 0x20000;
inline constexpr int kMainHelpContext = kHelpContextBase + 128;

namespace zn {

// Gives a control its numeric id (kept as the dynamic property "ctrlId" and as objectName
// "ctrl<id>" so that tests and the dialogs' own code can look it up).
void SetCtrlId(QWidget *control, int id);
int CtrlId(const QWidget *control); // 0 when none

// The descendant of dialog with that id, or nullptr.
QWidget *FindControl(const QWidget *dialog, int id);
template <typename T> T *FindControl(const QWidget *dialog, int id)
{
    return qobject_cast<T *>(FindControl(dialog, id));
}

// Dialog units to pixels. A dialog unit is a quarter of the average character width horizontally and
// an eighth of the character height vertically; with the templates' 8-point face the base units are
// 6 by 13 pixels. Rounds like the system's MulDiv.
int DluToPixelsX(int dlu);
int DluToPixelsY(int dlu);
QRect DluRect(int x, int y, int w, int h);

// Opens the program's help window at the topic of a context id. Tests may install a handler that
// records the id instead; the previous handler is returned.
using HelpHandler = std::function<void(int contextId)>;
void OpenHelp(int contextId);
HelpHandler SetHelpHandler(HelpHandler handler);

} // namespace zn
