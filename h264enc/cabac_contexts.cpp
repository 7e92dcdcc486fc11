// Context sets, their initialisation from the decoder's (m, n) tables, and the adaptive model choice.
// The cost of a model for a context is the cross-entropy between the state the context ended the slice
// in (what the data looked like) and the state the model would have started it in: a model whose start
// states sit close to where the contexts ended wastes the fewest bits while they adapt.
#include "h264enc/cabac_contexts.h"

#include "h264dec/cabac_engine.h"
#include "h264enc/enc_memory.h"
#include "h264enc/enc_params.h"
#include "h264enc/enc_state.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace h264enc {

namespace {

// The decoder's macroblock-type family has a fourth row no element uses; the encoder's sets stop
// after three.
constexpr int kDecoderTypeRows = 4;
constexpr int kTypeRowLength = 11;

template <class Init> const CabacInitPair *Flat(const Init &init)
{
    return reinterpret_cast<const CabacInitPair *>(&init);
}

CabacPairs BuildPairs(const MotionInfoInit &motion, const TextureInfoInit &texture)
{
    static_assert(sizeof(MotionInfoInit) / sizeof(CabacInitPair) ==
                  kMotionContexts + (kDecoderTypeRows - 3) * kTypeRowLength);
    static_assert(sizeof(TextureInfoInit) / sizeof(CabacInitPair) == kTextureContexts);
    CabacPairs p{};
    const CabacInitPair *m = Flat(motion);
    for (int i = 0, src = 0; i < kMotionContexts; ++i, ++src) {
        if (src == 3 * kTypeRowLength)
            src += (kDecoderTypeRows - 3) * kTypeRowLength;
        p.motion[static_cast<size_t>(i)] = {m[src].m, m[src].n};
    }
    const CabacInitPair *t = Flat(texture);
    for (int i = 0; i < kTextureContexts; ++i)
        p.texture[static_cast<size_t>(i)] = {t[i].m, t[i].n};
    return p;
}

struct AllPairs
{
    CabacPairs intra;
    CabacPairs model[3];
    AllPairs()
    {
        intra = BuildPairs(CabacMotionInitI(), CabacTextureInitI());
        for (int k = 0; k < 3; ++k)
            model[k] = BuildPairs(CabacMotionInitModel(k), CabacTextureInitModel(k));
    }
};

CabacEncContext *FlatContexts(MotionContextSet *mc)
{
    return reinterpret_cast<CabacEncContext *>(mc);
}
CabacEncContext *FlatContexts(TextureContextSet *tc)
{
    return reinterpret_cast<CabacEncContext *>(tc);
}
const CabacEncContext *FlatContexts(const MotionContextSet *mc)
{
    return reinterpret_cast<const CabacEncContext *>(mc);
}
const CabacEncContext *FlatContexts(const TextureContextSet *tc)
{
    return reinterpret_cast<const CabacEncContext *>(tc);
}

int SlicePosition(const CabacModelMemory &memory, int first_mb)
{
    const int pos = first_mb / std::max(memory.mbs_per_slice, 1);
    return std::clamp(pos, 0, memory.slices_per_picture - 1);
}

int StructureOf(const EncoderImage &img)
{
    return img.field_pass ? 1 : 0;
}

int TypeOf(const EncoderImage &img)
{
    return std::clamp(img.type, 0, CabacModelMemory::kTypes - 1);
}

} // namespace

std::unique_ptr<MotionContextSet> create_contexts_MotionInfo()
{
    MotionContextSet *set = new (std::nothrow) MotionContextSet();
    if (!set)
        out_of_memory_exit("create_contexts_MotionInfo: enco_ctx");
    return std::unique_ptr<MotionContextSet>(set);
}

std::unique_ptr<TextureContextSet> create_contexts_TextureInfo()
{
    TextureContextSet *set = new (std::nothrow) TextureContextSet();
    if (!set)
        out_of_memory_exit("create_contexts_TextureInfo: enco_ctx");
    return std::unique_ptr<TextureContextSet>(set);
}

const CabacPairs &cabac_pairs(bool intra_table, int model)
{
    static const AllPairs pairs;
    return intra_table ? pairs.intra : pairs.model[std::clamp(model, 0, 2)];
}

void cabac_init_context_sets(MotionContextSet *mc, TextureContextSet *tc, bool intra_table, int model, int qp)
{
    const CabacPairs &p = cabac_pairs(intra_table, model);
    CabacEncContext *m = FlatContexts(mc);
    for (int i = 0; i < kMotionContexts; ++i)
        cabac_ctx_init(&m[i], p.motion[static_cast<size_t>(i)][0], p.motion[static_cast<size_t>(i)][1], qp);
    CabacEncContext *t = FlatContexts(tc);
    for (int i = 0; i < kTextureContexts; ++i)
        cabac_ctx_init(&t[i], p.texture[static_cast<size_t>(i)][0], p.texture[static_cast<size_t>(i)][1], qp);
}

void create_context_memory(CabacModelMemory &memory, const EncoderParams &input, int mbs_per_frame)
{
    const int frame = std::max(mbs_per_frame, 1);
    memory.mbs_per_slice = input.SliceMode == 1 ? std::clamp(input.SliceArgument, 1, frame) : frame;
    memory.slices_per_picture = (frame + memory.mbs_per_slice - 1) / memory.mbs_per_slice;
    const size_t n = static_cast<size_t>(2 * CabacModelMemory::kTypes * memory.slices_per_picture);
    try {
        memory.initialized.assign(n, 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("create_context_memory: initialized");
    }
    try {
        memory.model_number.assign(n, 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("create_context_memory: model_number");
    }
    // Probability of the less probable symbol by state: 0.5 falling geometrically to 0.01875 at 62..63.
    const double alpha = std::pow(0.01875 / 0.5, 1.0 / 63.0);
    for (int s = 0; s < 64; ++s)
        memory.probability[static_cast<size_t>(64 + s)] = std::round(0.5 * std::pow(alpha, s) * 1e6) / 1e6;
    for (int k = 0; k < 64; ++k)
        memory.probability[static_cast<size_t>(k)] = 1.0 - memory.probability[static_cast<size_t>(127 - k)];
    for (int k = 0; k < 128; ++k)
        memory.entropy[static_cast<size_t>(k)] =
            std::log10(memory.probability[static_cast<size_t>(k)]) / std::log10(2.0);
}

void free_context_memory(CabacModelMemory &memory)
{
    memory.initialized.clear();
    memory.model_number.clear();
}

void cabac_select_model(const CabacModelMemory &memory, const EncoderParams &input, EncoderImage &img,
                        int first_mb)
{
    if (img.type == kTypeI) {
        img.cabac_model = 0;
        return;
    }
    if (input.ContextInitMethod == 0) {
        img.cabac_model = input.FixedModelNumber;
        return;
    }
    const int f = StructureOf(img), t = TypeOf(img), i = SlicePosition(memory, first_mb);
    if (memory.initialized.empty())
        img.cabac_model = 0;
    else if (memory.initialized[memory.Index(f, t, i)])
        img.cabac_model = memory.model_number[memory.Index(f, t, i)];
    else if (i > 0 && memory.initialized[memory.Index(f, t, i - 1)])
        img.cabac_model = memory.model_number[memory.Index(f, t, i - 1)];
    else
        img.cabac_model = 0;
}

void cabac_init_contexts(EncoderImage &img)
{
    Slice &slice = *img.current_slice;
    cabac_init_context_sets(slice.motion.get(), slice.texture.get(), img.type == kTypeI, img.cabac_model,
                            img.qp);
}

double cabac_ctx_cost(const CabacModelMemory &memory, const CabacEncContext &ctx, int m, int n, int qp)
{
    const double w = std::min(static_cast<double>(ctx.usage) / 32.0, 1.0);
    const int c = std::clamp(((m * qp) >> 4) + n, 0, 127);
    const int d = ctx.MPS ? 64 + ctx.state : 63 - ctx.state;
    const auto &p = memory.probability;
    const auto &e = memory.entropy;
    return -w * (p[static_cast<size_t>(d)] * e[static_cast<size_t>(c)] +
                 p[static_cast<size_t>(127 - d)] * e[static_cast<size_t>(127 - c)]);
}

int cabac_best_model(const CabacModelMemory &memory, const MotionContextSet &mc, const TextureContextSet &tc,
                     bool intra, int qp)
{
    int best = 0;
    double bestCost = 1e30;
    const CabacEncContext *m = FlatContexts(&mc);
    const CabacEncContext *t = FlatContexts(&tc);
    for (int model = 0; model < (intra ? 1 : 3); ++model) {
        const CabacPairs &p = cabac_pairs(intra, model);
        double cost = 0;
        for (int i = 0; i < kMotionContexts; ++i)
            cost += cabac_ctx_cost(memory, m[i], p.motion[static_cast<size_t>(i)][0],
                                   p.motion[static_cast<size_t>(i)][1], qp);
        for (int i = 0; i < kTextureContexts; ++i)
            cost += cabac_ctx_cost(memory, t[i], p.texture[static_cast<size_t>(i)][0],
                                   p.texture[static_cast<size_t>(i)][1], qp);
        if (cost < bestCost) {
            bestCost = cost;
            best = model;
        }
    }
    return best;
}

void cabac_store_model(CabacModelMemory &memory, const EncoderParams &input, const EncoderImage &img,
                       int first_mb)
{
    if (input.ContextInitMethod == 0 || memory.initialized.empty())
        return;
    const Slice &slice = *img.current_slice;
    const int f = StructureOf(img), t = TypeOf(img), i = SlicePosition(memory, first_mb);
    memory.initialized[memory.Index(f, t, i)] = 1;
    memory.model_number[memory.Index(f, t, i)] =
        cabac_best_model(memory, *slice.motion, *slice.texture, img.type == kTypeI, img.qp);
}

void cabac_copy_model_memory(CabacModelMemory &memory, int from)
{
    if (memory.initialized.empty())
        return;
    const int to = from ? 0 : 1;
    const int count = memory.slices_per_picture;
    for (int t = 0; t < CabacModelMemory::kTypes; ++t)
        for (int i = 0; i < count; ++i) {
            const int source = to == 0 ? i / 2 : 2 * i;
            if (source >= count)
                continue;
            memory.initialized[memory.Index(to, t, i)] = memory.initialized[memory.Index(from, t, source)];
            memory.model_number[memory.Index(to, t, i)] = memory.model_number[memory.Index(from, t, source)];
        }
}

} // namespace h264enc
