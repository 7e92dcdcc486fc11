// Reading the settings file. The tokeniser works in place: blanks, line ends, quotes and comment
// starts become terminators, and each item is remembered by its start. Items are then taken three at
// a time as name, "=", value.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "h264enc/settings_file.h"
#include "platform/format.h"
#include "platform/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace h264enc {

namespace {

[[noreturn]] void Fail300(const std::string &text)
{
    h264_fatal_error(text, 300);
}

// "%d" without its undefined overflow: optional blanks and sign, then digits; what follows is ignored.
bool ReadInt(const char *s, int *value)
{
    const char *p = s;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f')
        ++p;
    const char *digits = p;
    if (*digits == '+' || *digits == '-')
        ++digits;
    if (*digits < '0' || *digits > '9')
        return false;
    errno = 0;
    const long long v = std::strtoll(p, nullptr, 10);
    *value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    return true;
}

} // namespace

std::string GetConfigFileContent(const std::string &path)
{
    zn::FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        Fail300(
            zn::Format("Cannot open configuration file %s.\nRun H.264 encoder at least once.", path.c_str()));
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        Fail300(zn::Format("Cannot fseek in configuration file %s.\n", path.c_str()));
    const long size = std::ftell(f.get());
    if (size < 0)
        Fail300(zn::Format("Cannot fseek in configuration file %s.\n", path.c_str()));
    if (size > kMaxSettingsFileSize)
        Fail300(zn::Format("Unreasonable Filesize %ld reported by ftell for configuration file %s.\n", size,
                           path.c_str()));
    if (std::fseek(f.get(), 0, SEEK_SET) != 0)
        Fail300(zn::Format("Cannot fseek in configuration file %s.\n", path.c_str()));
    std::string text(static_cast<size_t>(size), '\0');
    const size_t got = size > 0 ? std::fread(text.data(), 1, static_cast<size_t>(size), f.get()) : 0;
    text.resize(got);
    return text;
}

void parse_settings_into(std::string text, EncoderParams &target)
{
    target = EncoderParams();
    // Terminated text, so every item is a C string ending at the next terminator.
    text.push_back('\0');
    char *buf = text.data();
    const int len = static_cast<int>(text.size()) - 1;
    std::vector<int> items;
    bool inItem = false, inString = false;
    for (int p = 0; p < len; ++p) {
        switch (buf[p]) {
        case ' ':
        case '\t':
            if (!inString) {
                buf[p] = '\0';
                inItem = false;
            }
            break;
        case '\n':
            buf[p] = '\0';
            inItem = false;
            inString = false;
            break;
        case '\r':
            break;
        case '"':
            buf[p] = '\0';
            if (!inString) {
                items.push_back(p + 1);
                inString = true;
                inItem = true;
            } else {
                inString = false;
                inItem = false;
            }
            break;
        case '#':
            // A comment runs to the line end, inside quotes too; the line end is handled as usual.
            buf[p] = '\0';
            while (p + 1 < len && buf[p + 1] != '\n')
                buf[++p] = '\0';
            break;
        default:
            if (!inItem) {
                items.push_back(p);
                inItem = true;
            }
            break;
        }
        if (static_cast<int>(items.size()) > kMaxSettingsItems)
            Fail300(zn::Format(" Parsing error in config file: more than %d items.", kMaxSettingsItems));
    }
    const int count = static_cast<int>(items.size());
    if (count < 2)
        return;
    const int triples = (count + 1) / 3;
    for (int t = 0; t < triples; ++t) {
        const char *name = buf + items[static_cast<size_t>(3 * t)];
        const int key = settings_key_index(name);
        if (key < 0)
            Fail300(zn::Format(" Parsing error in config file: Parameter Name '%s' not recognized.", name));
        const char *eq = buf + items[static_cast<size_t>(3 * t + 1)];
        if (std::string(eq) != "=")
            Fail300(" Parsing error in config file: '=' expected as the second token in each line.");
        if (3 * t + 2 >= count)
            Fail300(zn::Format(" Parsing error in config file: Parameter '%s' has no value.", name));
        const char *value = buf + items[static_cast<size_t>(3 * t + 2)];
        const SettingsKey &k = kSettingsKeys[static_cast<size_t>(key)];
        if (k.int_field) {
            int v = 0;
            if (!ReadInt(value, &v))
                Fail300(
                    zn::Format(" Parsing error: Expected numerical value for Parameter of %s, found '%s'.",
                               name, value));
            target.*k.int_field = v;
        } else {
            target.*k.string_field = value;
        }
    }
}

void parse_settings(EncoderRun &run, std::string text)
{
    EncoderParams parsed;
    parse_settings_into(std::move(text), parsed);
    run.input = parsed;
    check_settings(run);
}

void Configure(EncoderRun &run)
{
    zn::LogF(zn::LogLevel::Info, "Parsing Configfile %s", run.h264_settings_path.c_str());
    parse_settings(run, GetConfigFileContent(run.h264_settings_path));
    zn::Log(zn::LogLevel::Info, "\n");
}

void AdjustFrameCount(EncoderParams &input)
{
    const long long sub = input.NumberFramesInEnhancementLayerSubSequence;
    auto adjust = [&](int frames) {
        const long long v = (sub + 1) * (static_cast<long long>(frames) - 1) + 1;
        return static_cast<int>(v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : v);
    };
    input.FramesToBeEncoded = adjust(input.FramesToBeEncoded);
    if (input.NumberOfFrameInSecondIGOP != 0)
        input.NumberOfFrameInSecondIGOP = adjust(input.NumberOfFrameInSecondIGOP);
}

} // namespace h264enc
