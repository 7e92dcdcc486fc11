// Parsing and lookup of codec options. Later arguments win over earlier ones of the same name, and a
// tile's own instance wins over the image-wide one.
#include "jpeg2000/command_line.h"

#include "jpeg2000/local_services.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zn::j2k {

namespace {
bool IsOptionWord(const char *word)
{
    return word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// The tile index of a "+<tnum>" suffix, read as "%d" reads it (leading blanks and sign accepted,
// trailing characters ignored); -1 when it is not a number of 0 or more.
long TileSuffix(const char *suffix)
{
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(suffix, &end, 10);
    if (end == suffix || errno == ERANGE || value < 0 || value > INT32_MAX)
        return -1; // a value beyond 32 bits is as malformed as a negative one
    return value;
}
} // namespace

std::unique_ptr<command_line> create_command_line()
{
    return std::make_unique<command_line>();
}

void command_line::parse(int argc, const char *const *argv)
{
    if (argc < 1 || !argv)
        return;
    m_program = argv[0];
    int i = 1;
    while (i < argc) {
        const char *word = argv[i];
        if (!IsOptionWord(word))
            local_error(
                "Illegal command-line argument \"%s\"!  Arguments must commence with the `-' character, "
                "followed by an alphabetical character!",
                word);
        argument arg;
        arg.name = word;
        arg.name_length = static_cast<int>(std::strlen(word));
        if (const char *plus = std::strchr(word, '+')) {
            arg.name_length = static_cast<int>(plus - word);
            const char *suffix = plus + 1;
            if (std::strlen(suffix) >= 24)
                local_error("Argument has an invalid or excessively long numeric tile-index suffix, \"%s\"!",
                            word);
            long tile = *suffix ? TileSuffix(suffix) : -1;
            if (tile < 0)
                local_error("Malformed tile-specifier, \"+<tnum>\", encountered while parsing command-line "
                            "argument, \"%s\"!",
                            word);
            arg.tile = static_cast<int32_t>(tile);
        }
        ++i;
        arg.params = argv + i;
        while (i < argc && !IsOptionWord(argv[i])) {
            ++arg.num_params;
            ++i;
        }
        m_args.push_back(arg);
    }
}

bool command_line::Matches(const argument &arg, const char *name) const
{
    size_t length = std::strlen(name);
    return static_cast<size_t>(arg.name_length) == length && std::strncmp(arg.name, name, length) == 0;
}

int command_line::find(const char *name, int tile, const char *const **params)
{
    argument *chosen = nullptr;
    if (tile < 0) {
        for (auto it = m_args.rbegin(); it != m_args.rend(); ++it)
            if (it->tile < 0 && Matches(*it, name)) {
                chosen = &*it;
                break;
            }
        if (chosen)
            chosen->used = true;
    } else {
        // Searching from the head, the one found last is the first given.
        argument *global = nullptr, *own = nullptr;
        for (auto it = m_args.rbegin(); it != m_args.rend(); ++it) {
            if (!Matches(*it, name))
                continue;
            if (it->tile < 0)
                global = &*it;
            else if (it->tile == tile)
                own = &*it;
        }
        if (global)
            global->used = true;
        if (own)
            own->used = true;
        chosen = own ? own : global;
    }
    if (!chosen)
        return -1;
    if (params)
        *params = chosen->params;
    return chosen->num_params;
}

int command_line::find_next_tile(const char *name, int lowest_tile, int *tile, const char *const **params)
{
    argument *best = nullptr;
    for (auto it = m_args.rbegin(); it != m_args.rend(); ++it)
        if (Matches(*it, name) && it->tile >= lowest_tile && (!best || it->tile < best->tile))
            best = &*it;
    if (!best)
        return -1;
    best->used = true;
    if (tile)
        *tile = best->tile;
    if (params)
        *params = best->params;
    return best->num_params;
}

int command_line::tile_has_arguments(int tile) const
{
    for (const argument &arg : m_args)
        if (arg.tile == tile)
            return 1;
    return 0;
}

void command_line::terminate(int report)
{
    bool unused = false;
    for (const argument &arg : m_args)
        unused = unused || !arg.used;
    if (report && unused) {
        // The report is the run's end, so every unrecognised word is shown, not just the first.
        ShowCodecLines(70, "Error encountered while parsing command line arguments!  The following arguments "
                           "and any associated parameters were not recognized:\n");
        for (auto it = m_args.rbegin(); it != m_args.rend(); ++it)
            if (!it->used)
                ShowCodecLines(70, "\"%s\"\n", it->name);
        m_args.clear();
        local_exit(-1);
    }
    m_args.clear();
}

} // namespace zn::j2k
