// The shared CABAC element bench (see the header).
#include "h264enc/support/cabac_fixture.h"

#include "h264enc/cabac_contexts.h"

namespace enctest {

namespace enc = h264enc;

int DecoderPictureType(int enc_type)
{
    switch (enc_type) {
    case enc::kTypeI:
        return kPictureI;
    case enc::kTypeB:
    case enc::kTypeStoredB:
        return kPictureB;
    case enc::kTypeSP:
        return kPictureSP;
    default:
        return kPictureP;
    }
}

CabacBench::CabacBench(int type, int model, int qp)
{
    img.width = img.height = 32;
    img.type = type;
    img.qp = qp;
    img.cabac_model = type == enc::kTypeI ? 0 : model;
    img.mb_data.assign(4, enc::MacroblockRecord());
    img.maps.allocate(8, 8);
    slice.motion = enc::create_contexts_MotionInfo();
    slice.texture = enc::create_contexts_TextureInfo();
    img.current_slice = &slice;
    enc::cabac_init_contexts(img);
    img.mb_index = 3;
    img.mb_x = img.mb_y = 1;
    EncMb(3).neighbours[1][1] = &EncMb(3);
    enc::cabac_enc_start(&part.cabac, &part.bitstream.StreamBuffer, &part.bitstream.byte_count);

    DecoderImage &d = dec.img;
    d.width = d.height = 32;
    d.type = DecoderPictureType(type);
    d.model_number = img.cabac_model;
    d.qp = qp;
    dec_alloc_macroblock_arrays(dec, 32, 32);
    dec_start_picture_arrays(dec);
    for (auto &m : *d.mb_data)
        m.slice_number = 0;
    d.current_mb_nr = d.mb_index = 3;
    d.mb_x = d.mb_y = 1;
    d.block_x = d.block_y = 4;
    DecMb(3).neighbours[1][1] = &DecMb(3);
    h264dec_init_contexts(dec);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int list = 0; list < 3; ++list)
                SetRef(list, x, y, -1);
}

void CabacBench::Neighbours(bool up, bool left)
{
    EncMb(3).neighbours[0][1] = up ? &EncMb(1) : nullptr;
    EncMb(3).neighbours[1][0] = left ? &EncMb(2) : nullptr;
    DecMb(3).neighbours[0][1] = up ? &DecMb(1) : nullptr;
    DecMb(3).neighbours[1][0] = left ? &DecMb(2) : nullptr;
}

void CabacBench::SyncRecords()
{
    for (int i = 1; i <= 3; ++i) {
        const enc::MacroblockRecord &e = EncMb(i);
        DecoderMacroblock &d = DecMb(i);
        d.mb_type = e.mb_mode;
        d.coded_block_pattern = e.coded_pattern;
        d.cbp_bits = e.cbf_bits;
        // The decoder keeps the change it read: none for a macroblock without residual.
        d.qp_delta = e.coded_pattern != 0 || e.mb_mode == enc::kModeI16 ? e.qp_delta : 0;
        d.chroma_pred_mode = e.chroma_pred_mode;
        d.mb_field = e.field_pair_flag;
        std::copy(&e.mv_diff[0][0][0][0], &e.mv_diff[0][0][0][0] + 64, &d.mvd[0][0][0][0]);
    }
    dec.img.cbf_intra_flag = EncMb(3).mb_mode == enc::kModeI4 || EncMb(3).mb_mode == enc::kModeI16 ? 1 : 0;
    dec.img.num_ref_idx_active_bwd = img.stored_b_ref + 1;
}

void CabacBench::SetRef(int list, int x, int y, int value)
{
    enc::MotionMaps &m = img.maps;
    std::vector<int> &e = list == 0 ? m.ref_map : list == 1 ? m.fw_ref_map : m.bw_ref_map;
    e[m.At(x, y)] = value;
    Array2D<int> &d = list == 0 ? *dec.img.ref_idx_arr : list == 1 ? *dec.img.fwd_ref : *dec.img.bwd_ref;
    d[y][x] = value;
}

void CabacBench::Block(int x, int y, int plane)
{
    img.subblock_x = dec.img.subblock_x = x;
    img.subblock_y = dec.img.subblock_y = y;
    img.chroma_plane = dec.img.cbf_v_flag = plane;
}

int CabacBench::Write(enc::CabacWriteFn fn, int value, int second_value, int context, int category)
{
    enc::SyntaxItem item;
    item.category = category;
    item.value = value;
    item.second_value = second_value;
    item.context = context;
    item.write_fn = fn;
    return enc::cabac_write_element(&item, img, &part);
}

void CabacBench::Start()
{
    enc::cabac_enc_final(&part.cabac, 1);
    enc::cabac_enc_finish(&part.cabac, 0, nullptr);
    bytes.assign(part.bitstream.StreamBuffer.begin(),
                 part.bitstream.StreamBuffer.begin() + part.bitstream.byte_count);
    DataPartition &dp = dec.slice.partitions[0];
    h264dec_load_payload(dp.bitstream.get(), bytes.data(), static_cast<int>(bytes.size()));
    dp.bitstream->byte_length = static_cast<int>(bytes.size());
    cabac_start_decoding(&dp.cabac, dp.bitstream->streamBuffer, static_cast<int>(bytes.size()), 0,
                         &dp.bitstream->read_length);
    started = true;
}

SyntaxSymbol CabacBench::Read(CabacReadFn fn, int value2, int context)
{
    SyntaxSymbol sym;
    sym.read_fn = fn;
    sym.value2 = value2;
    sym.context = context;
    cabac_read_element(&sym, dec, &dec.slice.partitions[0]);
    return sym;
}

bool CabacBench::SameContexts() const
{
    const MotionInfo &dm = *dec.slice.motion_contexts;
    const TextureInfo &dt = *dec.slice.texture_contexts;
    const enc::MotionContextSet &em = *slice.motion;
    const enc::TextureContextSet &et = *slice.texture;
    auto same = [](const enc::CabacEncContext &e, const CabacContext &d) {
        return e.state == d.state && e.MPS == d.mps;
    };
    const auto *e = reinterpret_cast<const enc::CabacEncContext *>(&em);
    const auto *d = reinterpret_cast<const CabacContext *>(&dm);
    for (int i = 0, j = 0; i < enc::kMotionContexts; ++i, ++j) {
        if (j == 33)
            j += 11; // the decoder's fourth macroblock-type row
        if (!same(e[i], d[j]))
            return false;
    }
    e = reinterpret_cast<const enc::CabacEncContext *>(&et);
    d = reinterpret_cast<const CabacContext *>(&dt);
    for (int i = 0; i < enc::kTextureContexts; ++i)
        if (!same(e[i], d[i]))
            return false;
    return true;
}

} // namespace enctest
