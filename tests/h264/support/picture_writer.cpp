// Test-side slice writer (see the header). The CABAC contexts follow the reading rules of the draft's
// elements as the tests understand them; a decoder that chose another context would lose the bins.
#include "h264/support/picture_writer.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace h264test {

namespace {

bool IsSkip(MbKind k)
{
    return k == MbKind::PSkip || k == MbKind::BSkip;
}
bool IsIntra(MbKind k)
{
    return k == MbKind::I16 || k == MbKind::I4;
}

// The test a lower macroblock of an MBAFF pair applies to the upper one before its own flag: skipped,
// or in B slices a direct macroblock without residual.
bool CountsSkipped(const MbSpec &m, const SliceShape &s)
{
    return IsSkip(m.kind) || (s.slice_type % 5 == 1 && m.kind == MbKind::BDirect);
}

int CbpCodeNumber(int cbp, bool intra)
{
    for (int k = 0; k < 48; ++k)
        if (kCodedBlockPattern[k][intra ? 0 : 1] == cbp)
            return k;
    throw std::logic_error("no code number for the pattern");
}

// The pattern an intra macroblock carries: I16 luma never, chroma DC when a level is given; I4 every
// luma quadrant that holds a DC level.
int ChromaClass(const MbSpec &m)
{
    return m.chroma_dc[0] || m.chroma_dc[1] ? 1 : 0;
}
int I4LumaCbp(const MbSpec &m)
{
    int cbp = 0;
    for (int b = 0; b < 16; ++b)
        if (m.block_dc[b])
            cbp |= 1 << (2 * ((b / 4) / 2) + (b % 4) / 2);
    return cbp;
}
int Cbp(const MbSpec &m)
{
    if (m.kind == MbKind::I16)
        return 16 * ChromaClass(m);
    if (m.kind == MbKind::I4)
        return I4LumaCbp(m) + 16 * ChromaClass(m);
    return 0;
}
// Macroblock-type value of an intra macroblock in each slice kind.
int I16TypeOffset(const MbSpec &m)
{
    return m.i16_mode + 4 * ChromaClass(m);
}

// Quadrant q, block b inside it -> raster block index.
int RasterBlock(int q, int b)
{
    const int i = 2 * (q % 2) + b % 2, j = 2 * (q / 2) + b / 2;
    return i + 4 * j;
}

void CavlcResidual(BitWriter &w, const MbSpec &m)
{
    if (m.kind == MbKind::I16) {
        int dc[16] = {};
        dc[0] = m.luma_dc;
        WriteCavlcBlock(w, dc, 16, 0);
    } else if (m.kind == MbKind::I4) {
        const int cbp = I4LumaCbp(m);
        for (int q = 0; q < 4; ++q) {
            if (!(cbp & (1 << q)))
                continue;
            for (int b = 0; b < 4; ++b) {
                int blk[16] = {};
                blk[0] = m.block_dc[RasterBlock(q, b)];
                // Blocks hold at most one level, so every neighbour average stays in the first table.
                WriteCavlcBlock(w, blk, 16, 0);
            }
        }
    }
    if (ChromaClass(m))
        for (int c = 0; c < 2; ++c) {
            int dc[4] = {m.chroma_dc[c], 0, 0, 0};
            WriteCavlcBlock(w, dc, 4, -1);
        }
}

void CavlcMacroblock(BitWriter &w, const SliceShape &s, const MbSpec &m)
{
    const int kind = s.slice_type % 5;
    const bool I = kind == 2, B = kind == 1;
    switch (m.kind) {
    case MbKind::I16:
        w.ue(static_cast<uint32_t>((I ? 1 : B ? 24 : 6) + I16TypeOffset(m)));
        break;
    case MbKind::I4:
        w.ue(I ? 0u : B ? 23u : 5u);
        for (int k = 0; k < 16; ++k)
            w.u(1, 1); // the predicted mode
        break;
    case MbKind::P16x16:
        w.ue(0);
        // Field macroblocks of MBAFF frames count the references of both fields.
        if (s.num_ref_fwd * (s.mbaff && m.field ? 2 : 1) > 1)
            w.ue(static_cast<uint32_t>(m.ref[0]));
        w.se(m.mvd[0][0]);
        w.se(m.mvd[0][1]);
        break;
    case MbKind::BDirect:
        w.ue(0);
        break;
    case MbKind::B16x16:
        w.ue(static_cast<uint32_t>(1 + m.dir));
        if (m.dir != 1 && s.num_ref_fwd * (s.mbaff && m.field ? 2 : 1) > 1)
            w.ue(static_cast<uint32_t>(m.ref[0]));
        if (m.dir != 0 && s.num_ref_bwd > 1)
            w.ue(static_cast<uint32_t>(m.ref[1]));
        for (int list = 0; list < 2; ++list)
            if (m.dir == 2 || m.dir == list) {
                w.se(m.mvd[list][0]);
                w.se(m.mvd[list][1]);
            }
        break;
    default:
        throw std::logic_error("skipped macroblocks are runs");
    }
    if (IsIntra(m.kind))
        w.ue(static_cast<uint32_t>(m.chroma_mode));
    if (m.kind != MbKind::I16)
        w.ue(static_cast<uint32_t>(CbpCodeNumber(Cbp(m), IsIntra(m.kind))));
    if (m.kind == MbKind::I16 || Cbp(m) != 0)
        w.se(0);
    CavlcResidual(w, m);
}

// ---------------------------------------------------------------------------------------------
// CABAC

// What a written macroblock leaves for its neighbours' contexts.
struct Written
{
    bool present = false;
    int type = 0; // 0 skipped or direct, 1 inter 16x16, 9 intra 4x4, 10 intra 16x16
    int cbp = 0;
    int chroma_mode = 2;
    unsigned cbp_bits = 0; // coded block flags: 0 luma DC, 1 + x + 4y luma, 17/18 chroma DC
    int mvd[2][2] = {};
    int ref[2] = {-1, -1}; // stored reference indices, -1 for none
    bool b_mode0 = false;
    bool intra = false;
    int field = 0; // MBAFF: a field macroblock
};

// Reference indices per 4x4 block as the decoder keeps them for the context of the next index: one
// frame form and, in MBAFF frames, a form per field in field rows. A field macroblock's index goes
// to the frame form halved, a frame macroblock's to the field forms doubled (-1 stays -1). Indices
// the writer does not model (derived by direct prediction) are kUnknownRef.
constexpr int kUnknownRef = -99;
struct RefForms
{
    int width = 0;                          // in 4x4 blocks
    std::vector<int> frame[2], field[2][2]; // [list] and [parity][list], row-major
    void Resize(int wBlocks, int hBlocks)
    {
        width = wBlocks;
        for (int l = 0; l < 2; ++l) {
            frame[l].assign(static_cast<size_t>(wBlocks * hBlocks), -1);
            for (int p = 0; p < 2; ++p)
                field[p][l].assign(static_cast<size_t>(wBlocks * (hBlocks / 2 + 1)), -1);
        }
    }
    int &Frame(int list, int y, int x) { return frame[list][static_cast<size_t>(y * width + x)]; }
    int &Field(int parity, int list, int y, int x)
    {
        return field[parity][list][static_cast<size_t>(y * width + x)];
    }
};
int HalfRef(int r)
{
    return r == kUnknownRef || r < 0 ? r : r / 2;
}
int DoubleRef(int r)
{
    return r == kUnknownRef || r < 0 ? r : 2 * r;
}

struct CabacMbWriter
{
    CabacSliceData &d;
    const SliceShape &s;
    std::vector<Written> mbs; // by macroblock index (row-major, also in MBAFF frames)
    RefForms refs;
    int address = 0; // index of the current macroblock
    int mb_x = 0, mb_y = 0;
    int field = 0; // the current macroblock is a field macroblock of an MBAFF frame

    // Decoding position c -> macroblock index: MBAFF frames go pair by pair, upper member first.
    void Place(int c)
    {
        const int w = s.width_mbs;
        if (s.mbaff) {
            mb_x = (c % (2 * w)) / 2;
            mb_y = 2 * (c / (2 * w)) + c % 2;
        } else {
            mb_x = c % w;
            mb_y = c / w;
        }
        address = mb_y * w + mb_x;
    }
    const Written *At(int index) const
    {
        return index >= 0 && index < static_cast<int>(mbs.size()) && mbs[static_cast<size_t>(index)].present
                   ? &mbs[static_cast<size_t>(index)]
                   : nullptr;
    }
    // Neighbours in frame addressing: the macroblock left of this one in the same row, and the one
    // above it, which a field macroblock of an MBAFF frame only has from its second pair row on.
    const Written *Left() const { return mb_x > 0 ? At(address - 1) : nullptr; }
    const Written *Above() const
    {
        const int minRow = s.mbaff && field ? 2 : 1;
        return mb_y >= minRow ? At(address - s.width_mbs) : nullptr;
    }
    bool FieldCoding() const { return s.field_picture || (s.mbaff && field); }

    // The field decoding flag: its context counts field pairs among the same member of the pair
    // above and of the pair to the left.
    void FieldFlag(int value)
    {
        const Written *up = mb_y >= 2 ? At(address - 2 * s.width_mbs) : nullptr;
        const Written *left = mb_x > 0 ? At(address - 1) : nullptr;
        const int a = up && up->field, b = left && left->field;
        d.Bin(d.mi.mb_aff_contexts[a + b], value);
    }

    void Unary(CabacContext *c, int step, int value)
    {
        // cabac_unary: first bin c[0]; then further ones at c[step] before a 0.
        if (value == 0) {
            d.Bin(c[0], 0);
            return;
        }
        d.Bin(c[0], 1);
        for (int k = 1; k < value; ++k)
            d.Bin(c[step], 1);
        d.Bin(c[step], 0);
    }

    void SkipBin(bool B, int bin)
    {
        const Written *up = Above(), *left = Left();
        if (B) {
            const int a = up && (up->type != 0 || up->cbp != 0);
            const int b = left && (left->type != 0 || left->cbp != 0);
            d.Bin(d.mi.mb_type_contexts[2][7 + a + b], bin);
        } else {
            const int a = up && up->type != 0, b = left && left->type != 0;
            d.Bin(d.mi.mb_type_contexts[1][a + b], bin);
        }
    }

    // The intra 16x16 bins after the prefix: luma pattern, chroma pattern, prediction mode.
    void I16Bins(CabacContext &luma, CabacContext &chroma, CabacContext &chroma2, CabacContext &mode1,
                 CabacContext &mode2, const MbSpec &m)
    {
        d.Bin(luma, 0);
        d.Bin(chroma, ChromaClass(m) ? 1 : 0);
        if (ChromaClass(m))
            d.Bin(chroma2, 0); // chroma DC only: +4
        d.Bin(mode1, (m.i16_mode >> 1) & 1);
        d.Bin(mode2, m.i16_mode & 1);
    }

    void MbType(const MbSpec &m)
    {
        const int kind = s.slice_type % 5;
        const Written *up = Above(), *left = Left();
        if (kind == 2) {
            CabacContext *c = d.mi.mb_type_contexts[0];
            const int a = up && up->type != 9, b = left && left->type != 9;
            d.Bin(c[a + b], m.kind == MbKind::I4 ? 0 : 1);
            if (m.kind == MbKind::I16)
                I16Bins(c[4], c[5], c[6], c[7], c[8], m);
            return;
        }
        CabacContext *p = d.mi.mb_type_contexts[1];
        if (kind == 0 || kind == 3) { // P and SP
            if (m.kind == MbKind::P16x16) {
                d.Bin(p[4], 0);
                d.Bin(p[5], 0);
                d.Bin(p[6], 0);
                return;
            }
            d.Bin(p[4], 1);
            d.Bin(p[7], m.kind == MbKind::I4 ? 0 : 1);
            if (m.kind == MbKind::I16)
                I16Bins(p[8], p[9], p[9], p[10], p[10], m);
            return;
        }
        CabacContext *c = d.mi.mb_type_contexts[2];
        const int a = up && up->type != 0, b = left && left->type != 0;
        if (m.kind == MbKind::BDirect) {
            d.Bin(c[a + b], 0);
            return;
        }
        d.Bin(c[a + b], 1);
        if (m.kind == MbKind::B16x16 && m.dir < 2) {
            d.Bin(c[4], 0);
            d.Bin(c[6], m.dir);
            return;
        }
        d.Bin(c[4], 1);
        if (m.kind == MbKind::B16x16) { // both directions: value 3
            d.Bin(c[5], 0);
            d.Bin(c[6], 0);
            d.Bin(c[6], 0);
            d.Bin(c[6], 0);
            return;
        }
        d.Bin(c[5], 1);
        d.Bin(c[6], 1);
        d.Bin(c[6], 0);
        d.Bin(c[6], 1);
        d.Bin(c[6], m.kind == MbKind::I16 ? 1 : 0);
        if (m.kind == MbKind::I16)
            I16Bins(p[8], p[9], p[9], p[10], p[10], m);
    }

    void ChromaMode(int mode)
    {
        const Written *up = Above(), *left = Left();
        const int a = up && up->chroma_mode != 0, b = left && left->chroma_mode != 0;
        CabacContext *c = d.ti.cipr_contexts;
        d.Bin(c[a + b], mode > 0 ? 1 : 0);
        if (mode == 0)
            return;
        for (int k = 0; k < mode - 1; ++k)
            d.Bin(c[3], 1);
        if (mode - 1 < 2)
            d.Bin(c[3], 0);
    }

    void CbpBins(int cbp)
    {
        const Written *up = Above(), *left = Left();
        for (int q = 0; q < 4; ++q) {
            const int qx = q % 2, qy = q / 2;
            int u = 0, l = 0;
            if (qy > 0)
                u = !((cbp >> (q - 2)) & 1);
            else if (up)
                u = !((up->cbp >> (2 + qx)) & 1);
            if (qx > 0)
                l = !((cbp >> (q - 1)) & 1);
            else if (left)
                l = !((left->cbp >> (q + 1)) & 1);
            d.Bin(d.ti.cbp_contexts[0][2 * u + l], (cbp >> q) & 1);
        }
        const int u1 = up && up->cbp > 15, l1 = left && left->cbp > 15;
        d.Bin(d.ti.cbp_contexts[1][2 * u1 + l1], cbp > 15 ? 1 : 0);
        if (cbp > 15) {
            const int u2 = up && up->cbp > 31, l2 = left && left->cbp > 31;
            d.Bin(d.ti.cbp_contexts[2][2 * u2 + l2], cbp > 31 ? 1 : 0);
        }
    }

    // One block holding a single level at its first position: coded block flag, significance, level.
    // type: 0 luma DC of intra 16x16, 5 luma 4x4, 6 chroma DC; bit: the flag's position.
    void Block(Written &self, int type, int bit, bool aboveInside, int aboveBit, bool leftInside, int leftBit,
               int level)
    {
        static const int kCbfRow[8] = {0, 1, 2, 2, 3, 4, 5, 6};
        static const int kLevelRow[8] = {0, 1, 2, 3, 3, 4, 5, 6};
        const Written *up = Above(), *left = Left();
        const int intraFlag = self.intra ? 1 : 0;
        const int a = aboveInside ? (self.cbp_bits >> aboveBit) & 1
                      : up        ? (up->cbp_bits >> aboveBit) & 1
                                  : intraFlag;
        const int l = leftInside ? (self.cbp_bits >> leftBit) & 1
                      : left     ? (left->cbp_bits >> leftBit) & 1
                                 : intraFlag;
        d.Bin(d.ti.bcbp_contexts[kCbfRow[type]][2 * a + l], level != 0 ? 1 : 0);
        if (level == 0)
            return;
        self.cbp_bits |= 1u << bit;
        CabacContext(*map)[15] = FieldCoding() ? d.ti.fld_map_contexts : d.ti.map_contexts;
        CabacContext(*last)[15] = FieldCoding() ? d.ti.fld_last_contexts : d.ti.last_contexts;
        d.Bin(map[type][0], 1);
        d.Bin(last[type][0], 1);
        const int row = kLevelRow[type], mag = std::abs(level);
        d.Bin(d.ti.one_contexts[row][1], mag > 1 ? 1 : 0);
        if (mag > 1) {
            const int suffix = mag - 2;
            for (int k = 0; k < std::min(suffix, 13); ++k)
                d.Bin(d.ti.abs_contexts[row][0], 1);
            if (suffix < 13)
                d.Bin(d.ti.abs_contexts[row][0], 0);
            else
                d.ExpGolomb(suffix - 13, 0);
        }
        d.Bypass(level < 0 ? 1 : 0);
    }

    // The index as the decoder keeps it: backward 0 and 1 exchanged with two or more backward
    // references, the low bit inverted in field pictures.
    int StoredRef(int list, int r) const
    {
        if (list == 1 && s.num_ref_bwd >= 2 && r <= 1)
            r = 1 - r;
        if (s.field_picture)
            r ^= 1; // field pictures only: MBAFF field macroblocks store the index as coded
        return r;
    }

    // The index this macroblock's first 4x4 block sees above it / left of it, in the form it reads:
    // its field's rows for a field macroblock of an MBAFF frame, frame rows otherwise.
    int NeighbourRef(int list, bool above) const
    {
        RefForms &r = const_cast<RefForms &>(refs);
        const int x = 4 * mb_x;
        if (s.mbaff && field) {
            const int parity = mb_y % 2, y = 4 * (mb_y / 2);
            return above ? r.Field(parity, list, y - 1, x) : r.Field(parity, list, y, x - 1);
        }
        const int y = 4 * mb_y;
        return above ? r.Frame(list, y - 1, x) : r.Frame(list, y, x - 1);
    }

    // First bin by whether the blocks above and to the left refer past index 0, then unary. A
    // neighbour counts when its macroblock exists and is no direct B macroblock.
    void RefIndex(int list, int value)
    {
        const int viewRow = s.mbaff && field ? mb_y / 2 : mb_y;
        auto counts = [&](const Written *n, bool above) {
            if (!n || n->b_mode0 || (above && viewRow == 0))
                return 0;
            int r = NeighbourRef(list, above);
            if (r == kUnknownRef)
                throw std::logic_error("the writer does not model a direct neighbour's reference index");
            if (list == 1 && s.num_ref_bwd >= 2 && (r == 0 || r == 1))
                r = 1 - r; // backward indices count as coded
            return r > 0 ? 1 : 0;
        };
        CabacContext *c = d.mi.ref_no_contexts[0];
        d.Bin(c[2 * counts(Above(), true) + counts(Left(), false)], value > 0 ? 1 : 0);
        if (value > 0)
            Unary(c + 4, 1, value - 1);
    }

    // Records this macroblock's indices in every form.
    void StoreRefs(const Written &self)
    {
        const int x0 = 4 * mb_x;
        for (int list = 0; list < 2; ++list)
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) {
                    const int r = self.ref[list];
                    if (!s.mbaff) {
                        refs.Frame(list, 4 * mb_y + j, x0 + i) = r;
                    } else if (field) {
                        const int parity = mb_y % 2, pairRow = mb_y / 2;
                        refs.Field(parity, list, 4 * pairRow + j, x0 + i) = r;
                        refs.Frame(list, 8 * pairRow + 2 * j + parity, x0 + i) = HalfRef(r);
                    } else {
                        const int fy = 4 * mb_y + j;
                        refs.Frame(list, fy, x0 + i) = r;
                        refs.Field(fy % 2, list, fy / 2, x0 + i) = DoubleRef(r);
                    }
                }
    }

    void Mvd(int list, int comp, int value, bool B)
    {
        (void)B;
        // Vertical differences of MBAFF neighbours of the other form are rescaled to this one's rows.
        auto scaled = [&](const Written *n) {
            if (!n)
                return 0;
            int v = std::abs(n->mvd[list][comp]);
            if (comp == 1 && s.mbaff && n->field != field)
                v = n->field ? 2 * v : v / 2;
            return v;
        };
        const int sum = scaled(Left()) + scaled(Above());
        const int inc = sum < 3 ? 0 : sum <= 32 ? 2 : 3;
        CabacContext *first = d.mi.mv_res_contexts[0] + 5 * comp;
        CabacContext *further = d.mi.mv_res_contexts[1] + 5 * comp;
        d.Bin(first[inc], value != 0 ? 1 : 0);
        if (value == 0)
            return;
        d.Bypass(value < 0 ? 1 : 0);
        const int u = std::abs(value) - 1;
        for (int k = 0; k < std::min(u, 8); ++k)
            d.Bin(further[std::min(k, 3)], 1);
        if (u < 8)
            d.Bin(further[std::min(u, 3)], 0);
        else
            d.ExpGolomb(u - 8, 3);
    }

    // The skip bin (P and B slices): whether the macroblock is skipped.
    void Skip(const MbSpec &m)
    {
        const int kind = s.slice_type % 5;
        if (kind != 2)
            SkipBin(kind == 1, IsSkip(m.kind) ? 0 : 1);
    }

    // Everything after the skip bin and the field flag.
    void Macroblock(const MbSpec &m)
    {
        const int kind = s.slice_type % 5;
        const bool B = kind == 1;
        Written self;
        self.present = true;
        self.field = field;
        self.intra = IsIntra(m.kind);
        if (IsSkip(m.kind)) {
            self.b_mode0 = B;
            self.ref[0] = B ? kUnknownRef : 0;
            self.ref[1] = B ? kUnknownRef : -1;
            mbs[static_cast<size_t>(address)] = self;
            StoreRefs(self);
            return;
        }
        MbType(m);
        self.type = m.kind == MbKind::I16 ? 10 : m.kind == MbKind::I4 ? 9 : m.kind == MbKind::BDirect ? 0 : 1;
        self.b_mode0 = m.kind == MbKind::BDirect;
        if (self.b_mode0)
            self.ref[0] = self.ref[1] = kUnknownRef;
        if (m.kind == MbKind::I4)
            for (int k = 0; k < 16; ++k)
                d.Bin(d.ti.ipr_contexts[0], 0); // the predicted mode
        if (self.intra) {
            ChromaMode(m.chroma_mode);
            self.chroma_mode = m.chroma_mode;
        }
        if (m.kind == MbKind::P16x16 || m.kind == MbKind::B16x16) {
            auto uses = [&](int list) { return B ? m.dir == 2 || m.dir == list : list == 0; };
            for (int list = 0; list < 2; ++list)
                if (uses(list)) {
                    self.ref[list] = StoredRef(list, m.ref[list]);
                    // Field macroblocks of MBAFF frames count the forward references of both fields.
                    const int count = list == 0 ? s.num_ref_fwd * (s.mbaff && field ? 2 : 1) : s.num_ref_bwd;
                    if (count > 1)
                        RefIndex(list, m.ref[list]);
                }
            for (int list = 0; list < 2; ++list) {
                if (!uses(list))
                    continue;
                Mvd(list, 0, m.mvd[list][0], B);
                Mvd(list, 1, m.mvd[list][1], B);
                self.mvd[list][0] = m.mvd[list][0];
                self.mvd[list][1] = m.mvd[list][1];
            }
        }
        const int cbp = Cbp(m);
        self.cbp = cbp;
        if (m.kind != MbKind::I16)
            CbpBins(cbp);
        if (m.kind == MbKind::I16 || cbp != 0)
            d.Bin(d.mi.delta_qp_contexts[0], 0); // no macroblock here changes the quantiser
        if (m.kind == MbKind::I16)
            Block(self, 0, 0, false, 0, false, 0, m.luma_dc);
        if (m.kind == MbKind::I4)
            for (int q = 0; q < 4; ++q) {
                if (!(cbp & (1 << q)))
                    continue;
                for (int b = 0; b < 4; ++b) {
                    const int r = RasterBlock(q, b), x = r % 4, y = r / 4, h = 1 + r;
                    Block(self, 5, h, y > 0, y > 0 ? h - 4 : h + 12, x > 0, x > 0 ? h - 1 : h + 3,
                          m.block_dc[r]);
                }
            }
        if (cbp > 15)
            for (int c = 0; c < 2; ++c)
                Block(self, 6, 17 + c, false, 17 + c, false, 17 + c, m.chroma_dc[c]);
        mbs[static_cast<size_t>(address)] = self;
        StoreRefs(self);
    }
};

} // namespace

void WriteCavlcMacroblocks(BitWriter &w, const SliceShape &s, const std::vector<MbSpec> &mbs)
{
    const bool intraSlice = s.slice_type % 5 == 2;
    int run = 0;
    for (size_t k = 0; k < mbs.size(); ++k) {
        const MbSpec &m = mbs[k];
        const bool upper = s.mbaff && k % 2 == 0;
        if (intraSlice) {
            if (upper)
                w.ue(static_cast<uint32_t>(m.field));
            CavlcMacroblock(w, s, m);
            continue;
        }
        if (IsSkip(m.kind)) {
            ++run;
            continue;
        }
        w.ue(static_cast<uint32_t>(run));
        // MBAFF: a skipped upper macroblock whose run ends with it sends the pair's flag after the run;
        // the lower one sends it again before its type.
        if (s.mbaff && !upper && run > 0 && IsSkip(mbs[k - 1].kind))
            w.ue(static_cast<uint32_t>(m.field));
        run = 0;
        // A direct B macroblock without residual counts as skipped here too.
        if (s.mbaff && (upper || CountsSkipped(mbs[k - 1], s)))
            w.ue(static_cast<uint32_t>(m.field));
        CavlcMacroblock(w, s, m);
    }
    if (run > 0)
        w.ue(static_cast<uint32_t>(run));
}

void WriteCabacMacroblocks(CabacSliceData &d, const SliceShape &s, const std::vector<MbSpec> &mbs)
{
    CabacMbWriter w{d, s, {}, {}};
    const int first = s.mbaff ? 2 * s.first_mb : s.first_mb;
    const int count = static_cast<int>(mbs.size());
    int rows = 1;
    for (int k = 0; k < count; ++k) {
        w.Place(first + k);
        rows = std::max(rows, w.mb_y + 1);
    }
    w.mbs.resize(static_cast<size_t>(rows * s.width_mbs));
    w.refs.Resize(4 * s.width_mbs, 4 * rows);
    const int kind = s.slice_type % 5;
    auto endOfMacroblock = [&](int k) {
        const bool last = k + 1 == count;
        if (!(last && s.last_mb_of_picture))
            d.EndOfSlice(last ? 1 : 0);
    };
    if (!s.mbaff) {
        for (int k = 0; k < count; ++k) {
            w.Place(first + k);
            w.Skip(mbs[static_cast<size_t>(k)]);
            w.Macroblock(mbs[static_cast<size_t>(k)]);
            endOfMacroblock(k);
        }
        return;
    }
    if (count % 2 != 0)
        throw std::logic_error("MBAFF slices hold whole pairs");
    for (int k = 0; k < count; k += 2) {
        const MbSpec &upper = mbs[static_cast<size_t>(k)], &lower = mbs[static_cast<size_t>(k + 1)];
        // The pair's flag. A skipped upper macroblock of a P slice takes the lower one's, or 0 when
        // both are skipped; it is then sent with the lower macroblock only.
        const bool pUpperSkipped = kind != 1 && IsSkip(upper.kind);
        const int pairField = pUpperSkipped ? (IsSkip(lower.kind) ? 0 : lower.field) : upper.field;
        // Upper member: skip bin, flag (unless a skipped P macroblock), the rest. No end-of-slice bin.
        w.Place(first + k);
        w.field = 0; // the upper macroblock's neighbours are found before its flag is known
        w.Skip(upper);
        if (!pUpperSkipped) {
            w.field = 0;
            w.FieldFlag(pairField);
        }
        w.field = pairField;
        w.Macroblock(upper);
        // Lower member: skip bin; the flag again when the upper one counted as skipped (B: no
        // residual either) and this one is not.
        const Written &u = w.mbs[static_cast<size_t>(w.address)];
        const bool upperCountsSkipped = u.type == 0 && (kind != 1 || u.cbp == 0) && kind != 2;
        w.Place(first + k + 1);
        w.field = pairField;
        w.Skip(lower);
        if (upperCountsSkipped && !IsSkip(lower.kind))
            w.FieldFlag(pairField);
        w.Macroblock(lower);
        endOfMacroblock(k + 1);
    }
}

void WriteSlice(StreamBuilder &b, const SliceOfPicture &sl, int picture_mbs)
{
    SliceShape shape;
    shape.width_mbs = b.sps.frame_width_in_mbs_minus1 + 1;
    shape.slice_type = sl.header.slice_type;
    shape.first_mb = sl.header.first_mb_in_slice;
    shape.num_ref_fwd = sl.header.num_ref_idx_override_flag ? sl.header.num_ref_pic_active_fwd_minus1 + 1 : 0;
    shape.num_ref_bwd = sl.header.num_ref_idx_override_flag ? sl.header.num_ref_pic_active_bwd_minus1 + 1 : 0;
    shape.field_picture = sl.header.field_pic_flag != 0;
    shape.mbaff = b.sps.mb_adaptive_frame_field_flag && !sl.header.field_pic_flag;
    shape.qp = 26 + b.pps.pic_init_qp_minus26 + sl.header.slice_qp_delta;
    const int first = shape.mbaff ? 2 * shape.first_mb : shape.first_mb;
    shape.last_mb_of_picture = first + static_cast<int>(sl.mbs.size()) == picture_mbs;
    if (b.pps.entropy_coding_mode)
        b.CabacSlice(
            sl.header, sl.idr, [&](CabacSliceData &d) { WriteCabacMacroblocks(d, shape, sl.mbs); },
            sl.nal_ref_idc);
    else
        b.CavlcSlice(
            sl.header, sl.idr, [&](BitWriter &w) { WriteCavlcMacroblocks(w, shape, sl.mbs); },
            sl.nal_ref_idc);
}

} // namespace h264test
