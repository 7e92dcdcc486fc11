// What a codec run showed, as one text: every line box joined by blanks, without the fixed header
// box that precedes each line, so a wrapped message can be searched as it was written.
#pragma once

#include "jpeg2000/local_services.h"
#include "platform/messages.h"

#include <string>

namespace j2ktest {

inline std::string ShownText(const zn::MessageRecorder &rec)
{
    std::string all;
    for (const std::string &t : rec.Texts()) {
        if (t == zn::j2k::kInternalErrorHeader)
            continue;
        if (!all.empty())
            all += ' ';
        all += t;
    }
    return all;
}

inline bool Showed(const zn::MessageRecorder &rec, const std::string &words)
{
    return ShownText(rec).find(words) != std::string::npos;
}

} // namespace j2ktest
