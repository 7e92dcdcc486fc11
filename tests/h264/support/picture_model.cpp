// Test-side picture model (see the header).
#include "h264/support/picture_model.h"

#include <algorithm>
#include <cstdlib>

namespace h264test {

namespace {

int Clip(int v)
{
    return std::clamp(v, 0, 255);
}

const int kNorm[6] = {10, 11, 13, 14, 16, 18}; // normAdjust at positions with both indices even

int G(const Picture &p, int x, int y)
{
    return p.Y(std::clamp(y, 0, p.h - 1), std::clamp(x, 0, p.w - 1));
}
int Tap(int a, int b, int c, int d, int e, int f)
{
    return a - 5 * b + 20 * c + 20 * d - 5 * e + f;
}
int B1(const Picture &p, int x, int y)
{
    return Tap(G(p, x - 2, y), G(p, x - 1, y), G(p, x, y), G(p, x + 1, y), G(p, x + 2, y), G(p, x + 3, y));
}
int H1(const Picture &p, int x, int y)
{
    return Tap(G(p, x, y - 2), G(p, x, y - 1), G(p, x, y), G(p, x, y + 1), G(p, x, y + 2), G(p, x, y + 3));
}
int J(const Picture &p, int x, int y)
{
    return Clip((Tap(H1(p, x - 2, y), H1(p, x - 1, y), H1(p, x, y), H1(p, x + 1, y), H1(p, x + 2, y),
                     H1(p, x + 3, y)) +
                 512) >>
                10);
}
int Avg(int a, int b)
{
    return (a + b) / 2; // the draft truncates
}

} // namespace

const int kChromaQpTable[52] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
                                34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};

Picture Picture::Field(int parity) const
{
    Picture f(w, h / 2);
    for (int r = 0; r < h / 2; ++r)
        for (int c = 0; c < w; ++c)
            f.Y(r, c) = Y(2 * r + parity, c);
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < h / 4; ++r)
            for (int c = 0; c < w / 2; ++c)
                f.C(k, r, c) = C(k, 2 * r + parity, c);
    return f;
}

Picture Picture::Interleave(const Picture &top, const Picture &bottom)
{
    Picture f(top.w, 2 * top.h);
    for (int r = 0; r < f.h; ++r)
        for (int c = 0; c < f.w; ++c)
            f.Y(r, c) = (r % 2 ? bottom : top).Y(r / 2, c);
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < f.h / 2; ++r)
            for (int c = 0; c < f.w / 2; ++c)
                f.C(k, r, c) = (r % 2 ? bottom : top).C(k, r / 2, c);
    return f;
}

Picture Picture::From(const H264PictureRef &ref)
{
    Picture p(ref.width, ref.height);
    for (size_t i = 0; i < p.y.size(); ++i)
        p.y[i] = ref.y[i];
    for (size_t i = 0; i < p.u.size(); ++i) {
        p.u[i] = ref.u[i];
        p.v[i] = ref.v[i];
    }
    return p;
}

std::string FirstDifference(const Picture &want, const Picture &got)
{
    if (want.w != got.w || want.h != got.h)
        return "size " + std::to_string(got.w) + "x" + std::to_string(got.h) + " where " +
               std::to_string(want.w) + "x" + std::to_string(want.h) + " was due";
    for (int r = 0; r < want.h; ++r)
        for (int c = 0; c < want.w; ++c)
            if (got.Y(r, c) != want.Y(r, c))
                return "luma at row " + std::to_string(r) + " column " + std::to_string(c) + ": " +
                       std::to_string(got.Y(r, c)) + " where " + std::to_string(want.Y(r, c)) + " was due";
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < want.h / 2; ++r)
            for (int c = 0; c < want.w / 2; ++c)
                if (got.C(k, r, c) != want.C(k, r, c))
                    return "chroma " + std::to_string(k) + " at row " + std::to_string(r) + " column " +
                           std::to_string(c) + ": " + std::to_string(got.C(k, r, c)) + " where " +
                           std::to_string(want.C(k, r, c)) + " was due";
    return "";
}

void ChromaDcPrediction(const int s[4], bool up, bool left, int dc[2][2])
{
    dc[0][0] = up && left ? (s[0] + s[2] + 4) / 8 : up ? (s[0] + 2) / 4 : left ? (s[2] + 2) / 4 : 128;
    dc[1][0] = up ? (s[1] + 2) / 4 : left ? (s[2] + 2) / 4 : 128;
    dc[0][1] = left ? (s[3] + 2) / 4 : up ? (s[0] + 2) / 4 : 128;
    dc[1][1] = up && left ? (s[1] + s[3] + 4) / 8 : up ? (s[1] + 2) / 4 : left ? (s[3] + 2) / 4 : 128;
}

int LumaQpel(const Picture &p, int xq, int yq)
{
    const int dx = xq & 3, dy = yq & 3, x = (xq - dx) / 4, y = (yq - dy) / 4;
    auto b = [&](int xx, int yy) { return Clip((B1(p, xx, yy) + 16) >> 5); };
    auto h = [&](int xx, int yy) { return Clip((H1(p, xx, yy) + 16) >> 5); };
    switch (dy * 4 + dx) {
    case 0:
        return G(p, x, y);
    case 1:
        return Avg(G(p, x, y), b(x, y));
    case 2:
        return b(x, y);
    case 3:
        return Avg(b(x, y), G(p, x + 1, y));
    case 4:
        return Avg(G(p, x, y), h(x, y));
    case 8:
        return h(x, y);
    case 12:
        return Avg(h(x, y), G(p, x, y + 1));
    case 6:
        return Avg(b(x, y), J(p, x, y));
    case 10:
        return J(p, x, y);
    case 14:
        return Avg(J(p, x, y), b(x, y + 1));
    case 9:
        return Avg(h(x, y), J(p, x, y));
    case 11:
        return Avg(J(p, x, y), h(x + 1, y));
    case 5:
        return Avg(b(x, y), h(x, y));
    case 7:
        return Avg(b(x, y), h(x + 1, y));
    case 13:
        return Avg(h(x, y), b(x, y + 1));
    default: // 15
        return Avg(b(x, y + 1), h(x + 1, y));
    }
}

int ChromaEighth(const Picture &ref, int k, int X, int Y)
{
    const int cw = ref.w / 2, ch = ref.h / 2;
    const int fx = X & 7, fy = Y & 7;
    const int x0 = std::clamp(X >> 3, 0, cw - 1), x1 = std::clamp((X >> 3) + 1, 0, cw - 1);
    const int y0 = std::clamp(Y >> 3, 0, ch - 1), y1 = std::clamp((Y >> 3) + 1, 0, ch - 1);
    return ((8 - fx) * (8 - fy) * ref.C(k, y0, x0) + fx * (8 - fy) * ref.C(k, y0, x1) +
            (8 - fx) * fy * ref.C(k, y1, x0) + fx * fy * ref.C(k, y1, x1) + 32) >>
           6;
}

int I16DcOffset(int level, int qp)
{
    const int ls = 16 * kNorm[qp % 6];
    const int dc =
        qp >= 36 ? (level * ls) << (qp / 6 - 6) : (level * ls + (1 << (5 - qp / 6))) >> (6 - qp / 6);
    return (dc + 32) >> 6;
}

int BlockDcOffset(int level, int qp)
{
    return ((level * kNorm[qp % 6] << (qp / 6)) + 32) >> 6;
}

int ChromaDcOffset(int level, int qp)
{
    const int qc = kChromaQpTable[qp];
    const int dc = ((level * 16 * kNorm[qc % 6]) << (qc / 6)) >> 5;
    return (dc + 32) >> 6;
}

Picture IntraDcPicture(int wMbs, int hMbs, const std::vector<MbSpec> &mbs, const std::vector<int> &slice,
                       int qp)
{
    Picture p(16 * wMbs, 16 * hMbs);
    auto sameSlice = [&](int a, int b) {
        return slice[static_cast<size_t>(a)] == slice[static_cast<size_t>(b)];
    };
    for (int n = 0; n < wMbs * hMbs; ++n) {
        const MbSpec &m = mbs[static_cast<size_t>(n)];
        const int mx = n % wMbs, my = n / wMbs, X = 16 * mx, Y = 16 * my;
        const bool up = my > 0 && sameSlice(n, n - wMbs), left = mx > 0 && sameSlice(n, n - 1);
        if (m.kind == MbKind::I16) {
            int sa = 0, sl = 0;
            for (int k = 0; k < 16; ++k) {
                sa += up ? p.Y(Y - 1, X + k) : 0;
                sl += left ? p.Y(Y + k, X - 1) : 0;
            }
            const int pred = up && left ? (sa + sl + 16) / 32
                             : up       ? (sa + 8) / 16
                             : left     ? (sl + 8) / 16
                                        : 128;
            const int v = Clip(pred + I16DcOffset(m.luma_dc, qp));
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    p.Y(Y + y, X + x) = v;
        } else {
            // 4x4 blocks in decoding order: quadrants, then blocks inside.
            for (int q = 0; q < 4; ++q)
                for (int b = 0; b < 4; ++b) {
                    const int i = 2 * (q % 2) + b % 2, j = 2 * (q / 2) + b / 2;
                    const int bx = X + 4 * i, by = Y + 4 * j;
                    const bool bu = j > 0 || up, bl = i > 0 || left;
                    int sa = 0, sl = 0;
                    for (int k = 0; k < 4; ++k) {
                        sa += bu ? p.Y(by - 1, bx + k) : 0;
                        sl += bl ? p.Y(by + k, bx - 1) : 0;
                    }
                    const int pred = bu && bl ? (sa + sl + 4) >> 3
                                     : bu     ? (sa + 2) / 4
                                     : bl     ? (sl + 2) / 4
                                              : 128;
                    const int v = Clip(pred + BlockDcOffset(m.block_dc[i + 4 * j], qp));
                    for (int y = 0; y < 4; ++y)
                        for (int x = 0; x < 4; ++x)
                            p.Y(by + y, bx + x) = v;
                }
        }
        for (int k = 0; k < 2; ++k) {
            const int cx = X / 2, cy = Y / 2;
            int s[4] = {};
            for (int t = 0; t < 4; ++t) {
                s[0] += up ? p.C(k, cy - 1, cx + t) : 0;
                s[1] += up ? p.C(k, cy - 1, cx + 4 + t) : 0;
                s[2] += left ? p.C(k, cy + t, cx - 1) : 0;
                s[3] += left ? p.C(k, cy + 4 + t, cx - 1) : 0;
            }
            int dc[2][2];
            ChromaDcPrediction(s, up, left, dc);
            const int off = ChromaDcOffset(m.chroma_dc[k], qp);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    p.C(k, cy + y, cx + x) = Clip(dc[x / 4][y / 4] + off);
        }
    }
    return p;
}

void MotionCompensate(Picture &out, const Picture &ref, int mbx, int mby, int mvx, int mvy)
{
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            out.Y(16 * mby + y, 16 * mbx + x) =
                LumaQpel(ref, 4 * (16 * mbx + x) + mvx, 4 * (16 * mby + y) + mvy);
    for (int k = 0; k < 2; ++k)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                out.C(k, 8 * mby + y, 8 * mbx + x) =
                    ChromaEighth(ref, k, mvx + 8 * (8 * mbx + x), mvy + 8 * (8 * mby + y));
}

void Predict16x16(const std::vector<MbMotion> &f, int wMbs, int mbx, int mby, int r, int &px, int &py)
{
    auto at = [&](int x, int y) -> const MbMotion * {
        if (x < 0 || y < 0 || x >= wMbs)
            return nullptr;
        const MbMotion &m = f[static_cast<size_t>(y * wMbs + x)];
        return m.coded ? &m : nullptr;
    };
    const MbMotion *A = at(mbx - 1, mby), *B = at(mbx, mby - 1), *C = at(mbx + 1, mby - 1),
                   *D = at(mbx - 1, mby - 1);
    const MbMotion *Cx = C ? C : D;
    const int ra = A ? A->ref : -1, rb = B ? B->ref : -1, rc = Cx ? Cx->ref : -1;
    const int ax = A ? A->mv[0] : 0, ay = A ? A->mv[1] : 0;
    const int bx = B ? B->mv[0] : 0, by = B ? B->mv[1] : 0;
    const int cx = Cx ? Cx->mv[0] : 0, cy = Cx ? Cx->mv[1] : 0;
    const int matches = (ra == r) + (rb == r) + (rc == r);
    auto median = [](int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); };
    if (matches == 1) {
        px = ra == r ? ax : rb == r ? bx : cx;
        py = ra == r ? ay : rb == r ? by : cy;
    } else if (!B && !C && !D) {
        px = ax;
        py = ay;
    } else {
        px = median(ax, bx, cx);
        py = median(ay, by, cy);
    }
}

} // namespace h264test

#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "h264dec/picture_output.h"
#include "platform/messages.h"

namespace h264test {

DecodeRunResult DecodeRun(const std::vector<uint8_t> &stream, int max_pictures)
{
    DecodeRunResult r;
    r.dec = std::make_unique<H264DecoderState>();
    r.sink = std::make_unique<RecordingSink>();
    r.dec->sink = r.sink.get();
    zn::MessageRecorder recorder;
    h264dec_open_memory(*r.dec, stream);
    try {
        while (r.pictures < max_pictures && h264dec_decode_picture(*r.dec, true) == 2) {
            ++r.pictures;
            dec_clear_picture_counters(*r.dec);
        }
        h264dec_output_stored_picture(*r.dec, r.dec->analysis.vis_pic_type);
    } catch (const zn::RunAborted &e) {
        r.failed = true;
        r.message = e.what();
    }
    r.messages_shown = static_cast<int>(recorder.Messages().size());
    return r;
}

} // namespace h264test
