// Typed errors for the few places where a coding run cannot go on.
// They end only the current run: the Apply, Open or Play that started it catches them.
#pragma once

#include <stdexcept>
#include <string>

namespace zn {

// Code of a RunAborted whose message the failing routine has shown already: the run boundary then
// shows nothing more.
constexpr int kMessageShown = 1;

class RunAborted : public std::runtime_error
{
public:
    RunAborted(const std::string &message, int code = 0) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

} // namespace zn
