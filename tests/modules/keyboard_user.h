// A user at the keyboard during a frame loop, with the program's own key watch in place of a scripted
// poller: file names typed into a field and ended with Enter, a key pressed while the frames run, and
// every question box answered with a key press before its answer is taken.
#pragma once

#include "platform/messages.h"

#include <QLineEdit>
#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zntest {

class KeyboardUser
{
public:
    KeyboardUser();
    ~KeyboardUser();
    KeyboardUser(const KeyboardUser &) = delete;
    KeyboardUser &operator=(const KeyboardUser &) = delete;

    // Types text into a field and presses Enter, as a file name is typed into a file dialog.
    void TypeFileName(const QString &text);
    // A key goes down once the running loop next looks at the keyboard (the space bar, say).
    void PressKeyDuringRun();
    // Answers given in order to the question boxes; then the first button.
    void Answers(std::initializer_list<zn::MsgAnswer> answers) { m_answers.assign(answers); }

    const std::vector<std::string> &Texts() const { return m_texts; }
    size_t Count(const std::string &text) const;
    void Clear() { m_texts.clear(); }

private:
    zn::MsgAnswer Answer(const zn::MessageRequest &request);

    QLineEdit m_field;
    std::vector<std::string> m_texts;
    std::vector<zn::MsgAnswer> m_answers;
    zn::MessageHandler m_previous;
};

// The key question of a frame loop: keys typed into a field before the run never ask it; a key pressed
// while the frames run asks it once, and the Enter that answers Yes is not taken for another press.
// prepare (may be empty) sets the dialog up as a user would, typing what it needs; apply starts a run
// of at least three frames.
void ExpectKeyQuestionOnlyForKeysOfTheRun(const std::string &question,
                                          const std::function<void(KeyboardUser &)> &prepare,
                                          const std::function<void()> &apply);

} // namespace zntest
