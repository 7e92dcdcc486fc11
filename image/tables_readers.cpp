// Readers of the three table files: filter banks (.fcs), quantisers (.sqt) and quantiser performance
// (.sqp). A table is either read whole or refused: a missing value, a count that the file cannot
// hold or a value outside its range gives a message and no record, never a half-filled one.
#include "image/tables.h"

#include "platform/log.h"
#include "platform/messages.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr int kMaxFiltDims = 8;
constexpr int kMaxLevels = 1 << 20;

struct FiltDel
{
    void operator()(Filt *f) const { FreeFilt(f); }
};
struct QuantDel
{
    void operator()(Quant *q) const { FreeQuant(q); }
};
struct PerfDel
{
    void operator()(PerfQuant *p) const { FreePerfQuant(p); }
};

// Every value takes at least one character and one separator; a count above what the rest of the
// file could hold is refused before anything is allocated for it.
bool CountFits(const TableText &f, long long count, int valuesPerItem)
{
    return count >= 0 && count * valuesPerItem <= static_cast<long long>(f.Remaining() / 2) + 1;
}

void Refuse(const char *message, const std::string &path, const std::string &why)
{
    zn::ShowMessage(std::string(message) + "\r\n" + path + ": " + why);
}

// Opens a table and reads its leading keyword. A file that cannot be opened gets the bare message,
// an empty one the message with the path.
bool OpenTable(TableText &f, const char *message, const std::string &path, std::string *keyword)
{
    if (!f.Open(path)) {
        zn::ShowMessage(message);
        return false;
    }
    if (ReadWord(f, keyword) != 1) {
        Refuse(message, path, "empty file");
        return false;
    }
    return true;
}

bool Contains(const std::string &s, const char *needle)
{
    return s.find(needle) != std::string::npos;
}

bool IsBinaryWord(const std::string &w)
{
    for (char c : w)
        if (c != '0' && c != '1')
            return false;
    return true;
}

// Reads the extents of one filter and its coefficients.
bool ReadOneFilter(TableText &f, int ndim, std::vector<int32_t> &dims, std::vector<float> &coef,
                   std::string *why)
{
    long long count = 1;
    dims.assign(static_cast<size_t>(ndim), 0);
    for (int d = 0; d < ndim; ++d) {
        int e = 0;
        if (ReadInt(f, &e) != 1 || e <= 0) {
            *why = "bad filter extent";
            return false;
        }
        dims[static_cast<size_t>(d)] = e;
        count *= e;
        if (!CountFits(f, count, 1)) {
            *why = "filter extents larger than the file";
            return false;
        }
    }
    coef.assign(static_cast<size_t>(count), 0.0f);
    for (auto &c : coef)
        if (ReadFloat(f, &c) != 1 || !std::isfinite(c)) {
            *why = "missing or bad filter coefficient";
            return false;
        }
    return true;
}

} // namespace

std::string FiltFileName(const std::string &dir, const std::string &prefix, const std::string &name)
{
    return dir + "/" + prefix + name + ".fcs";
}

std::string QuantFileName(const std::string &dir, const std::string &stem, const std::string &pdf, int levels)
{
    char num[16];
    std::snprintf(num, sizeof num, "%04d", levels);
    return dir + stem + "_" + pdf + "_" + num + ".sqt";
}

const char *PerfQuantSuffix(int vlcType)
{
    switch (vlcType) {
    case VLC_NONE:
        return "";
    case VLC_FLC:
        return "_flc";
    case VLC_HUFFMAN:
        return "_huff";
    case VLC_ARITH:
        return "_arith";
    case VLC_ENTROPY:
        return "_entr";
    default:
        return nullptr;
    }
}

std::string PerfQuantFileName(const std::string &dir, const std::string &stem, const std::string &pdf,
                              int vlcType)
{
    const char *suffix = PerfQuantSuffix(vlcType);
    return dir + "/" + stem + "_" + pdf + (suffix ? suffix : "") + ".sqp";
}

int ReadFilt(Filt **filt, const std::string &dir, const std::string &prefix, const std::string &name)
{
    static const char *const kMsg = "ReadFilt: Can't read filter coefficients.";
    *filt = nullptr;
    std::string path = FiltFileName(dir, prefix, name);
    TableText f;
    std::string keyword, why;
    if (!OpenTable(f, kMsg, path, &keyword))
        return 0;
    std::unique_ptr<Filt, FiltDel> bank(new Filt);
    // Later hits override earlier ones: "FIRQMF" contains "FIR".
    bank->type = -1; // none of the patterns: unknown kind
    if (Contains(keyword, "FIR"))
        bank->type = FILT_FIR;
    if (Contains(keyword, "IIR"))
        bank->type = FILT_IIR;
    if (Contains(keyword, "FIRQMF"))
        bank->type = FILT_FIRQMF;
    if (Contains(keyword, "FIRCQF"))
        bank->type = FILT_FIRCQF;
    if (Contains(keyword, "FIRMCI"))
        bank->type = FILT_FIRMCI;
    if (ReadInt(f, &bank->ndim) != 1 || bank->ndim < 1 || bank->ndim > kMaxFiltDims) {
        Refuse(kMsg, path, "bad number of dimensions");
        return 0;
    }
    if (!ReadOneFilter(f, bank->ndim, bank->dims1, bank->coef1, &why) ||
        !ReadOneFilter(f, bank->ndim, bank->dims2, bank->coef2, &why)) {
        Refuse(kMsg, path, why);
        return 0;
    }
    *filt = bank.release();
    return 0;
}

void ReadQuant(Quant **quant, const std::string &dir, const std::string &stem, const std::string &pdf,
               int levels)
{
    static const char *const kMsg = "Can't open Quantizer file";
    *quant = nullptr;
    std::string path = QuantFileName(dir, stem, pdf, levels);
    TableText f;
    std::string keyword;
    if (!OpenTable(f, kMsg, path, &keyword))
        return;
    float rate = 0, distortion = 0;
    if (ReadFloat(f, &rate) != 1 || ReadFloat(f, &distortion) != 1 || std::isnan(rate) ||
        std::isnan(distortion)) {
        zn::LogF(zn::LogLevel::Error, "Float read %f \n", static_cast<double>(rate));
        Refuse(kMsg, path, "rate or distortion missing");
        return;
    }
    int l = 0;
    if (ReadInt(f, &l) != 1 || l < 1 || l > kMaxLevels || !CountFits(f, l, 4)) {
        Refuse(kMsg, path, "bad number of levels");
        return;
    }
    std::unique_ptr<Quant, QuantDel> q(new Quant);
    q->type = Contains(keyword, "SQ") ? 0 : -1;
    q->rate = rate;
    q->distortion = distortion;
    q->levels = l;
    q->reconstruction.assign(static_cast<size_t>(l), 0.0f);
    q->thresholds.assign(static_cast<size_t>(l), 0.0f);
    q->probabilities.assign(static_cast<size_t>(l), 0.0f);
    AllocVlc(&q->code, l, 1, 2);
    Vlc *v = q->code;
    v->type = VLC_TYPE_TABLE;
    q->entropy = 0;
    for (int i = 0; i < l; ++i) {
        float &r = q->reconstruction[i], &t = q->thresholds[i], &p = q->probabilities[i];
        if (ReadFloat(f, &r) != 1 || ReadFloat(f, &t) != 1 || ReadFloat(f, &p) != 1 || std::isnan(r) ||
            std::isnan(t) || std::isnan(p)) {
            Refuse(kMsg, path, "level " + std::to_string(i) + ": value missing or not a number");
            return;
        }
        if (p > 0)
            q->entropy += -p * std::log2(p);
        std::string word;
        if (ReadWord(f, &word) != 1 || !IsBinaryWord(word)) {
            Refuse(kMsg, path, "level " + std::to_string(i) + ": code word missing or not binary");
            return;
        }
        v->VlcCodeLen[i] = static_cast<int32_t>(word.size());
        v->VlcCodeWord[i] = std::move(word);
    }
    for (int i = 0; i < l; ++i) {
        v->VlcSymbLen[i] = 1;
        v->VlcSymbWord[i].assign(1, std::bit_cast<uint32_t>(q->reconstruction[i]));
    }
    *quant = q.release();
}

void ReadPerfQuant(PerfQuant **perf, const std::string &dir, const std::string &stem, const std::string &pdf,
                   int vlcType)
{
    static const char *const kMsg = "ReadPerfQuant-Can't open quantizer file";
    *perf = nullptr;
    if (!PerfQuantSuffix(vlcType)) {
        zn::ShowMessage("ReadPerfQuant-Unknown VLC type");
        return;
    }
    std::string path = PerfQuantFileName(dir, stem, pdf, vlcType);
    TableText f;
    std::string keyword;
    if (!OpenTable(f, kMsg, path, &keyword))
        return;
    int n = 0;
    if (ReadInt(f, &n) != 1 || n < 0 || n > kMaxLevels || !CountFits(f, n, 3)) {
        Refuse(kMsg, path, "bad number of points");
        return;
    }
    PerfQuant *raw = nullptr;
    AllocPerfQuant(&raw, n);
    std::unique_ptr<PerfQuant, PerfDel> p(raw);
    if (p->levels.size() != static_cast<size_t>(n))
        return; // allocation failed and was reported
    if (Contains(keyword, "NOTUSED"))
        p->type = PERF_NOTUSED;
    if (Contains(keyword, "SQ"))
        p->type = PERF_SQ;
    if (Contains(keyword, "RD"))
        p->type = PERF_RD;
    for (int i = 0; i < n; ++i) {
        float lev = 0;
        if (ReadFloat(f, &lev) != 1 || ReadFloat(f, &p->rate[i]) != 1 ||
            ReadFloat(f, &p->distortion[i]) != 1 || std::isnan(p->rate[i]) || std::isnan(p->distortion[i])) {
            Refuse(kMsg, path, "point " + std::to_string(i) + ": value missing or not a number");
            return;
        }
        // Level counts are written as reals and truncated; one that no int can hold is refused.
        if (!(lev >= 0.0f && lev < 2147483520.0f)) {
            Refuse(kMsg, path, "point " + std::to_string(i) + ": bad level count");
            return;
        }
        p->levels[i] = static_cast<int32_t>(lev);
    }
    p->n = n;
    *perf = p.release();
}
