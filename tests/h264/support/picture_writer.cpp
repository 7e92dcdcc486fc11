// Test-side slice writer (see the header). The CABAC contexts follow the reading rules of the draft's
// elements as the tests understand them; a decoder that chose another context would lose the bins.
#include "h264/support/picture_writer.h"

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
        if (m.dir != 1 && s.num_ref_fwd > 1)
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
};

struct CabacMbWriter
{
    CabacSliceData &d;
    const SliceShape &s;
    std::vector<Written> mbs;
    int address = 0;

    const Written *Left() const
    {
        const int x = address % s.width_mbs;
        return x > 0 && mbs[static_cast<size_t>(address - 1)].present ? &mbs[static_cast<size_t>(address - 1)]
                                                                      : nullptr;
    }
    const Written *Above() const
    {
        const int a = address - s.width_mbs;
        return a >= 0 && mbs[static_cast<size_t>(a)].present ? &mbs[static_cast<size_t>(a)] : nullptr;
    }
    bool FieldCoding() const { return s.field_picture; }

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
            r ^= 1;
        return r;
    }

    // First bin by whether the blocks above and to the left refer past index 0, then unary.
    void RefIndex(int list, int value)
    {
        const Written *up = Above(), *left = Left();
        auto counts = [&](const Written *n) {
            if (!n || n->b_mode0)
                return 0;
            int r = n->ref[list];
            if (list == 1 && s.num_ref_bwd >= 2 && (r == 0 || r == 1))
                r = 1 - r; // backward indices count as coded
            return r > 0 ? 1 : 0;
        };
        CabacContext *c = d.mi.ref_no_contexts[0];
        d.Bin(c[2 * counts(up) + counts(left)], value > 0 ? 1 : 0);
        if (value > 0)
            Unary(c + 4, 1, value - 1);
    }

    void Mvd(int list, int comp, int value, bool B)
    {
        (void)B;
        const Written *up = Above(), *left = Left();
        const int sum =
            (left ? std::abs(left->mvd[list][comp]) : 0) + (up ? std::abs(up->mvd[list][comp]) : 0);
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

    void Macroblock(const MbSpec &m)
    {
        const int kind = s.slice_type % 5;
        const bool B = kind == 1;
        Written self;
        self.present = true;
        self.intra = IsIntra(m.kind);
        if (kind != 2)
            SkipBin(B, IsSkip(m.kind) ? 0 : 1);
        if (IsSkip(m.kind)) {
            self.b_mode0 = B;
            self.ref[0] = B ? -1 : 0;
            mbs[static_cast<size_t>(address)] = self;
            return;
        }
        MbType(m);
        self.type = m.kind == MbKind::I16 ? 10 : m.kind == MbKind::I4 ? 9 : m.kind == MbKind::BDirect ? 0 : 1;
        self.b_mode0 = m.kind == MbKind::BDirect;
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
                    if ((list == 0 ? s.num_ref_fwd : s.num_ref_bwd) > 1)
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
        if (s.mbaff && (upper || IsSkip(mbs[k - 1].kind)))
            w.ue(static_cast<uint32_t>(m.field));
        CavlcMacroblock(w, s, m);
    }
    if (run > 0)
        w.ue(static_cast<uint32_t>(run));
}

void WriteCabacMacroblocks(CabacSliceData &d, const SliceShape &s, const std::vector<MbSpec> &mbs)
{
    if (s.mbaff)
        throw std::logic_error("the CABAC writer has no MBAFF pairs");
    CabacMbWriter w{d, s, {}, s.first_mb};
    w.mbs.resize(static_cast<size_t>(s.first_mb) + mbs.size());
    for (size_t k = 0; k < mbs.size(); ++k) {
        w.address = s.first_mb + static_cast<int>(k);
        w.Macroblock(mbs[k]);
        const bool last = k + 1 == mbs.size();
        if (!(last && s.last_mb_of_picture))
            d.EndOfSlice(last ? 1 : 0);
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
