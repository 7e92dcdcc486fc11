// The message box dispatcher and the test recorder.
#include "platform/messages.h"

#include "platform/log.h"

namespace zn {

namespace {
MessageHandler &CurrentHandler()
{
    static MessageHandler handler;
    return handler;
}

MsgAnswer FirstButton(MsgButtons buttons)
{
    return (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel) ? MsgAnswer::Yes
                                                                                : MsgAnswer::Ok;
}
} // namespace

MsgAnswer ShowMessage(const std::string &text, MsgButtons buttons, MsgIcon icon, const std::string &caption)
{
    MessageRequest request{text, caption, buttons, icon};
    if (auto &handler = CurrentHandler())
        return handler(request);
    Log(LogLevel::Error, "[message] " + text);
    return FirstButton(buttons);
}

MessageHandler SetMessageHandler(MessageHandler handler)
{
    MessageHandler previous = std::move(CurrentHandler());
    CurrentHandler() = std::move(handler);
    return previous;
}

MessageRecorder::MessageRecorder()
{
    m_previous = SetMessageHandler([this](const MessageRequest &r) { return Handle(r); });
}

MessageRecorder::~MessageRecorder() { SetMessageHandler(std::move(m_previous)); }

void MessageRecorder::Script(std::initializer_list<MsgAnswer> answers)
{
    for (MsgAnswer a : answers)
        m_script.push_back(a);
}

std::vector<std::string> MessageRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const auto &m : m_messages)
        texts.push_back(m.text);
    return texts;
}

bool MessageRecorder::Contains(const std::string &text) const
{
    for (const auto &m : m_messages)
        if (m.text == text)
            return true;
    return false;
}

MsgAnswer MessageRecorder::Handle(const MessageRequest &request)
{
    m_messages.push_back(request);
    if (!m_script.empty()) {
        MsgAnswer a = m_script.front();
        m_script.pop_front();
        return a;
    }
    return FirstButton(request.buttons);
}

} // namespace zn
