// Comment-skipping token readers of the table files.
// A comment starts at a word that contains "/*" and ends with the next word that contains "*/", so
// "/*" and "*/" must sit in different words: a lone "/**/" keeps the comment open. Numbers are parsed
// in the C locale whatever the program's locale is, with the prefix rule of scanf: "4.9" read as an
// integer gives 4 and leaves ".9".
#include "image/tables.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kMaxWord = 99;
constexpr long long kMaxTableBytes = 64LL << 20; // far above any real table; stops runaway reads

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips white space; false at the end of the text.
bool SkipSpace(const std::string &t, size_t &pos)
{
    while (pos < t.size() && IsSpace(t[pos]))
        ++pos;
    return pos < t.size();
}

// Reads a word as "%99s" does.
bool NextWord(const std::string &t, size_t &pos, std::string *word)
{
    if (!SkipSpace(t, pos))
        return false;
    size_t start = pos;
    while (pos < t.size() && !IsSpace(t[pos]) && pos - start < kMaxWord)
        ++pos;
    word->assign(t, start, pos - start);
    return true;
}

bool OpensComment(const std::string &w)
{
    return w.find("/*") != std::string::npos;
}
bool ClosesComment(const std::string &w)
{
    return w.find("*/") != std::string::npos;
}

// Skips the words of a comment whose opening word has been read.
void SkipCommentRest(const std::string &t, size_t &pos)
{
    std::string w;
    while (NextWord(t, pos, &w))
        if (ClosesComment(w))
            return;
}

// One attempt at a number at pos: 1 with pos past it, 0 (pos unchanged but for white space), or EOF.
template <typename T> int ParseNumber(const std::string &t, size_t &pos, T *value)
{
    if (!SkipSpace(t, pos))
        return TABLE_EOF;
    const char *first = t.data() + pos;
    const char *last = t.data() + t.size();
    // from_chars knows no leading '+'; scanf does.
    const char *p = first;
    if (*p == '+' && p + 1 < last && *(p + 1) != '-' && *(p + 1) != '+')
        ++p;
    T v{};
    auto [end, ec] = std::from_chars(p, last, v);
    if (ec != std::errc())
        return 0; // not a number, or out of range: treated as unreadable
    *value = v;
    pos += static_cast<size_t>(end - first);
    return 1;
}

template <typename T> int ReadValue(TableText &file, T *value)
{
    const std::string &t = file.Text();
    for (;;) {
        size_t pos = file.Pos();
        int r = ParseNumber(t, pos, value);
        if (r == 1 || r == TABLE_EOF) {
            file.Seek(pos);
            return r;
        }
        size_t mark = pos;
        std::string w;
        if (!NextWord(t, pos, &w) || !OpensComment(w)) {
            file.Seek(mark);
            return 0;
        }
        SkipCommentRest(t, pos);
        file.Seek(pos);
    }
}

} // namespace

bool TableText::Open(const std::string &path)
{
    m_text.clear();
    m_pos = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (static_cast<long long>(m_text.size() + n) > kMaxTableBytes)
            return false;
        m_text.append(buf, n);
    }
    return !std::ferror(f.get());
}

void TableText::SetText(std::string text)
{
    m_text = std::move(text);
    m_pos = 0;
}

int ReadInt(TableText &file, int *value)
{
    return ReadValue(file, value);
}

int ReadFloat(TableText &file, float *value)
{
    return ReadValue(file, value);
}

int ReadWord(TableText &file, std::string *word)
{
    const std::string &t = file.Text();
    size_t pos = file.Pos();
    for (;;) {
        if (!NextWord(t, pos, word)) {
            file.Seek(pos);
            return TABLE_EOF;
        }
        if (!OpensComment(*word))
            break;
        SkipCommentRest(t, pos);
    }
    file.Seek(pos);
    return 1;
}
