// The argument object: each codec object reads its own options from the argument vector through it.
// Options may be given for the whole image or, with a "+<tnum>" suffix, for one tile; the object
// remembers which arguments somebody asked for so that nothing the user typed is silently ignored.
#pragma once

#include "jpeg2000/codec_object.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zn::j2k {

class command_line
{
public:
    // Builds the argument records. The records point into argv, which must outlive this object.
    void parse(int argc, const char *const *argv);
    // Parameter count of the chosen instance of the option, or -1; *params gets its first word.
    int find(const char *name, int tile, const char *const **params = nullptr);
    // The tile-specific instance with the smallest tile index not below `lowest_tile`, or -1.
    int find_next_tile(const char *name, int lowest_tile, int *tile = nullptr,
                       const char *const **params = nullptr);
    int tile_has_arguments(int tile) const;
    // With `report` set, unused arguments are listed and the run ends.
    void terminate(int report);

private:
    struct argument
    {
        const char *name = nullptr;
        int name_length = 0;
        int32_t tile = -1;
        bool used = false;
        int num_params = 0;
        const char *const *params = nullptr;
    };
    bool Matches(const argument &arg, const char *name) const;

    const char *m_program = nullptr;
    std::vector<argument> m_args; // oldest first: the list's head is the back
};

std::unique_ptr<command_line> create_command_line();

} // namespace zn::j2k
