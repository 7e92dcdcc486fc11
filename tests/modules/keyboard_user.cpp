// The keyboard user of the frame-loop tests.
#include "modules/keyboard_user.h"

#include "platform/keypoll.h"
#include "platform/qt/gui_platform.h"

#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>

namespace zntest {

KeyboardUser::KeyboardUser()
{
    zn::InstallGuiKeyPoll();
    m_previous = zn::SetMessageHandler([this](const zn::MessageRequest &r) { return Answer(r); });
    m_field.show();
}

KeyboardUser::~KeyboardUser()
{
    zn::SetMessageHandler(m_previous);
    zn::SetKeyPoller(nullptr);
    zn::SetKeyForgetter(nullptr);
}

void KeyboardUser::TypeFileName(const QString &text)
{
    m_field.clear();
    QTest::keyClicks(&m_field, text);
    QTest::keyClick(&m_field, Qt::Key_Return);
}

void KeyboardUser::PressKeyDuringRun()
{
    // A zero timer fires at the loop's first look at the event queue, so the key goes down mid-run.
    QTimer::singleShot(0, &m_field, [this] { QTest::keyClick(&m_field, Qt::Key_Space); });
}

size_t KeyboardUser::Count(const std::string &text) const
{
    return static_cast<size_t>(std::count(m_texts.begin(), m_texts.end(), text));
}

zn::MsgAnswer KeyboardUser::Answer(const zn::MessageRequest &request)
{
    m_texts.push_back(request.text);
    // Enter on the box's default button: the key goes down while the box is up, between two frames.
    QTest::keyClick(&m_field, Qt::Key_Return);
    if (m_answers.empty())
        return request.buttons == zn::MsgButtons::YesNo || request.buttons == zn::MsgButtons::YesNoCancel
                   ? zn::MsgAnswer::Yes
                   : zn::MsgAnswer::Ok;
    const zn::MsgAnswer a = m_answers.front();
    m_answers.erase(m_answers.begin());
    return a;
}

void ExpectKeyQuestionOnlyForKeysOfTheRun(const std::string &question,
                                          const std::function<void(KeyboardUser &)> &prepare,
                                          const std::function<void()> &apply)
{
    KeyboardUser user;
    user.TypeFileName(QStringLiteral("clip_out.yuv"));
    if (prepare)
        prepare(user);
    apply();
    EXPECT_EQ(user.Count(question), 0u) << "keys typed before Apply asked to stop the run";

    user.Clear();
    user.PressKeyDuringRun();
    apply();
    EXPECT_EQ(user.Count(question), 1u)
        << "a key pressed during the run asks once; the Enter that answered it is no second press";
}

} // namespace zntest
