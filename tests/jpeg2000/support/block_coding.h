// Test-side helpers that code one block with the encoder's driver and decode it with the decoder's,
// as one contribution cut at any length.
#pragma once

#include "jpeg2000/block_decode_driver.h"
#include "jpeg2000/block_encode_driver.h"
#include "jpeg2000/coding_tables.h"

#include <memory>
#include <vector>

namespace j2ktest {

struct EncodedBlock
{
    std::vector<uint8_t> bytes; // the whole code, stream order
    std::vector<zn::j2k::pass_record> passes;
    int N = 0, Z = 0;
    int K = 0;
    int height = 0, width = 0;
};

struct BlockSetup
{
    int K = 4;
    int orientation = 0;
    bool reversible = false;
    zn::j2k::coder_modes modes;
    int nominal_height = 64, nominal_width = 64;
};

inline EncodedBlock EncodeBlock(const std::vector<int32_t> &samples, int height, int width,
                                const BlockSetup &s, int32_t *histogram = nullptr)
{
    using namespace zn::j2k;
    build_coding_tables();
    codeword_heap heap;
    block_coder_work work(s.nominal_height, s.nominal_width, s.modes);
    band_code_state band;
    band.orientation = s.orientation;
    band.K = s.K;
    band.reversible = s.reversible;
    band.pass_capacity = pass_capacity_for(s.K, 0);
    install_encoder_passes(band.passes);
    std::vector<pass_record> records(size_t(std::max(band.pass_capacity, 1)));
    block_code code;
    code.records = records.data();
    encode_code_block(work, band, code, samples.data(), width, height, width, nullptr, heap, histogram);
    EncodedBlock e;
    e.N = code.passes;
    e.Z = code.zero_planes;
    e.K = s.K;
    e.height = height;
    e.width = width;
    e.passes.assign(records.begin(), records.begin() + code.passes);
    int length = code.passes > 0 ? records[size_t(code.passes - 1)].length : 0;
    for (int i = 0; i < length; ++i)
        e.bytes.push_back(*block_code_bytes(code.start_block, code.start_word, i, nullptr, nullptr));
    return e;
}

// Decodes the first `passes` passes from the first `bytes` bytes of the code, as one contribution.
inline std::vector<int32_t> DecodeBlock(const EncodedBlock &e, int passes, int bytes, const BlockSetup &s,
                                        bool plain, int confidence_bits = 0, bool *ok = nullptr)
{
    using namespace zn::j2k;
    build_coding_tables();
    mq_build_decoder_tables();
    codeword_heap heap;
    block_decoder_work work(s.nominal_height, s.nominal_width, s.modes, plain, confidence_bits);
    decoder_pass_function fns[3];
    install_decoder_passes(fns, plain);
    std::vector<dec_pass_record> records(size_t(std::max(e.N, 1)), dec_pass_record{0, 0, 0, 0});
    dec_block b;
    b.height = e.height;
    b.width = e.width;
    b.capacity = e.N;
    b.records = records.data();
    b.zero_planes = e.Z;
    b.included = b.to_decode = passes;
    records[0].contribution = bytes;
    for (int n = 0; n < passes; ++n) {
        records[size_t(n)].terminated = e.passes[size_t(n)].terminated;
        records[size_t(n)].segment_end = e.passes[size_t(n)].length;
    }
    append_code_bytes(heap, b, e.bytes.data(), bytes);
    b.usable_bytes = bytes;
    std::vector<int32_t> out(size_t(e.height) * size_t(e.width), -7);
    if (ok) {
        b.ends_computed = false;
        compute_segment_ends(b);
        swap_to_value_order(b);
        *ok = decode_block_passes(work, fns, s.orientation, b, e.K);
        return out;
    }
    decode_code_block(work, fns, s.orientation, e.K, b, nullptr, out.data(), e.width, heap);
    return out;
}

} // namespace j2ktest
