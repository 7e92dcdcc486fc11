// The GUI key poll of frame loops: a key press that arrives while the loop looks stops the loop, a key
// typed into a window before (a file name, the answer to a question box) does not, and clicks that
// arrive during a poll are dropped so that they cannot act on windows the loop is still using.
#include "platform/keypoll.h"
#include "platform/qt/gui_platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

namespace key_poll_test { // one namespace per test file: a folder compiles as one source

namespace {

void PostClick(QWidget *w)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            w, new QMouseEvent(type, at, w->mapToGlobal(at), Qt::LeftButton,
                               type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                               Qt::NoModifier));
}

TEST(GuiKeyPoll, KeysStopLoopsAndClicksDuringAPollAreDropped)
{
    zn::InstallGuiPlatform();
    QPushButton button("Apply");
    button.resize(80, 24);
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, &button, [&clicks] { ++clicks; });

    zn::ForgetKeyPresses();
    EXPECT_FALSE(zn::TakeKeyPress());

    // Typed and delivered between two polls: the window had it, the loop does not.
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent key(type, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(&button, &key);
    }
    EXPECT_FALSE(zn::TakeKeyPress()) << "a key typed before the poll was taken for a stop";

    PostClick(&button);
    EXPECT_FALSE(zn::TakeKeyPress());
    EXPECT_EQ(clicks, 0) << "a click delivered inside the loop's poll reached the button";

    QCoreApplication::postEvent(&button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
    EXPECT_TRUE(zn::TakeKeyPress());
    EXPECT_FALSE(zn::TakeKeyPress()) << "the press is taken once";
    EXPECT_EQ(clicks, 0) << "the stopping key also went to the focused button";

    // Outside the loop the same click works as usual.
    PostClick(&button);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 1);
}

} // namespace

} // namespace key_poll_test
