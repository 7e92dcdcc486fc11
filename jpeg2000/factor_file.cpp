// Reader of the band factor files used by "-Fsteps", "-Fweights" and the progressive visual weights.
#include "jpeg2000/factor_file.h"

#include "jpeg2000/local_services.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zn::j2k {

namespace {

struct FileCloser
{
    FILE *f = nullptr;
    ~FileCloser()
    {
        if (f)
            std::fclose(f);
    }
};

bool IsBlankOrComment(const char *line)
{
    while (*line == ' ' || *line == '\t' || *line == '\r' || *line == '\n')
        ++line;
    return *line == '\0' || *line == '#';
}

const char *SkipBlanks(const char *p)
{
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    return p;
}

[[noreturn]] void BadHeader(const char *path)
{
    local_error(
        "Badly formed segment header line in file, \"%s\"!  Must contain a range of component indices "
        "(all >= 1), enclosed in parentheses!",
        path);
}

[[noreturn]] void BadLine(const char *path)
{
    local_error("Malformed level block encountered within quantization factor file, \"%s\"!  Need 1, 4 or 16 "
                "lines of factors, with four factors on each line!",
                path);
}

[[noreturn]] void BadBlock(const char *path)
{
    local_error("Malformed level block encountered within quantization factor file, \"%s\"!  Need 1, 4 or 16 "
                "lines of factors, with three factors on the first line and four on every other line, each "
                "block ending with a blank line, a comment line or the end of the file!",
                path);
}

bool ReadInt(const char *&p, long *value)
{
    p = SkipBlanks(p);
    char *end = nullptr;
    *value = std::strtol(p, &end, 10);
    if (end == p)
        return false;
    p = end;
    return true;
}

// "(first, last)": the component range of a segment; nothing but a comment may follow.
factor_segment ParseHeader(const char *line, const char *path, int num_components)
{
    const char *p = std::strchr(line, '(') + 1;
    long first = 0, last = 0;
    if (!ReadInt(p, &first))
        BadHeader(path);
    p = SkipBlanks(p);
    if (*p == ',' || *p == '-')
        ++p;
    if (!ReadInt(p, &last))
        BadHeader(path);
    p = SkipBlanks(p);
    if (*p != ')' || first < 1 || last < first)
        BadHeader(path);
    p = SkipBlanks(p + 1);
    if (std::isdigit(static_cast<unsigned char>(*p)) ||
        ((*p == '-' || *p == '+' || *p == '.') && p[1] && std::isdigit(static_cast<unsigned char>(p[1]))))
        local_error("The syntax and interpretation of quantization factor files used by `-Fweights', "
                    "`-Fsteps' and other band-specific weighting arguments has changed!  A segment header "
                    "line now holds only the range of component indices in parentheses; no number may "
                    "follow the closing parenthesis (file \"%s\").",
                    path);
    if (*p != '\0' && *p != '#')
        BadHeader(path);
    factor_segment s;
    s.first_component = int(first - 1);
    s.last_component = int(std::min<long>(last, num_components) - 1);
    return s;
}

void ParseFactors(const char *line, const char *path, float *out)
{
    const char *p = line;
    for (int i = 0; i < 4; ++i) {
        p = SkipBlanks(p);
        char *end = nullptr;
        double v = std::strtod(p, &end);
        if (end == p)
            BadLine(path);
        out[i] = float(v);
        p = end;
    }
    if (*SkipBlanks(p) != '\0')
        BadLine(path);
}

} // namespace

quant_factor_file read_quant_factor_file(const char *path, int num_components)
{
    FileCloser file;
    file.f = std::fopen(path, "r");
    if (!file.f)
        local_error("Unable to open the supplied file, \"%s\"!", path);
    quant_factor_file result;
    std::array<float, 64> table{};
    int block_lines = 0; // lines of the block being read, 0 outside a block
    // Closes the block being read; `clean_end` tells whether a blank line, a comment or the end of the
    // file closed it (a 16-line block must end that way).
    auto close_block = [&](bool clean_end) {
        if (block_lines == 0)
            return;
        if ((block_lines != 1 && block_lines != 4 && block_lines != 16) || (block_lines == 16 && !clean_end))
            BadBlock(path);
        result.segments.back().blocks.push_back(table);
        block_lines = 0;
    };
    char line[256];
    while (std::fgets(line, sizeof line, file.f)) {
        if (IsBlankOrComment(line)) {
            close_block(true);
            continue;
        }
        if (std::strchr(line, '(')) {
            close_block(false);
            result.segments.push_back(ParseHeader(line, path, num_components));
            continue;
        }
        if (result.segments.empty())
            BadHeader(path);
        if (block_lines == 0)
            table.fill(1.0f);
        if (block_lines >= 16)
            BadBlock(path);
        ParseFactors(line, path, table.data() + 4 * block_lines);
        ++block_lines;
    }
    close_block(true);
    return result;
}

double segment_band_factor(const factor_segment &segment, int levels, int level, int band)
{
    if (segment.blocks.empty())
        return 1.0;
    int block = std::min<int>(levels - level, int(segment.blocks.size()) - 1);
    if (block < 0)
        return 1.0;
    const std::array<float, 64> &table = segment.blocks[size_t(block)];
    if (band == 0)
        return table[0];
    int digits = 0;
    while ((band >> (2 * digits)) != 0)
        ++digits;
    double factor = 1.0;
    int t = 0;
    for (int k = digits - 1; k >= 0; --k) {
        t += (band >> (2 * k)) & 3;
        if (t >= 64)
            return factor; // deeper than any table reaches
        factor *= table[size_t(t)];
        t *= 4;
    }
    return factor;
}

} // namespace zn::j2k
