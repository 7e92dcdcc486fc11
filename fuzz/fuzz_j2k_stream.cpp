// Fuzzes the JPEG2000 code-stream reader: headers into elements, every element query, the decoding
// budget, and every packet byte with SOP/EPH resynchronisation. The first two input bytes choose the
// truncation; the rest is the code-stream.
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_in.h"

#include "platform/errors.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace zn::j2k;
    if (size < 2)
        return 0;
    int truncation = (data[0] << 8 | data[1]) * 4;
    std::vector<uint8_t> stream(data + 2, data + size);
    J2kRun run;
    auto in = create_stream_in();
    try {
        in->initialize_from_memory(stream);
        if (truncation)
            in->set_truncation(truncation);
        int length = 0;
        for (int n = 0; n < 3; ++n)
            in->get_comment(1, n, &length);
        for (int tile = -1; tile < 4; ++tile) {
            in->tile_has_markers(tile);
            for (int e = 0; e < kMarkerVocabularySize; ++e)
                for (int instance = 0; instance < 3; ++instance) {
                    int count = in->marker_elt_count(tile, kMarkerVocabulary[e], instance);
                    for (int i = 0; i < count && i < 64; ++i)
                        in->get_marker_val(tile, kMarkerVocabulary[e], instance, i);
                }
        }
        in->global_header_bytes();
        uint8_t buffer[300];
        for (int packet = 0; packet < 100000; ++packet) {
            int tile = -1, header = 0;
            in->start_packet(&tile, &header);
            if (tile < 0)
                break;
            int want = 1 + packet % 7;
            in->get_head_bytes(buffer, want);
            in->get_body_bytes(buffer, int(sizeof buffer));
            int last = 0, bytes = 0;
            in->end_packet(packet % 13 == 12 ? nullptr : &last, &bytes);
        }
        in->terminate();
    } catch (const zn::RunAborted &) {
        // The run ended with its message: the expected outcome for damaged streams.
    }
    return 0;
}
