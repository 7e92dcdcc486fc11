// Message boxes for engines and dialogs alike.
// Engines never touch a GUI toolkit: they ask this layer, and whoever runs them (the program, a test,
// a fuzz target) decides how the question is shown and answered.
#pragma once

#include "platform/format.h" // zn::Format, for the many "%s"/"%d" messages of the engines

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zn {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageRequest
{
    std::string text;
    std::string caption;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

using MessageHandler = std::function<MsgAnswer(const MessageRequest &)>;

// Shows a message and returns the user's answer. Without an installed handler the message goes to the
// log sink and the answer is the first button (Ok or Yes).
MsgAnswer ShowMessage(const std::string &text, MsgButtons buttons = MsgButtons::Ok,
                      MsgIcon icon = MsgIcon::None, const std::string &caption = "Zantho");

// Installs a handler and returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

// Records every message and answers from a script (tests). Installs itself for its lifetime.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    // Answers given in order; when the script runs out, the first button is the answer.
    void Script(std::initializer_list<MsgAnswer> answers);
    void Answer(MsgAnswer answer) { m_script.push_back(answer); }

    const std::vector<MessageRequest> &Messages() const { return m_messages; }
    std::vector<std::string> Texts() const;
    bool Contains(const std::string &text) const;
    size_t Count() const { return m_messages.size(); }
    void Clear() { m_messages.clear(); }

private:
    MsgAnswer Handle(const MessageRequest &request);

    std::vector<MessageRequest> m_messages;
    std::deque<MsgAnswer> m_script;
    MessageHandler m_previous;
};

} // namespace zn
