// Fuzzes the encoder's slice layer as a round trip: the input chooses the entropy coder, slice mode,
// reference counts, direct mode and picture structure and seeds the random macroblock records of an I,
// a P and a B picture (P only for macroblock-adaptive frames); the slices the encoder writes must parse
// back in the decoder's macroblock reader into the same records. Any difference stops the fuzzer.
#include "h264enc/support/slice_fixture.h"
#include "platform/messages.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zn::SetMessageHandler([](const zn::MessageRequest &) { return zn::MsgAnswer::Ok; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    namespace enc = h264enc;
    const uint8_t sel = data[0], sel2 = data[1];
    uint32_t seed = 0;
    std::memcpy(&seed, data + 1, 4);
    enctest::RunOptions o;
    o.cabac = sel & 1;
    o.slice_mode = (sel >> 1) % 5;
    o.slice_argument = o.slice_mode == 2 ? 8 + sel2 : 1 + sel2 % 7;
    o.mbaff = (sel >> 4) & 1;
    o.refs = o.mbaff ? 1 : 1 + (sel >> 5) % 5;
    o.direct_spatial = 0;
    o.width = 16 * (1 + sel2 % 4);
    o.height = o.mbaff ? 32 : 16 * (1 + (sel2 >> 2) % 3);
    const int bwd = o.mbaff ? 1 : 1 + ((sel >> 7) & 1);
    std::mt19937 rng(seed);
    auto run = enctest::MakeRun(o);
    std::vector<uint8_t> stream = enctest::ParameterSetUnits(*run);
    enctest::RecordCoder coder;
    std::vector<int> types = {enc::kTypeI, enc::kTypeP};
    if (!o.mbaff)
        types.push_back(enc::kTypeB);
    std::vector<std::vector<enctest::SyntheticMb>> records;
    for (size_t k = 0; k < types.size(); ++k) {
        coder.mbs = enctest::RandomPicture(rng, *run, types[k], o.refs, bwd);
        if (o.mbaff) {
            // Field pairs read their indices and coefficient counts in field copies: keep to frame pairs.
            for (auto &m : coder.mbs)
                m.field = 0;
        }
        records.push_back(coder.mbs);
        enctest::PictureSetup p;
        p.type = types[k];
        p.number = static_cast<int>(k);
        p.bwd_refs = bwd;
        enctest::EncodePicture(*run, coder, p, stream);
    }
    std::string error;
    const auto decoded = enctest::DecodeMacroblocks(stream, &error);
    if (!error.empty() || decoded.size() != types.size()) {
        std::fprintf(stderr, "decoder: %s\n", error.c_str());
        __builtin_trap();
    }
    for (size_t k = 0; k < types.size(); ++k)
        for (size_t i = 0; i < records[k].size(); ++i) {
            const std::string diff = enctest::CompareMacroblock(records[k][i], decoded[k].mbs[i], types[k], o.mbaff);
            if (!diff.empty()) {
                std::fprintf(stderr, "picture %zu macroblock %zu: %s\n", k, i, diff.c_str());
                __builtin_trap();
            }
        }
    return 0;
}
