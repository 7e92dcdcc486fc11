// The decoder side: the stream file is read through a source that can flip bits on the way in (a
// noisy channel), decoded by the library to grey rows, or, with smoothing, to coefficient blocks that
// we smooth and inverse-transform ourselves. A damaged stream stops at the library's first fatal
// error; the rows decoded so far stay in the image.
#include "modules/jpeg/jpeg_coder.h"

#include "image/znimage.h"
#include "modules/jpeg/jpeg_blocks.h"
#include "modules/jpeg/jpeg_lib.h"
#include "platform/file.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr size_t kInBufferSize = 4096;
// Memory the library may take for whole-image buffers. The frame is never larger than the
// document's image (checked after the header), so a real stream needs far less.
constexpr long kMaxLibraryMemory = 256L << 20;
// A sequential stream has one scan; a damaged one that turned progressive could ask for thousands,
// each a pass over the whole image.
constexpr int kMaxScans = 256;

const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

// The input source with the channel: every byte read from the file gets its bits flipped with
// probability p; at the end of the file an EOI marker is supplied, as often as asked.
struct NoisySource
{
    jpeg_source_mgr pub; // first member
    std::FILE *file;
    bool errors;
    bool atEnd; // the file is exhausted: only end markers follow
    float p;
    int flips;
    long bytesRead;
    JOCTET buffer[kInBufferSize];
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// Eight draws per byte, the first for the most significant bit: a bit flips when p > u with
// u uniform on 0..1 in steps of 1/32767.
JOCTET ChannelMask(NoisySource *src)
{
    JOCTET mask = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const float u = static_cast<float>(zn::Rand()) / static_cast<float>(zn::kRandMax);
        if (src->p > u) {
            mask = static_cast<JOCTET>(mask | (1u << bit));
            ++src->flips;
        }
    }
    return mask;
}

boolean refill_input_noisy(j_decompress_ptr cinfo)
{
    auto *src = reinterpret_cast<NoisySource *>(cinfo->src);
    const size_t n = std::fread(src->buffer, 1, kInBufferSize, src->file);
    if (n == 0) {
        src->atEnd = true;
        src->pub.next_input_byte = kEndOfImage;
        src->pub.bytes_in_buffer = sizeof(kEndOfImage);
        return TRUE;
    }
    if (src->errors)
        for (size_t i = 0; i < n; ++i)
            src->buffer[i] ^= ChannelMask(src);
    src->bytesRead += static_cast<long>(n);
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long numBytes)
{
    if (numBytes <= 0)
        return;
    auto *src = reinterpret_cast<NoisySource *>(cinfo->src);
    size_t left = static_cast<size_t>(numBytes);
    while (left > src->pub.bytes_in_buffer) {
        left -= src->pub.bytes_in_buffer;
        refill_input_noisy(cinfo);
        if (src->atEnd) {
            // Past the end every refill gives the same two bytes: skip whole pairs at once.
            left %= sizeof(kEndOfImage);
            break;
        }
    }
    src->pub.next_input_byte += left;
    src->pub.bytes_in_buffer -= left;
}

void CountScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        JpegFail(cinfo);
}

struct DecodeJob
{
    float *image;
    int rows, cols;
    bool smoothing;
    int maxBlocks;     // blocks per row that the buffers hold: ceil(cols / 8)
    JSAMPLE *row;      // cols bytes
    int32_t *coefRows; // 3 x maxBlocks x 64: the block rows above, here and below
    int32_t *smoothed; // maxBlocks x 64
    uint8_t *pixels;   // 8 rows of maxBlocks x 8
    int rowsStored;
    jpeg_decompress_struct cinfo;
    JpegErrorMgr err;
    NoisySource src;
    jpeg_progress_mgr progress;
};

// Stores one decoded row of `width` samples as row number `index`, rows packed one after the other.
// A row that does not fit into the image is refused.
bool put_image_rows(DecodeJob *job, const JSAMPLE *row, int width, int index)
{
    const long long first = static_cast<long long>(index) * width;
    if (first + width > static_cast<long long>(job->rows) * job->cols)
        return false;
    float *out = job->image + first;
    for (int x = 0; x < width; ++x)
        out[x] = static_cast<float>(row[x]);
    ++job->rowsStored;
    return true;
}

bool DecodeRows(DecodeJob *job)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    cinfo->out_color_space = JCS_GRAYSCALE;
    cinfo->dct_method = JDCT_ISLOW;
    jpeg_start_decompress(cinfo);
    JSAMPROW rows[1] = {job->row};
    const int width = static_cast<int>(cinfo->output_width);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int index = static_cast<int>(cinfo->output_scanline);
        if (jpeg_read_scanlines(cinfo, rows, 1) != 1)
            return false;
        if (!put_image_rows(job, job->row, width, index))
            return false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Block row r of the grey component, dequantised, into dst (n blocks).
void LoadBlockRow(DecodeJob *job, jvirt_barray_ptr array, int r, int n, const JQUANT_TBL *q, int32_t *dst)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    JBLOCKARRAY blocks = (*cinfo->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(cinfo), array,
                                                           static_cast<JDIMENSION>(r), 1, FALSE);
    for (int b = 0; b < n; ++b)
        for (int k = 0; k < 64; ++k)
            dst[64 * b + k] = static_cast<int32_t>(blocks[0][b][k]) * static_cast<int32_t>(q->quantval[k]);
}

bool DecodeSmoothed(DecodeJob *job)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(cinfo);
    const jpeg_component_info *comp = &cinfo->comp_info[0];
    const JQUANT_TBL *q = comp->quant_table;
    const int n = static_cast<int>(comp->width_in_blocks);
    const int blockRows = static_cast<int>(comp->height_in_blocks);
    const int width = static_cast<int>(comp->downsampled_width);
    const int height = static_cast<int>(comp->downsampled_height);
    if (!arrays || !q || n < 1 || n > job->maxBlocks || width > n * 8)
        return false;
    uint16_t steps[64];
    for (int k = 0; k < 64; ++k)
        steps[k] = q->quantval[k];

    const size_t rowSize = static_cast<size_t>(job->maxBlocks) * 64;
    int32_t *slot[3] = {job->coefRows, job->coefRows + rowSize, job->coefRows + 2 * rowSize};
    LoadBlockRow(job, arrays[0], 0, n, q, slot[1]);
    if (blockRows > 1)
        LoadBlockRow(job, arrays[0], 1, n, q, slot[2]);
    const int stride = job->maxBlocks * 8;
    for (int r = 0; r < blockRows; ++r) {
        smooth_block_row(r > 0 ? slot[0] : nullptr, slot[1], r + 1 < blockRows ? slot[2] : nullptr,
                         job->smoothed, n, steps);
        for (int b = 0; b < n; ++b)
            JpegIdctIslow(job->smoothed + 64 * b, job->pixels + 8 * b, stride);
        for (int y = 0; y < 8 && 8 * r + y < height; ++y)
            if (!put_image_rows(job, job->pixels + static_cast<size_t>(y) * stride, width, 8 * r + y))
                return false;
        // Move the window down one block row.
        int32_t *oldest = slot[0];
        slot[0] = slot[1];
        slot[1] = slot[2];
        slot[2] = oldest;
        if (r + 2 < blockRows)
            LoadBlockRow(job, arrays[0], r + 2, n, q, slot[2]);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Drives the decompressor. Plain data only between the setjmp and the library (see jpeg_lib.h).
bool DecompressCore(DecodeJob *job)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    cinfo->err = InstallJpegErrorMgr(&job->err);
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxLibraryMemory;
    job->progress.progress_monitor = CountScans;
    cinfo->progress = &job->progress;
    job->src.pub.init_source = InitSource;
    job->src.pub.fill_input_buffer = refill_input_noisy;
    job->src.pub.skip_input_data = SkipInputData;
    job->src.pub.resync_to_restart = jpeg_resync_to_restart;
    job->src.pub.term_source = TermSource;
    job->src.pub.bytes_in_buffer = 0;
    job->src.pub.next_input_byte = nullptr;
    cinfo->src = &job->src.pub;

    jpeg_read_header(cinfo, TRUE); // an EOI before any frame is a fatal error here
    // A damaged frame header can ask for any size: nothing larger than the picture is decoded.
    if (static_cast<long long>(cinfo->image_width) > job->cols ||
        static_cast<long long>(cinfo->image_height) > job->rows)
        return false;
    return job->smoothing ? DecodeSmoothed(job) : DecodeRows(job);
}

} // namespace

int JpegDecoder(ZnImage *image, bool smoothing, float errorProb, const std::string &streamPath,
                JpegDecodeStats *stats)
{
    JpegDecodeStats local;
    JpegDecodeStats &st = stats ? *stats : local;
    st = JpegDecodeStats{};
    zn::FilePtr file(std::fopen(streamPath.c_str(), "rb"));
    if (!file) {
        zn::ShowMessage(kJpegNoStreamMessage);
        return 0;
    }
    st.found = true;
    const int rows = image->Rows(), cols = image->Cols();
    std::fill(image->Data(), image->Data() + static_cast<size_t>(rows) * cols, 0.0f);

    const bool errors = errorProb > 0.0f;
    if (errors)
        zn::SeedRandFromClock();

    const int maxBlocks = (cols + 7) / 8;
    std::vector<JSAMPLE> row(static_cast<size_t>(cols));
    std::vector<int32_t> coefRows, smoothed;
    std::vector<uint8_t> pixels;
    if (smoothing) {
        coefRows.resize(3 * static_cast<size_t>(maxBlocks) * 64);
        smoothed.resize(static_cast<size_t>(maxBlocks) * 64);
        pixels.resize(8 * static_cast<size_t>(maxBlocks) * 8);
    }
    auto job = std::make_unique<DecodeJob>(); // value-initialised: all zero
    job->image = image->Data();
    job->rows = rows;
    job->cols = cols;
    job->smoothing = smoothing;
    job->maxBlocks = maxBlocks;
    job->row = row.data();
    job->coefRows = coefRows.data();
    job->smoothed = smoothed.data();
    job->pixels = pixels.data();
    job->src.file = file.get();
    job->src.errors = errors;
    job->src.p = errors ? errorProb : 0.0f;

    const bool ok = rows > 0 && cols > 0 && DecompressCore(job.get());
    jpeg_destroy_decompress(&job->cinfo);
    file.reset();
    st.stopped = !ok;
    st.bytesRead = job->src.bytesRead;
    st.rowsStored = job->rowsStored;
    if (!ok)
        zn::ShowMessage(kJpegCorruptMessage);
    return job->src.flips;
}
