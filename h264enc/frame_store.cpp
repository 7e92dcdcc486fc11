// Frame stores. The short-term list is kept newest first by rotation: the slot of the oldest picture is
// reused for the newest, so no plane is ever copied when a reference is added.
#include "h264enc/frame_store.h"

#include "h264dec/h264_shared.h"
#include "h264enc/enc_params.h"
#include "platform/log.h"

#include <algorithm>
#include <new>

namespace h264enc {

namespace {

void BuildStore(ReferenceStore &store, int slots, int width, int height, bool weighted, const char *storeText,
                const char *listText, const char *bufText, const char *bufWText)
{
    store = ReferenceStore();
    try {
        store.picbuf_short.resize(static_cast<size_t>(slots));
    } catch (const std::bad_alloc &) {
        out_of_memory_exit(storeText);
    }
    for (auto &slot : store.picbuf_short) {
        try {
            slot = std::make_unique<RefFrame>();
        } catch (const std::bad_alloc &) {
            out_of_memory_exit(listText);
        }
        slot->mref.allocate(4 * height + 32, 4 * width + 32, "get_mem2D: array2D");
        slot->mcef.allocate(2, height / 2, width / 2, "get_mem3D: array3D");
        if (CheckedBytes(width, height, 1) < 0)
            out_of_memory_exit(bufText);
        try {
            slot->Refbuf11.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
            if (weighted)
                slot->Refbuf11_w.resize(slot->Refbuf11.size());
        } catch (const std::bad_alloc &) {
            out_of_memory_exit(weighted ? bufWText : bufText);
        }
        if (weighted)
            slot->mref_w.allocate(4 * height + 32, 4 * width + 32, "get_mem2D: array2D");
    }
    store.short_slots = slots;
}

void Release(RefFrame &f)
{
    f.used = 0;
    f.pic_num = -1;
    f.pic_id = -1;
    f.long_term_pic_num = -1;
}

void FillSet(std::vector<RefFrame *> &set, const std::vector<RefFrame *> &order, size_t size)
{
    set.assign(size, nullptr);
    for (size_t i = 0; i < order.size() && i < size; ++i)
        set[i] = order[i];
}

std::vector<RefFrame *> StoreOrder(const ReferenceStore &s)
{
    std::vector<RefFrame *> order;
    for (int i = 0; i < s.short_count; ++i)
        order.push_back(s.picbuf_short[static_cast<size_t>(i)].get());
    for (int i = 0; i < s.long_count; ++i)
        order.push_back(s.picbuf_long[static_cast<size_t>(i)].get());
    return order;
}

std::vector<RefFrame *> &SetOf(FrameStores &fs, const ReferenceStore &store)
{
    return &store == &fs.fld ? fs.mref_fld : fs.mref_frm;
}

} // namespace

void init_frame_buffers(FrameStores &fs, const EncoderParams &input, const EncoderImage &img)
{
    // max_ref + 1 slots: the extra reference slot of AdditionalReferenceFrame must be a real picture.
    const int bufsize = img.max_ref + 1;
    fs = FrameStores();
    fs.width = img.width;
    fs.height = img.height;
    fs.weighted = input.WeightedPrediction != 0 || input.WeightedBiprediction != 0;
    BuildStore(fs.frm, bufsize, img.width, img.height, fs.weighted, "init_frame_buffers: frm",
               "init_frame_buffers: frm->picbuf_short", "init_frame_buffers: Refbuf11",
               "init_frame_buffers: Refbuf11_w");
    if (input.InterlaceCodingOption != 0) {
        BuildStore(fs.fld, 2 * bufsize, img.width, img.height / 2, fs.weighted, "init_field_buffers: fld",
                   "init_field_buffers: fld->picbuf_short", "init_field_buffers: Refbuf11",
                   "init_field_buffers: Refbuf11_w");
    }
    alloc_mref(fs);
    alloc_Refbuf(fs);
    if (input.InterlaceCodingOption >= 3) {
        try {
            fs.mref_mbfld.resize(static_cast<size_t>(2 * bufsize));
            if (fs.weighted)
                fs.mref_mbfld_w.resize(static_cast<size_t>(2 * bufsize));
        } catch (const std::bad_alloc &) {
            out_of_memory_exit("alloc_mref: mref_mbfld");
        }
        for (auto &p : fs.mref_mbfld)
            p.allocate(4 * (img.height / 2) + 32, 4 * img.width + 32, "alloc_mref: mref_mbfld");
        for (auto &p : fs.mref_mbfld_w)
            p.allocate(4 * (img.height / 2) + 32, 4 * img.width + 32, "alloc_mref: mref_mbfld_w");
    }
    fs.fb = &fs.frm;
    fs.current = &fs.mref_frm;
}

void alloc_mref(FrameStores &fs)
{
    try {
        fs.mref_frm.assign(static_cast<size_t>(fs.frm.short_slots + fs.frm.long_slots), nullptr);
        fs.mref_fld.assign(static_cast<size_t>(fs.fld.short_slots + fs.fld.long_slots), nullptr);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("alloc_mref: mref_frm");
    }
}

void alloc_Refbuf(FrameStores &fs)
{
    alloc_mref(fs);
}

void release_frame_buffers(FrameStores &fs)
{
    fs = FrameStores();
}

void remove_short_term_frame(FrameStores &fs, int pic_num)
{
    ReferenceStore &s = *fs.fb;
    for (int i = 0; i < s.short_count; ++i) {
        RefFrame &f = *s.picbuf_short[static_cast<size_t>(i)];
        if (f.used && f.pic_num == pic_num) {
            Release(f);
            --s.short_count;
            // The emptied slot goes to the end; the later ones move forward.
            std::rotate(s.picbuf_short.begin() + i, s.picbuf_short.begin() + i + 1, s.picbuf_short.end());
            return;
        }
    }
}

void add_short_term_frame(FrameStores &fs, int pic_num, int frame_counter)
{
    if (fs.current == &fs.mref_frm)
        remove_short_term_frame(fs, pic_num);
    ReferenceStore &s = *fs.fb;
    if (s.short_slots == 0)
        return;
    const bool full = s.short_count == s.short_slots && fs.fb == &fs.frm;
    std::rotate(s.picbuf_short.rbegin(), s.picbuf_short.rbegin() + 1, s.picbuf_short.rend());
    RefFrame &front = *s.picbuf_short.front();
    front.used = 1;
    front.pic_num = pic_num;
    front.pic_id = frame_counter % 256;
    front.long_term_pic_num = -1;
    s.short_count = std::min(s.short_count + 1, s.short_slots);
    if (full) {
        Release(*s.picbuf_short.back());
        --s.short_count;
        zn::Log(zn::LogLevel::Info, "remove last........................\n");
    }
}

void keep_newest_reference(FrameStores &fs)
{
    ReferenceStore &s = *fs.fb;
    for (int i = 1; i < s.short_count; ++i)
        s.picbuf_short[static_cast<size_t>(i)]->used = 0;
    if (s.short_count > 1)
        s.short_count = 1;
    for (int i = 0; i < s.long_count; ++i)
        s.picbuf_long[static_cast<size_t>(i)]->used = 0;
    s.long_count = 0;
}

void set_mref_arrays(FrameStores &fs)
{
    const ReferenceStore &s = *fs.fb;
    FillSet(SetOf(fs, s), StoreOrder(s), static_cast<size_t>(s.short_slots + s.long_slots));
}

void set_refbuf_arrays(FrameStores &fs)
{
    set_mref_arrays(fs);
}

void remap_reference_frames(FrameStores &fs, int pic_num, const std::vector<ReorderCommand> &commands)
{
    if (commands.empty()) {
        set_mref_arrays(fs);
        return;
    }
    ReferenceStore &s = *fs.fb;
    std::vector<RefFrame *> work = StoreOrder(s);
    for (int i = 0; i < static_cast<int>(work.size()); ++i)
        work[static_cast<size_t>(i)]->is_long_term = i < s.short_count ? 0 : 1;
    int pred = pic_num;
    for (const ReorderCommand &c : commands) {
        int target = 0;
        if (c.kind == 0) {
            target = pred - c.value;
            if (target < 0)
                target += s.short_slots;
        } else if (c.kind == 1) {
            target = pred + c.value;
            if (target > s.short_slots - 1)
                target -= s.short_slots;
        } else {
            target = c.value;
        }
        auto found = std::find_if(work.begin(), work.end(), [&](const RefFrame *f) {
            return c.kind == 2 ? f->is_long_term == 1 && f->long_term_pic_num == target
                               : f->is_long_term == 0 && f->pic_num == target;
        });
        if (found == work.end())
            h264_fatal_error("tried to remap non-existent picture", 400);
        std::rotate(work.begin(), found, found + 1);
        pred = target;
    }
    FillSet(SetOf(fs, s), work, static_cast<size_t>(s.short_slots + s.long_slots));
}

void set_mbaff_field_refs(FrameStores &fs)
{
    for (size_t i = 0; i < fs.fld.picbuf_short.size() && i < fs.mref_mbfld.size(); ++i) {
        const RefFrame &f = *fs.fld.picbuf_short[i];
        if (!f.used)
            continue;
        std::copy(f.mref.data(), f.mref.data() + static_cast<size_t>(f.mref.rows()) * f.mref.cols(),
                  fs.mref_mbfld[i].data());
        if (i < fs.mref_mbfld_w.size() && !f.mref_w.empty())
            std::copy(f.mref_w.data(),
                      f.mref_w.data() + static_cast<size_t>(f.mref_w.rows()) * f.mref_w.cols(),
                      fs.mref_mbfld_w[i].data());
    }
    if (fs.current != &fs.mref_fld)
        FillSet(fs.mref_fld, StoreOrder(fs.fld), static_cast<size_t>(fs.fld.short_slots + fs.fld.long_slots));
}

void select_frame_refs(FrameStores &fs, EncoderImage &img, int source_height)
{
    fs.current = &fs.mref_frm;
    fs.field_refs_selected = false;
    img.height = source_height;
}

void select_field_refs(FrameStores &fs)
{
    fs.current = &fs.mref_fld;
    fs.field_refs_selected = true;
}

uint8_t get_pel_quarter_clamped(const Array2D<uint8_t> &plane, int y, int x)
{
    // The phase of a position is its remainder mod 4 taken as 0..3, also for negative positions.
    auto clamp = [](int pos, int extent) {
        const int idx = pos + kQuarterMargin;
        const int phase = ((pos % 4) + 4) % 4;
        const int last = extent - 4; // first index of the last whole sample of the margin
        if (idx < 0)
            return phase;
        if (idx > last)
            return last + phase;
        return idx;
    };
    const int r = clamp(y, plane.rows());
    const int c = clamp(x, plane.cols());
    return plane[r][c];
}

const uint8_t *LineReader::get_line_clamped(int y, int x)
{
    y = std::clamp(y, 0, m_height - 1);
    const uint8_t *row = m_buf + static_cast<size_t>(y) * static_cast<size_t>(m_width);
    if (x >= 0 && x <= m_width - 16)
        return row + x;
    for (int k = 0; k < 16; ++k)
        m_line[k] = row[std::clamp(x + k, 0, m_width - 1)];
    return m_line;
}

} // namespace h264enc
