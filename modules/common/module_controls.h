// Controls the module pages are made of. Push-like radio buttons behave as one group in which the
// page may also clear every button (a switched-off option has no value chosen), which Qt's own
// exclusive groups do not allow. Pages arrange their controls with layouts: the dialog gives every
// page the column's width and takes the height from the page's layout.
#pragma once

#include <QObject>
#include <QString>
#include <span>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QWidget;

namespace zn {

class PushRadioGroup : public QObject
{
    Q_OBJECT
public:
    explicit PushRadioGroup(QWidget *page);

    // A checkable push button with a control id, for the page's layout.
    QPushButton *Add(int id, const QString &text);
    // The same placed at (x, y) in pixels, for a page without a layout.
    QPushButton *Add(int id, const QString &text, int x, int y, int w = 36, int h = 22);
    void Select(int id); // checks that button, clears the others
    void Clear();
    int Selected() const; // the id of the checked button, 0 when none
    void SetEnabled(bool enable);
    const std::vector<QPushButton *> &Buttons() const { return m_buttons; }

signals:
    // A click by the user (or a test); the button is checked by then.
    void Clicked(int id);

private:
    QWidget *m_pPage;
    std::vector<QPushButton *> m_buttons;
};

// A group box holding one row of buttons (the row is its layout) and a check box, both with ids.
QGroupBox *MakeButtonRow(QWidget *page, int id, const QString &text,
                         const std::vector<QPushButton *> &buttons);
// The same with the buttons in rows of `columns`.
QGroupBox *MakeButtonGrid(QWidget *page, int id, const QString &text,
                          const std::vector<QPushButton *> &buttons, int columns);
QCheckBox *MakeCheckBox(QWidget *page, int id, const QString &text);
// Placed in pixels, for pages without a layout (the group box stays behind the buttons it frames).
QGroupBox *MakeGroupBox(QWidget *page, int id, const QString &text, int x, int y, int w, int h);
QCheckBox *MakeCheckBox(QWidget *page, int id, const QString &text, int x, int y, int w = 140, int h = 20);

// Reading a dialog's choices by control id (the buttons live on its pages): whether a button is
// checked (false when there is none), and the value of the first checked button of a table of
// choices, `none` when no button of it is checked.
bool IsChecked(const QWidget *dialog, int id);
struct IdValue
{
    int id;
    float value;
};
float CheckedValue(const QWidget *dialog, std::span<const IdValue> choices, float none = 0.0f);

} // namespace zn
