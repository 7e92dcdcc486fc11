// The codec's runtime: memory owned by one run, messages shown as box pairs, and the error exit.
// Every JPEG2000 object gets its memory and speaks to the user only through these calls. An error
// never ends the program: it shows its boxes and then throws zn::RunAborted, which the run's
// boundary catches after the run's objects and memory have been released.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <set>
#include <string>
#include <unordered_set>

namespace zn::j2k {

// One coding run (an encoding or a decoding). While it lives, local_malloc blocks belong to it and
// are freed with it, whatever path the run took; a warning text is shown once per run and its
// repeats go to the log sink. Runs nest: the innermost one is current.
class J2kRun
{
public:
    J2kRun();
    ~J2kRun();
    J2kRun(const J2kRun &) = delete;
    J2kRun &operator=(const J2kRun &) = delete;

    static J2kRun *Current();
    size_t LiveBlocks() const { return m_blocks.size(); }

    // The memory services' bookkeeping.
    void Adopt(void *block) { m_blocks.insert(block); }
    void Release(void *block) { m_blocks.erase(block); }
    bool FirstShowing(const char *key) { return m_shown.insert(key).second; }

private:
    J2kRun *m_outer;
    std::unordered_set<void *> m_blocks;
    std::set<std::string> m_shown;
};

// A zero-filled block; the key names the owner and has no further effect. Failure shows
// "local_malloc - Failed to allocate memory" and aborts the run.
void *local_malloc(const char *key, size_t bytes);
// Resizes a local_malloc block; new bytes are zero. Failure aborts the run as local_malloc does.
void *local_realloc(void *block, size_t bytes);
void local_free(void *block);

// Formats, wraps at `width` characters and shows each line after the fixed header box.
void local_print_wrapped(int indent, int width, const char *format, va_list args);
void local_printf(int indent, int width, const char *format, ...) __attribute__((format(printf, 3, 4)));
[[noreturn]] void local_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void local_exit(int code);

// True the first time a message keyed by this text is shown in the current run (always outside a run).
bool FirstShowingInRun(const char *key);

// local_printf without the once-per-run rule, for messages that end the run anyway.
void ShowCodecLines(int width, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The header box shown before every line of a codec message.
extern const char *const kInternalErrorHeader;

// The words local_print_wrapped would show, one per line, without showing them (the wrapping alone).
std::string WrapCodecText(int width, const char *format, va_list args);

} // namespace zn::j2k
