// Encoder coding passes. The MQ registers live in locals for the whole pass; a column's four
// context words are tested at once before any single sample is looked at, and the distortion a
// decision removes goes into the 8x8 cell's counter from a table, not per sample arithmetic.
#include "jpeg2000/block_encoder_passes.h"

#include "jpeg2000/coding_tables.h"

#include <optional>

namespace zn::j2k {

namespace {

// The MQ coder's registers for the duration of one pass.
class MqRegisters
{
public:
    explicit MqRegisters(mq_encoder &coder) : m_e(coder)
    {
        if (!m_e.mq_segment_open)
            mq_encoder_open_segment(m_e);
        m_A = m_e.A;
        m_C = m_e.C;
        m_CT = m_e.CT;
        m_ctx = m_e.contexts;
    }
    ~MqRegisters()
    {
        m_e.A = m_A;
        m_e.C = m_C;
        m_e.CT = static_cast<int16_t>(m_CT);
    }
    MqRegisters(const MqRegisters &) = delete;
    MqRegisters &operator=(const MqRegisters &) = delete;

    inline void code(int context, int symbol)
    {
        int32_t &word = m_ctx[context];
        const mq_state_row &st = mq_states[word >> 1];
        const uint32_t qe = st.qe;
        const int mps = word & 1;
        m_A -= qe;
        if (symbol == mps) {
            if (m_A & 0x8000) {
                m_C += qe;
                return;
            }
            if (m_A < qe)
                m_A = qe;
            else
                m_C += qe;
            word = 2 * st.nmps + mps;
        } else {
            if (m_A < qe)
                m_C += qe;
            else
                m_A = qe;
            word = 2 * st.nlps + (mps ^ st.switch_mps);
        }
        do {
            m_A <<= 1;
            m_C <<= 1;
            if (--m_CT == 0)
                m_C = mq_byte_out(m_C, &m_CT, m_e);
        } while (!(m_A & 0x8000));
    }

private:
    mq_encoder &m_e;
    uint32_t m_A, m_C;
    int m_CT;
    int32_t *m_ctx;
};

inline int DistortionIndex(uint32_t magnitude, int p)
{
    return static_cast<int>((p >= 6 ? magnitude >> (p - 6) : magnitude << (6 - p)) & 0x7F);
}

inline block_cell &CellOf(block_coding_record &r, int s, int c)
{
    return r.cells[(s >> 1) * r.cell_pitch + (c >> 3)];
}

// Everything of becoming significant except coding the sign.
inline void Significant(block_coding_record &r, uint16_t *column, int q, int32_t x, int s, int c, int p)
{
    uint32_t magnitude = static_cast<uint32_t>(x) & kMagnitudeMask;
    CellOf(r, s, c).distortion += r.significance_distortion[DistortionIndex(magnitude, p)];
    column[q] |= kCtxSignificant;
    update_neighbours(column + q, q, r.geometry.pitch, x < 0, r.causal != 0);
}

inline void CodeSign(MqRegisters &mq, uint16_t w, int32_t x)
{
    int32_t sc = sign_context_table[(w >> 11) & 0xF];
    int symbol = (x < 0 ? 1 : 0) ^ static_cast<int>(static_cast<uint32_t>(sc) >> 31);
    mq.code(kSignContext + (sc & 0xF), symbol);
}

inline uint32_t PlaneMask(int p)
{
    return (kMagnitudeMask >> p) << p;
}
} // namespace

void encode_cleanup_pass(block_coding_record &r)
{
    const stripe_geometry &g = r.geometry;
    const int p = r.plane;
    const uint32_t mask = PlaneMask(p);
    const uint8_t *table = r.significance_table;
    MqRegisters mq(r.coder);
    for (int s = 0; s < g.stripes; ++s) {
        for (int c = 0; c < g.width; ++c) {
            const int base = s * g.pitch + 4 * c;
            uint16_t *cw = r.contexts + base;
            const int32_t *x = r.samples + base;
            int q = 0;
            if (column_words(cw) == 0) {
                while (q < 4 && !(static_cast<uint32_t>(x[q]) & mask))
                    ++q;
                if (q == 4) {
                    mq.code(kRunContext, 0);
                    continue;
                }
                mq.code(kRunContext, 1);
                mq.code(kUniformContext, q >> 1);
                mq.code(kUniformContext, q & 1);
                CodeSign(mq, cw[q], x[q]);
                Significant(r, cw, q, x[q], s, c, p);
                ++q;
            }
            for (; q < 4; ++q) {
                const uint16_t w = cw[q];
                if (w & kCtxVisited) {
                    cw[q] = static_cast<uint16_t>(w & ~kCtxVisited);
                    continue;
                }
                if (w & (kCtxSignificant | kCtxOutside))
                    continue;
                const int bit = (static_cast<uint32_t>(x[q]) & mask) != 0;
                mq.code(kSignificanceContext + table[w & kCtxNeighbours], bit);
                if (bit) {
                    CodeSign(mq, w, x[q]);
                    Significant(r, cw, q, x[q], s, c, p);
                }
            }
        }
    }
}

namespace {
// The significance and refinement passes, arithmetic-coded or raw: the same samples in the same
// order, only the way each bit is sent differs.
template <bool Raw> void SignificancePass(block_coding_record &r)
{
    const stripe_geometry &g = r.geometry;
    const int p = r.plane - 1;
    const uint32_t mask = PlaneMask(p);
    const uint8_t *table = r.significance_table;
    mq_encoder &e = r.coder;
    std::optional<MqRegisters> mq;
    if constexpr (!Raw)
        mq.emplace(e);
    for (int s = 0; s < g.stripes; ++s) {
        for (int c = 0; c < g.width; ++c) {
            const int base = s * g.pitch + 4 * c;
            uint16_t *cw = r.contexts + base;
            if (!(column_words(cw) & kLowBytes))
                continue;
            const int32_t *x = r.samples + base;
            for (int q = 0; q < 4; ++q) {
                const uint16_t w = cw[q];
                if (!(w & kCtxNeighbours) || (w & (kCtxSignificant | kCtxVisited | kCtxOutside)))
                    continue;
                cw[q] = static_cast<uint16_t>(w | kCtxVisited);
                const int bit = (static_cast<uint32_t>(x[q]) & mask) != 0;
                if constexpr (Raw)
                    mq_encode_raw(e, bit);
                else
                    mq->code(kSignificanceContext + table[w & kCtxNeighbours], bit);
                if (!bit)
                    continue;
                if constexpr (Raw)
                    mq_encode_raw(e, x[q] < 0 ? 1 : 0);
                else
                    CodeSign(*mq, w, x[q]);
                Significant(r, cw, q, x[q], s, c, p);
            }
        }
    }
}

template <bool Raw> void RefinementPass(block_coding_record &r)
{
    const stripe_geometry &g = r.geometry;
    const int p = r.plane - 1;
    mq_encoder &e = r.coder;
    std::optional<MqRegisters> mq;
    if constexpr (!Raw)
        mq.emplace(e);
    for (int s = 0; s < g.stripes; ++s) {
        for (int c = 0; c < g.width; ++c) {
            const int base = s * g.pitch + 4 * c;
            uint16_t *cw = r.contexts + base;
            if (!(column_words(cw) & kSignificantBits))
                continue;
            const int32_t *x = r.samples + base;
            for (int q = 0; q < 4; ++q) {
                const uint16_t w = cw[q];
                if ((w & (kCtxSignificant | kCtxVisited)) != kCtxSignificant)
                    continue;
                const uint32_t magnitude = static_cast<uint32_t>(x[q]) & kMagnitudeMask;
                CellOf(r, s, c).distortion += r.refinement_distortion[DistortionIndex(magnitude, p)];
                const uint32_t above = magnitude >> p;
                if constexpr (Raw) {
                    mq_encode_raw(e, static_cast<int>(above & 1));
                } else {
                    const int context = above >= 4                  ? kRefinementContext + 2
                                        : (w & kCtxNeighbours) != 0 ? kRefinementContext + 1
                                                                    : kRefinementContext;
                    mq->code(context, static_cast<int>(above & 1));
                }
            }
        }
    }
}
} // namespace

void encode_significance_pass(block_coding_record &r)
{
    if (raw_passes_due(r))
        SignificancePass<true>(r);
    else
        SignificancePass<false>(r);
}

void encode_refinement_pass(block_coding_record &r)
{
    if (raw_passes_due(r))
        RefinementPass<true>(r);
    else
        RefinementPass<false>(r);
}

void encode_significance_pass_raw(block_coding_record &r)
{
    SignificancePass<true>(r);
}

void encode_refinement_pass_raw(block_coding_record &r)
{
    RefinementPass<true>(r);
}

void install_encoder_passes(encoder_pass_function passes[3])
{
    passes[0] = encode_cleanup_pass;
    passes[1] = encode_significance_pass;
    passes[2] = encode_refinement_pass;
}

} // namespace zn::j2k
