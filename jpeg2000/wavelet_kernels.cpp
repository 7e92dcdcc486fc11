#include "jpeg2000/wavelet_kernels.h"

#include "jpeg2000/local_services.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zn::j2k {

namespace {

constexpr double kW9X7Steps[4] = {-1.586134342, -0.05298011854, 0.8829110762, 0.443506852};
constexpr double kW5X3Steps[2] = {-0.5, 0.25};
constexpr int kW5X3Shifts[2] = {1, 2};

// Even steps lift odd samples from their even neighbours, odd steps the reverse, so the centre of
// an even-tap step sits on opposite sides for the two kinds.
void SetStepSupports(tap_set &step, int index, int taps)
{
    if (index % 2 == 0) {
        step.neg_support = (taps - 1) >> 1;
        step.pos_support = taps >> 1;
    } else {
        step.neg_support = taps >> 1;
        step.pos_support = (taps - 1) >> 1;
    }
}

// `listed` holds the taps as tables and files list them; storage is the reverse.
void SetFloatStep(tap_set &step, int index, const std::vector<double> &listed)
{
    int n = int(listed.size());
    SetStepSupports(step, index, n);
    step.taps.assign(size_t(n), 0.0f);
    step.int_taps.clear();
    step.downshift = 0;
    for (int k = 0; k < n; ++k)
        step.taps[size_t(k)] = float(listed[size_t(n - 1 - k)]);
}

void SetIntStep(tap_set &step, int index, const std::vector<int> &listed, int shift)
{
    int n = int(listed.size());
    SetStepSupports(step, index, n);
    step.taps.assign(size_t(n), 0.0f);
    step.int_taps.assign(size_t(n), 0);
    step.downshift = shift;
    for (int k = 0; k < n; ++k) {
        step.int_taps[size_t(k)] = listed[size_t(n - 1 - k)];
        step.taps[size_t(k)] = float(std::ldexp(double(step.int_taps[size_t(k)]), -shift));
    }
}

int QuantiseTap(double v, int shift)
{
    return int(std::floor(std::ldexp(v, shift) + 0.5));
}

void ResetKernel(wavelet_kernel &kernel)
{
    int type = kernel.type;
    kernel = wavelet_kernel{};
    kernel.type = type;
}

void LoadBuiltIn(const char *name, wavelet_kernel &kernel)
{
    bool w97 = std::strcmp(name, "W9X7") == 0;
    if (kernel.type == kKernelIntLifting) {
        if (w97)
            local_error(
                "No built-in reversible lifting steps available for W9X7 kernel at the present time!  You "
                "will need to resort to a user-defined kernel file.");
        kernel.num_steps = 2;
        for (int i = 0; i < 2; ++i) {
            int t = QuantiseTap(kW5X3Steps[i], kW5X3Shifts[i]);
            SetIntStep(kernel.steps[i], i, {t, t}, kW5X3Shifts[i]);
        }
        return;
    }
    const double *v = w97 ? kW9X7Steps : kW5X3Steps;
    kernel.num_steps = w97 ? 4 : 2;
    for (int i = 0; i < kernel.num_steps; ++i)
        SetFloatStep(kernel.steps[i], i, {v[i], v[i]});
}

struct LineFile
{
    FILE *f = nullptr;
    ~LineFile()
    {
        if (f)
            std::fclose(f);
    }
    bool Next(char *line) { return std::fgets(line, 256, f) != nullptr; }
};

// The first line: the tap count of every step, trailing zero counts dropped.
std::vector<int> ReadStepCounts(LineFile &file, const std::string &path)
{
    char line[256];
    int c[9];
    int n = file.Next(line) ? std::sscanf(line, "%d %d %d %d %d %d %d %d %d", c, c + 1, c + 2, c + 3, c + 4,
                                          c + 5, c + 6, c + 7, c + 8)
                            : 0;
    if (n < 1 || n > kMaxLiftingSteps)
        local_error(
            "Unable to parse the user-defined lifting steps from file, \"%s\"!  The first line of the "
            "file must define the supports of 1 to %d lifting steps.",
            path.c_str(), kMaxLiftingSteps);
    while (n > 1 && c[n - 1] == 0)
        --n;
    if (n == 1 && c[0] == 0)
        local_error(
            "Unable to parse the user-defined lifting steps from file, \"%s\"!  The first line of the "
            "file must define the supports of 1 to 8 lifting steps.",
            path.c_str());
    std::vector<int> counts(c, c + n);
    for (int k : counts)
        if (k > kMaxLiftingTaps || k < 0)
            local_error("Unable to represent lifting kernels with more than 7 taps per liftint step!");
    return counts;
}

[[noreturn]] void MissingTap(const std::string &path, int step, int steps)
{
    local_error("Syntax error in user-defined lifting filter file, \"%s\"!  Insufficient tap values "
                "supplied for lifting step %d out of %d.",
                path.c_str(), step + 1, steps);
}

// Opens a kernel file, reads the tap counts of its first line and hands every step's line to
// read_step(line, taps, step, steps).
template <class ReadStep>
void ReadLiftingFile(const std::string &path, wavelet_kernel &kernel, ReadStep read_step)
{
    LineFile file;
    file.f = std::fopen(path.c_str(), "r");
    if (!file.f)
        local_error("Unable to open the user-defined lifting filter file, \"%s\"!", path.c_str());
    const std::vector<int> counts = ReadStepCounts(file, path);
    const int steps = int(counts.size());
    kernel.num_steps = steps;
    for (int s = 0; s < steps; ++s) {
        char line[256];
        if (!file.Next(line))
            local_error(
                "Syntax error in user-defined lifting filter file, \"%s\"!  Tap values missing for one or "
                "more lifting steps.",
                path.c_str());
        read_step(line, counts[size_t(s)], s, steps);
    }
}

// Real taps, each set to the nearest multiple of 1/1024: the code-stream carries them that way.
void read_float_lifting_file(const std::string &path, wavelet_kernel &kernel)
{
    ReadLiftingFile(path, kernel, [&](char *p, int count, int s, int steps) {
        std::vector<double> taps;
        for (int k = 0; k < count; ++k) {
            char *end = nullptr;
            double v = std::strtod(p, &end);
            if (end == p)
                MissingTap(path, s, steps);
            // The code-stream carries a float tap as a 16-bit multiple of 1/1024.
            if (!std::isfinite(v) || std::fabs(v) * 1024 > 32767)
                local_error(
                    "Lifting tap %g in user-defined lifting filter file, \"%s\", is outside the range "
                    "that can be signalled (magnitude below 32).",
                    v, path.c_str());
            taps.push_back(std::floor(v * 1024 + 0.5) / 1024);
            p = end;
        }
        SetFloatStep(kernel.steps[s], s, taps);
    });
}

// Integer taps and, at the end of each step's line, the step's downshift.
void read_int_lifting_file(const std::string &path, wavelet_kernel &kernel)
{
    ReadLiftingFile(path, kernel, [&](char *p, int count, int s, int steps) {
        std::vector<int> taps;
        for (int k = 0; k < count; ++k) {
            char *end = nullptr;
            long v = std::strtol(p, &end, 10);
            if (end == p || v < -32768 || v > 32767)
                MissingTap(path, s, steps);
            taps.push_back(int(v));
            p = end;
        }
        char *end = nullptr;
        long shift = std::strtol(p, &end, 10);
        // A shift travels in four bits of the code-stream; refuse what could not be signalled.
        if (end == p || shift < 0 || shift > 15)
            local_error(
                "Syntax error in user-defined lifting filter file, \"%s\"!  No integer shift found at "
                "the end of the line of taps for lifting step %d out of %d.",
                path.c_str(), s + 1, steps);
        SetIntStep(kernel.steps[s], s, taps, int(shift));
    });
}

void LoadFile(int id, const char *kernels_dir, wavelet_kernel &kernel)
{
    const std::string path = kernel_file_path(kernels_dir, id, kernel.type);
    if (kernel.type == kKernelIntLifting)
        read_int_lifting_file(path, kernel);
    else
        read_float_lifting_file(path, kernel);
}

// Value of a tap set at index k, zero outside its support.
double TapAt(const tap_set &t, int k)
{
    return (k < -t.neg_support || k > t.pos_support) ? 0.0 : double(t.Tap(k));
}

tap_set FilterFromResponse(const std::vector<std::pair<int, double>> &taps)
{
    int lo = 0, hi = 0;
    for (auto &[k, v] : taps)
        if (v != 0.0) {
            lo = std::min(lo, k);
            hi = std::max(hi, k);
        }
    tap_set f;
    f.neg_support = -lo;
    f.pos_support = hi;
    f.taps.assign(size_t(hi - lo + 1), 0.0f);
    for (auto &[k, v] : taps)
        if (k >= lo && k <= hi)
            f.taps[size_t(k - lo)] = float(v);
    return f;
}

double TapSum(const tap_set &t)
{
    double s = 0;
    for (float v : t.taps)
        s += v;
    return s;
}

// Synthesis filter from the opposite analysis filter: time reversal and modulation by (-1)^k.
tap_set Modulated(const tap_set &a)
{
    tap_set s;
    s.neg_support = a.pos_support;
    s.pos_support = a.neg_support;
    s.taps.assign(a.taps.size(), 0.0f);
    for (int k = -s.neg_support; k <= s.pos_support; ++k)
        s.taps[size_t(s.neg_support + k)] = float(((k & 1) ? -1.0 : 1.0) * TapAt(a, -k));
    return s;
}

void FinishFilters(wavelet_kernel &kernel)
{
    kernel.low_scale = kernel.high_scale = 1.0f;
    lifting_to_filters(kernel);
    if (kernel.type != kKernelIntLifting) {
        kernel.low_scale = normalize_filter(kernel.analysis_low);
        kernel.high_scale = normalize_filter(kernel.analysis_high);
    }
    make_synthesis_filters(kernel);
}

} // namespace

std::string kernel_file_path(const char *kernels_dir, int id, int type)
{
    if (!kernels_dir || !*kernels_dir)
        local_error(
            "Unable to load user-defined kernels until the `kernels_dir' path can be established!  This "
            "may be done via the `-Fdir' argument or by defining the JP2_KERNELS_DIR environment variable.");
    std::string path = kernels_dir;
    char last = path.back();
    if (last != '/' && last != '\\')
        path += '/';
    char tail[64];
    std::snprintf(tail, sizeof tail, "%s/kernel-%03d",
                  type == kKernelIntLifting ? "int_lifting" : "float_lifting", id);
    return path + tail;
}

int load_kernel(const char *id, const char *kernels_dir, wavelet_kernel &kernel)
{
    ResetKernel(kernel);
    int from_file = 0;
    char *end = nullptr;
    long num = std::strtol(id, &end, 10);
    if (end != id && *end == '\0' && num >= 0 && num <= 255) {
        LoadFile(int(num), kernels_dir, kernel);
        from_file = 1;
    } else if (std::strcmp(id, "W9X7") == 0 || std::strcmp(id, "W5X3") == 0) {
        LoadBuiltIn(id, kernel);
    } else {
        local_error("Unrecognized Wavelet kernel identifier, \"%s\", supplied via `-Fkernels'!", id);
    }
    FinishFilters(kernel);
    return from_file;
}

void lifting_to_filters(wavelet_kernel &kernel)
{
    constexpr int kLen = 128, kCentre = 64;
    std::vector<std::pair<int, double>> low_taps, high_taps;
    for (int impulse = 0; impulse < 2; ++impulse) {
        double low[kLen] = {}, high[kLen] = {};
        (impulse == 0 ? low : high)[kCentre] = 1.0;
        for (int i = 0; i < kernel.num_steps; ++i) {
            const tap_set &st = kernel.steps[i];
            double *target = (i % 2 == 0) ? high : low;
            const double *source = (i % 2 == 0) ? low : high;
            // A step without taps (a signalled tap count of 0) changes nothing.
            if (st.Count() <= 0)
                continue;
            for (int j = st.neg_support; j <= kLen - 1 - st.pos_support; ++j) {
                double sum = 0;
                for (int k = 0; k < st.Count(); ++k)
                    sum += double(st.taps[size_t(k)]) * source[j - st.neg_support + k];
                target[j] += sum;
            }
        }
        // The impulse sits at input position 2*kCentre + impulse; low output j is centred on 2j and
        // high output j on 2j + 1. Tap k of a filter multiplies the input k samples after the centre.
        int input = 2 * kCentre + impulse;
        for (int j = 0; j < kLen; ++j) {
            if (low[j] != 0.0)
                low_taps.push_back({input - 2 * j, low[j] * kernel.low_scale});
            if (high[j] != 0.0)
                high_taps.push_back({input - 2 * j - 1, high[j] * kernel.high_scale});
        }
    }
    kernel.analysis_low = FilterFromResponse(low_taps);
    kernel.analysis_high = FilterFromResponse(high_taps);
}

float normalize_filter(tap_set &filter)
{
    // The Nyquist response counts signs from the centre tap: counted from the first stored tap, a
    // high-pass filter with an odd number of taps before its centre would come out negated, and its
    // band would carry the opposite sign of every other decoder's.
    double sum = 0, alternating = 0;
    for (size_t k = 0; k < filter.taps.size(); ++k) {
        sum += filter.taps[k];
        alternating += ((int(k) - filter.neg_support) & 1) ? -filter.taps[k] : filter.taps[k];
    }
    double factor = 1.0 / std::max(sum, std::fabs(alternating));
    if (alternating < 0 && sum < std::fabs(alternating))
        factor = -factor;
    for (float &t : filter.taps)
        t = float(t * factor);
    return float(factor);
}

void make_synthesis_filters(wavelet_kernel &kernel)
{
    kernel.synthesis_high = Modulated(kernel.analysis_low);
    kernel.synthesis_low = Modulated(kernel.analysis_high);
    double sl = TapSum(kernel.analysis_low), sh = TapSum(kernel.analysis_high);
    double gl = TapSum(kernel.synthesis_low), gh = TapSum(kernel.synthesis_high);
    double scale = 2.0 / (sh * gh + gl * sl);
    for (float &t : kernel.synthesis_low.taps)
        t = float(t * scale);
    for (float &t : kernel.synthesis_high.taps)
        t = float(t * scale);
}

user_kernel_spec make_user_kernel_spec(const wavelet_kernel &kernel)
{
    user_kernel_spec signalled;
    signalled.num_steps = kernel.num_steps;
    bool integer = kernel.type == kKernelIntLifting;
    for (int s = 0; s < kernel.num_steps; ++s) {
        const tap_set &st = kernel.steps[s];
        int n = st.Count();
        signalled.tap_count[s] = n;
        signalled.shift[s] = integer ? st.downshift : 10;
        for (int i = 0; i < n; ++i) {
            int k = n - 1 - i;
            signalled.taps[s][i] = integer ? st.int_taps[size_t(k)] : QuantiseTap(st.taps[size_t(k)], 10);
        }
    }
    return signalled;
}

void build_decoder_kernel(const char *name, const user_kernel_spec *signalled, wavelet_kernel &kernel)
{
    ResetKernel(kernel);
    std::vector<std::vector<double>> listed;
    std::vector<int> shifts;
    if (name) {
        if (std::strcmp(name, "W9X7") == 0) {
            if (kernel.type == kKernelIntLifting)
                local_error("Cannot use the W9X7 kernel with a reversible decomposition!");
            for (double v : kW9X7Steps) {
                listed.push_back({v, v});
                shifts.push_back(0);
            }
        } else if (std::strcmp(name, "W5X3") == 0) {
            for (int i = 0; i < 2; ++i) {
                listed.push_back({kW5X3Steps[i], kW5X3Steps[i]});
                shifts.push_back(kW5X3Shifts[i]);
            }
        }
    } else if (signalled) {
        if (signalled->num_steps < 0 || signalled->num_steps > kMaxLiftingSteps)
            local_error("Invalid lifting kernel: %d lifting steps signalled (at most %d).",
                        signalled->num_steps, kMaxLiftingSteps);
        for (int s = 0; s < signalled->num_steps; ++s) {
            int n = signalled->tap_count[s];
            if (n < 0 || n > kMaxLiftingTaps || signalled->shift[s] < 0 || signalled->shift[s] > 30)
                local_error("Invalid lifting kernel: step %d has %d taps and shift %d.", s + 1, n,
                            signalled->shift[s]);
            std::vector<double> v;
            for (int i = 0; i < n; ++i) {
                if (signalled->taps[s][i] < -32768 || signalled->taps[s][i] > 32767)
                    local_error("Invalid lifting kernel: tap %d of step %d does not fit 16 bits.", i + 1,
                                s + 1);
                v.push_back(std::ldexp(double(signalled->taps[s][i]), -signalled->shift[s]));
            }
            listed.push_back(v);
            shifts.push_back(signalled->shift[s]);
        }
    }
    kernel.num_steps = int(listed.size());
    for (int s = 0; s < kernel.num_steps; ++s) {
        if (kernel.type == kKernelIntLifting) {
            std::vector<int> iv;
            for (double v : listed[size_t(s)])
                iv.push_back(QuantiseTap(v, shifts[size_t(s)]));
            SetIntStep(kernel.steps[s], s, iv, shifts[size_t(s)]);
        } else {
            SetFloatStep(kernel.steps[s], s, listed[size_t(s)]);
        }
    }
    FinishFilters(kernel);
}

} // namespace zn::j2k
