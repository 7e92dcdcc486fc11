// The codec's runtime services: per-run memory, the box-pair messages with their own formatting and
// line breaking, and the error exit that ends the run instead of the program.
#include "jpeg2000/local_services.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace zn::j2k {

const char *const kInternalErrorHeader =
    "(Jpeg2000) An internal error has occured. Message will follow. Please "
    "inform Zantho authors with details of this error";

namespace {
thread_local J2kRun *g_current = nullptr;

[[noreturn]] void AllocationFailed()
{
    ShowMessage("local_malloc - Failed to allocate memory");
    throw RunAborted("local_malloc - Failed to allocate memory", kMessageShown);
}

// Every block carries its size in front of it, so a resize knows how many new bytes to clear.
constexpr size_t kPrefix = 16;

size_t &SizeOf(void *block)
{
    return *reinterpret_cast<size_t *>(static_cast<char *>(block) - kPrefix);
}

// Breaks a formatted message into lines. The text is a stream of characters: conversions are
// expanded in place, words end at blanks or when they reach the width, and lines take words while
// they fit.
class Wrapper
{
public:
    Wrapper(int width, std::function<void(const std::string &)> show)
        : m_width(width < 1 ? 1 : width), m_show(std::move(show))
    {}

    void Run(const char *format, va_list args)
    {
        for (const char *p = format; *p;) {
            if (p[0] == '%' && p[1] == '%') {
                Put('%');
                p += 2;
                continue;
            }
            if (*p != '%') {
                Put(*p++);
                continue;
            }
            const char *end = std::strpbrk(p + 1, "sdioxXucfeEgGp");
            if (!end) { // no conversion letter anywhere after it: the percent sign is dropped
                ++p;
                continue;
            }
            Convert(std::string(p, end + 1), args);
            p = end + 1;
        }
        EndWord();
        EndLine();
    }

private:
    void Convert(const std::string &conversion, va_list args)
    {
        char letter = conversion.back();
        if (letter == 's') {
            const char *s = va_arg(args, const char *);
            for (s = s ? s : "(null)"; *s; ++s)
                Put(*s);
            return;
        }
        // Only flags, width and precision reach the C library: the argument is fetched here with its
        // one fixed type, so no length modifier or '*' may ask for another.
        std::string text = "%";
        for (char c : conversion.substr(1, conversion.size() - 2))
            if (std::strchr("-+ #0123456789.", c) && text.size() < 22)
                text += c;
        text += letter;
        char out[84];
        if (std::strchr("eEfgG", letter))
            std::snprintf(out, sizeof out, text.c_str(), va_arg(args, double));
        else if (letter == 'p')
            std::snprintf(out, sizeof out, text.c_str(), va_arg(args, void *));
        else
            std::snprintf(out, sizeof out, text.c_str(), va_arg(args, int));
        for (const char *s = out; *s; ++s)
            Put(*s);
    }

    void Put(char c)
    {
        if (m_skipBlanks && (c == ' ' || c == '\t'))
            return;
        if (m_skipBlanks && c == '\n' && !m_newlineTaken) {
            m_newlineTaken = true;
            EndLine();
            return;
        }
        m_skipBlanks = false;
        m_newlineTaken = false;
        if (c == ' ' || c == '\t' || c == '\n') {
            EndWord();
            m_skipBlanks = true;
            if (c == '\n') {
                m_newlineTaken = true;
                EndLine();
            }
            return;
        }
        m_word += c;
        if (static_cast<int>(m_word.size()) >= m_width)
            EndWord();
    }

    void EndWord()
    {
        if (m_word.empty())
            return;
        if (!m_line.empty() && static_cast<int>(m_line.size() + 1 + m_word.size()) > m_width) {
            m_show(m_line);
            m_line.clear();
        }
        if (!m_line.empty())
            m_line += ' ';
        m_line += m_word;
        m_word.clear();
    }

    void EndLine()
    {
        m_show(m_line);
        m_line.clear();
    }

    int m_width;
    std::function<void(const std::string &)> m_show;
    std::string m_word, m_line;
    bool m_skipBlanks = false;
    bool m_newlineTaken = false;
};

void ShowLines(int width, const char *format, va_list args)
{
    Wrapper(width, [](const std::string &line) {
        ShowMessage(kInternalErrorHeader);
        ShowMessage(line);
    }).Run(format, args);
}
} // namespace

bool FirstShowingInRun(const char *key)
{
    if (!g_current)
        return true;
    return g_current->FirstShowing(key);
}

J2kRun::J2kRun() : m_outer(g_current)
{
    g_current = this;
}

J2kRun::~J2kRun()
{
    for (void *block : m_blocks)
        std::free(static_cast<char *>(block) - kPrefix);
    g_current = m_outer;
}

J2kRun *J2kRun::Current()
{
    return g_current;
}

namespace {
void Track(void *block)
{
    if (!g_current)
        return;
    try {
        g_current->Adopt(block);
    } catch (const std::bad_alloc &) {
        std::free(static_cast<char *>(block) - kPrefix);
        AllocationFailed();
    }
}
} // namespace

void *local_malloc(const char *, size_t bytes)
{
    if (bytes > SIZE_MAX - kPrefix)
        AllocationFailed();
    char *raw = static_cast<char *>(std::calloc(kPrefix + bytes, 1));
    if (!raw)
        AllocationFailed();
    void *block = raw + kPrefix;
    SizeOf(block) = bytes;
    Track(block);
    return block;
}

void *local_realloc(void *block, size_t bytes)
{
    if (!block)
        return local_malloc("", bytes);
    if (bytes > SIZE_MAX - kPrefix)
        AllocationFailed();
    size_t old = SizeOf(block);
    char *raw = static_cast<char *>(std::realloc(static_cast<char *>(block) - kPrefix, kPrefix + bytes));
    if (!raw)
        AllocationFailed(); // the old block stays valid and stays with its run
    if (g_current)
        g_current->Release(block);
    void *moved = raw + kPrefix;
    if (bytes > old)
        std::memset(static_cast<char *>(moved) + old, 0, bytes - old);
    SizeOf(moved) = bytes;
    Track(moved);
    return moved;
}

void local_free(void *block)
{
    if (!block)
        return;
    if (g_current)
        g_current->Release(block);
    std::free(static_cast<char *>(block) - kPrefix);
}

void local_print_wrapped(int, int width, const char *format, va_list args)
{
    ShowLines(width, format, args);
}

void ShowCodecLines(int width, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    ShowLines(width, format, args);
    va_end(args);
}

void local_printf(int indent, int width, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (FirstShowingInRun(format)) {
        local_print_wrapped(indent, width, format, args);
    } else {
        // A repeat in the same run goes to the log, so a damaged stream cannot raise a box storm.
        Log(LogLevel::Info, "[jpeg2000] " + WrapCodecText(1 << 20, format, args));
    }
    va_end(args);
}

void local_exit(int code)
{
    throw RunAborted(Format("The JPEG2000 codec stopped the run (code %d)", code), kMessageShown);
}

void local_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    std::string text = WrapCodecText(1 << 20, format, copy);
    va_end(copy);
    ShowCodecLines(76, "ERROR");
    local_print_wrapped(6, 70, format, args);
    va_end(args);
    throw RunAborted(text, kMessageShown);
}

std::string WrapCodecText(int width, const char *format, va_list args)
{
    std::string text;
    Wrapper(width, [&text](const std::string &line) {
        if (!text.empty())
            text += '\n';
        text += line;
    }).Run(format, args);
    return text;
}

} // namespace zn::j2k
