// Allocation and release of the coding-table records, the one-level quantiser and the fixed-length
// code of a quantiser. A fixed-length code spends ceil(log2 L) bits on every level: it wastes rate
// against an entropy code but survives channel errors, since no error can shift the word boundaries.
#include "image/tables.h"

#include "platform/errors.h"
#include "platform/messages.h"

#include <bit>
#include <cstdlib>
#include <new>

namespace {

bool ValidTableRep(int rep)
{
    return rep == 0 || rep == 1 || rep == 2;
}

// Resizes one array; on failure shows the message and reports false.
template <typename V> bool Resize(V &v, size_t n, const char *message)
{
    try {
        v.resize(n);
        return true;
    } catch (const std::bad_alloc &) {
        zn::ShowMessage(message);
        return false;
    } catch (const std::length_error &) {
        zn::ShowMessage(message);
        return false;
    }
}

// An array of the record that the code cannot go on without.
template <typename V> void ResizeOrAbort(V &v, size_t n, const char *message)
{
    if (!Resize(v, n, message))
        throw zn::RunAborted(message, zn::kMessageShown);
}

void SetSymbolToLevel(Vlc *vlc, int i, float reconstruction)
{
    vlc->VlcSymbLen[i] = 1;
    vlc->VlcSymbWord[i].assign(1, std::bit_cast<uint32_t>(reconstruction));
}

} // namespace

void AllocVF(VF **vf, int rows, int cols, int blockHeight, int blockWidth, int rep)
{
    VF *r = new VF;
    *vf = r;
    r->rep = rep;
    r->rows = rows;
    r->cols = cols;
    r->blockHeight = blockHeight;
    r->blockWidth = blockWidth;
    if (!ValidTableRep(rep)) {
        zn::ShowMessage("AllocVF - Invallid representation type");
        return;
    }
    if (rows <= 0 || cols <= 0)
        return;
    size_t bytes = static_cast<size_t>(rows) * static_cast<size_t>(cols) * (rep == 0 ? 1 : 4);
    r->planeA = std::calloc(bytes, 1);
    r->planeB = std::calloc(bytes, 1);
    if (!r->planeA || !r->planeB)
        zn::ShowMessage("AllocVF - Not enough memory can be allocated");
}

void FreeVF(VF *vf)
{
    if (!vf)
        return;
    std::free(vf->planeA);
    std::free(vf->planeB);
    delete vf;
}

void AllocFilt1d(Filt **filt, int len1, int len2, int type)
{
    Filt *f = new Filt;
    *filt = f;
    f->type = type;
    f->ndim = 1;
    f->dims1.assign(1, len1);
    f->dims2.assign(1, len2);
    Resize(f->coef1, len1 > 0 ? static_cast<size_t>(len1) : 0, "AllocFilt1d - not enough memory");
    Resize(f->coef2, len2 > 0 ? static_cast<size_t>(len2) : 0, "AllocFilt1d - not enough memory");
}

void AllocFilt(Filt **filt, int ndim, const int *dims1, const int *dims2, int type)
{
    Filt *f = new Filt;
    *filt = f;
    f->type = type;
    f->ndim = ndim > 0 ? ndim : 0;
    f->dims1.assign(dims1, dims1 + f->ndim);
    f->dims2.assign(dims2, dims2 + f->ndim);
    auto count = [](const std::vector<int32_t> &dims) -> size_t {
        long long n = 1;
        for (int d : dims) {
            n *= d > 0 ? d : 0;
            if (n > (1LL << 31))
                return SIZE_MAX; // cannot be allocated: reported as out of memory
        }
        return static_cast<size_t>(n);
    };
    Resize(f->coef1, count(f->dims1), "AllocFilt: Not enough memory");
    Resize(f->coef2, count(f->dims2), "AllocFilt: Not enough memory");
}

void FreeFilt(Filt *filt)
{
    delete filt;
}

void AllocVlc(Vlc **vlc, int symbols, int wordsPerSymbol, int codeWordSize)
{
    Vlc *v = nullptr;
    try {
        v = new Vlc;
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("AllocVlc-Not enough memory at *vlc");
        throw zn::RunAborted("AllocVlc-Not enough memory at *vlc", zn::kMessageShown);
    }
    *vlc = v;
    size_t s = symbols > 0 ? static_cast<size_t>(symbols) : 0;
    v->symbols = static_cast<int32_t>(s);
    ResizeOrAbort(v->VlcSymbLen, s, "AllocVlc-Not enough memory at VlcSymbLen(*vlc) ");
    ResizeOrAbort(v->VlcSymbWord, s, "AllocVlc-Not enough memory at VlcSymbWord(*vlc) ");
    ResizeOrAbort(v->VlcSync, s, "AllocVlc-Not enough memory at VlcSync(*vlc) ");
    ResizeOrAbort(v->VlcCodeLen, s, "AllocVlc-Not enough memory at VlvCodeLen(*vlc) ");
    ResizeOrAbort(v->VlcCodeWord, s, "AllocVlc-Not enough memory at VlcCodeWord(*vlc)");
    size_t words = wordsPerSymbol > 0 ? static_cast<size_t>(wordsPerSymbol) : 0;
    size_t buffer = codeWordSize > 2 ? static_cast<size_t>(codeWordSize) : 2;
    for (size_t i = 0; i < s; ++i) {
        Resize(v->VlcSymbWord[i], words, "AllocVlc-Not enough memory at VlcSymbWord");
        try {
            v->VlcCodeWord[i].reserve(buffer - 1);
        } catch (const std::exception &) {
            zn::ShowMessage("AllocVlc-Not enough memory at VlcCodeWord");
        }
    }
    v->type = VLC_TYPE_NEW;
    if (s > 0)
        v->VlcSync[0] = 0;
    v->tree = nullptr;
}

void FreeHuffTree(HuffNode *node)
{
    // Children first; iterative so that a degenerate (list-like) tree cannot exhaust the stack.
    std::vector<HuffNode *> stack;
    if (node)
        stack.push_back(node);
    while (!stack.empty()) {
        HuffNode *n = stack.back();
        stack.pop_back();
        for (HuffNode *c : n->child)
            if (c)
                stack.push_back(c);
        delete n;
    }
}

void FreeVlc(Vlc *vlc)
{
    if (!vlc)
        return;
    FreeHuffTree(vlc->tree);
    delete vlc;
}

void AllocQuant(Quant **quant, int levels, int codeWordSize)
{
    Quant *q = new Quant;
    *quant = q;
    size_t l = levels > 0 ? static_cast<size_t>(levels) : 0;
    q->levels = static_cast<int32_t>(l);
    bool ok = Resize(q->reconstruction, l, "Fatal: AllocQuant-Not enough memory") &&
              Resize(q->thresholds, l, "Fatal: AllocQuant-Not enough memory") &&
              Resize(q->probabilities, l, "Fatal: AllocQuant-Not enough memory");
    if (!ok)
        q->levels = 0;
    AllocVlc(&q->code, q->levels, 1, codeWordSize);
    q->code->type = VLC_TYPE_TABLE;
}

void ZeroQuant(Quant **quant)
{
    Quant *q = new Quant;
    *quant = q;
    q->type = 0;
    q->rate = 0;
    q->distortion = 1.0f;
    q->entropy = 0;
    q->levels = 1;
    q->reconstruction.assign(1, 0.0f);
    q->thresholds.assign(1, 0.0f);
    q->probabilities.assign(1, 1.0f);
    AllocVlc(&q->code, 1, 1, 1);
    q->code->type = VLC_TYPE_TABLE;
    q->code->VlcSymbLen[0] = 1;
    q->code->VlcSymbWord[0].assign(1, 0u);
    q->code->VlcCodeLen[0] = 0;
    q->code->VlcCodeWord[0].clear();
}

void FreeQuant(Quant *quant)
{
    if (!quant)
        return;
    FreeVlc(quant->code);
    delete quant;
}

void MakeFlcVlc(Quant *quant)
{
    if (!quant)
        return;
    int levels = quant->levels > 0 ? quant->levels : 0;
    int len = 0;
    while (len < 32 && (1LL << len) < levels)
        ++len;
    if (len >= 32) {
        // Unreachable for a 32-bit level count; the words could not be formed.
        zn::ShowMessage("Required codelen is too large");
        return;
    }
    Vlc *v = quant->code;
    if (!v) {
        AllocVlc(&quant->code, levels, 1, len + 1);
        v = quant->code;
    } else {
        FreeHuffTree(v->tree);
        v->tree = nullptr;
        // The table may have been made for another level count: give it exactly L symbols.
        ResizeOrAbort(v->VlcSymbLen, levels, "AllocVlc-Not enough memory at VlcSymbLen(*vlc) ");
        ResizeOrAbort(v->VlcSymbWord, levels, "AllocVlc-Not enough memory at VlcSymbWord(*vlc) ");
        ResizeOrAbort(v->VlcSync, levels, "AllocVlc-Not enough memory at VlcSync(*vlc) ");
        ResizeOrAbort(v->VlcCodeLen, levels, "AllocVlc-Not enough memory at VlvCodeLen(*vlc) ");
        ResizeOrAbort(v->VlcCodeWord, levels, "AllocVlc-Not enough memory at VlcCodeWord(*vlc)");
    }
    v->type = VLC_TYPE_FLC;
    v->symbols = levels;
    for (int i = 0; i < levels; ++i) {
        v->VlcCodeLen[i] = len;
        std::string &w = v->VlcCodeWord[i];
        w.assign(static_cast<size_t>(len), '0');
        for (int b = 0; b < len; ++b)
            if ((i >> (len - 1 - b)) & 1)
                w[static_cast<size_t>(b)] = '1';
        float r = static_cast<size_t>(i) < quant->reconstruction.size() ? quant->reconstruction[i] : 0.0f;
        SetSymbolToLevel(v, i, r);
    }
}

void AllocPerfQuant(PerfQuant **perf, int n)
{
    PerfQuant *p = new PerfQuant;
    *perf = p;
    p->type = PERF_NOTUSED;
    p->n = 0;
    size_t room = n > 0 ? static_cast<size_t>(n) : 0;
    bool ok = Resize(p->levels, room, "AllocPerfQuant-Not enough memory") &&
              Resize(p->rate, room, "AllocPerfQuant-Not enough memory") &&
              Resize(p->distortion, room, "AllocPerfQuant-Not enough memory");
    (void)ok;
}

void FreePerfQuant(PerfQuant *perf)
{
    delete perf;
}
