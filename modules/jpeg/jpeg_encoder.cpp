// The encoder side: one grey component through the library's compressor with our quantisation
// table, Huffman tables and restart interval, into a file or into a byte counter; and the bisection
// on the quality factor that meets a target bit rate by counting bytes only.
#include "modules/jpeg/jpeg_coder.h"

#include "image/znimage.h"
#include "modules/jpeg/jpeg_lib.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/paths.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kOutBufferSize = 4096;

// The destination: every byte the compressor emits is counted; with a file it is also written.
struct CountingDestination
{
    jpeg_destination_mgr pub; // first member
    std::FILE *file;          // null: count only
    long long bytes;
    bool writeFailed;
    JOCTET buffer[kOutBufferSize];
};

void FlushBytes(j_compress_ptr cinfo, size_t n)
{
    auto *dest = reinterpret_cast<CountingDestination *>(cinfo->dest);
    if (dest->file && n > 0 && std::fwrite(dest->buffer, 1, n, dest->file) != n) {
        dest->writeFailed = true;
        JpegFail(reinterpret_cast<j_common_ptr>(cinfo));
    }
    dest->bytes += static_cast<long long>(n);
}

void InitDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<CountingDestination *>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<CountingDestination *>(cinfo->dest);
    FlushBytes(cinfo, kOutBufferSize); // the library hands over a full buffer, whatever free says
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<CountingDestination *>(cinfo->dest);
    FlushBytes(cinfo, kOutBufferSize - dest->pub.free_in_buffer);
    if (dest->file && std::fflush(dest->file) != 0) {
        dest->writeFailed = true;
        JpegFail(reinterpret_cast<j_common_ptr>(cinfo));
    }
}

// One picture row to bytes. The samples are grey levels 0..255; truncation toward zero as the
// library's 8-bit input expects (anything outside the range is limited first).
void get_image_row(const float *in, JSAMPLE *out, int cols)
{
    for (int x = 0; x < cols; ++x) {
        const float v = in[x];
        out[x] = static_cast<JSAMPLE>(v <= 0.0f ? 0 : (v >= 255.0f ? 255 : static_cast<int>(v)));
    }
}

// The fixed-length code: every DC category and every AC run/size symbol gets a 16-bit code word,
// so a reader sees what the entropy coder saves by comparing with the standard tables.
void install_huff_tables(j_compress_ptr cinfo, bool fixedLength)
{
    if (!fixedLength)
        return; // the standard tables of jpeg_set_defaults stay
    JHUFF_TBL *dc = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(cinfo));
    std::memset(dc->bits, 0, sizeof(dc->bits));
    dc->bits[16] = static_cast<UINT8>(kJpegDcSymbols.size());
    std::copy(kJpegDcSymbols.begin(), kJpegDcSymbols.end(), dc->huffval);
    cinfo->dc_huff_tbl_ptrs[0] = dc;

    JHUFF_TBL *ac = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(cinfo));
    std::memset(ac->bits, 0, sizeof(ac->bits));
    ac->bits[16] = static_cast<UINT8>(kJpegAcSymbols.size());
    std::copy(kJpegAcSymbols.begin(), kJpegAcSymbols.end(), ac->huffval);
    cinfo->ac_huff_tbl_ptrs[0] = ac;
}

// Base table n scaled, as quantisation table 0 (the grey component's). Steps above 255 are kept:
// the library then writes 16-bit table entries and an extended sequential frame.
void read_quant_tables(j_compress_ptr cinfo, int table, int scale)
{
    const JpegTable t = JpegScaledTable(table, scale);
    unsigned int basic[64];
    for (int i = 0; i < 64; ++i)
        basic[i] = static_cast<unsigned int>(t[i]);
    // Scale 100 hands the already scaled steps over unchanged: (s x 100 + 50) / 100 = s.
    jpeg_add_quant_table(cinfo, 0, basic, 100, FALSE);
}

struct EncodeJob
{
    const float *samples;
    int rows, cols;
    int quality, table, huffman, restartValue, restartUnit;
    JSAMPLE *row; // cols bytes
    jpeg_compress_struct cinfo;
    JpegErrorMgr err;
    CountingDestination dest;
};

// Drives the compressor. Plain data only between the setjmp and the library (see jpeg_lib.h).
bool CompressCore(EncodeJob *job)
{
    jpeg_compress_struct *cinfo = &job->cinfo;
    cinfo->err = InstallJpegErrorMgr(&job->err);
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_compress(cinfo);
    job->dest.pub.init_destination = InitDestination;
    job->dest.pub.empty_output_buffer = EmptyOutputBuffer;
    job->dest.pub.term_destination = TermDestination;
    cinfo->dest = &job->dest.pub;

    cinfo->image_width = static_cast<JDIMENSION>(job->cols);
    cinfo->image_height = static_cast<JDIMENSION>(job->rows);
    cinfo->input_components = 1;
    cinfo->in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo); // grey component, JFIF header, standard Huffman tables
    jpeg_set_quality(cinfo, job->quality, FALSE);
    read_quant_tables(cinfo, job->table, jpeg_quality_scaling(job->quality));

    if (job->huffman == kJpegHuffFlc)
        install_huff_tables(cinfo, true);
    else if (job->huffman == kJpegHuffOptimal)
        cinfo->optimize_coding = TRUE;

    if (job->restartValue != 0) {
        if (job->restartUnit == kJpegRestartRows)
            cinfo->restart_in_rows = job->restartValue;
        else
            cinfo->restart_interval = static_cast<unsigned int>(job->restartValue);
    }

    jpeg_start_compress(cinfo, TRUE);
    JSAMPROW rows[1] = {job->row};
    for (int y = 0; y < job->rows; ++y) {
        get_image_row(job->samples + static_cast<size_t>(y) * job->cols, job->row, job->cols);
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

std::string JpegStreamPath(const std::string &userDir)
{
    return zn::WithTrailingSlash(userDir) + kJpegStreamName;
}

float JpegEncoder(const ZnImage &image, int quality, int table, int huffman, int restartValue,
                  int restartUnit, bool countOnly, const std::string &streamPath)
{
    const int rows = image.Rows(), cols = image.Cols();
    if (rows < 1 || cols < 1 || rows > JPEG_MAX_DIMENSION || cols > JPEG_MAX_DIMENSION)
        throw zn::RunAborted(zn::Format("JpegEncoder - A %d x %d image cannot be coded as JPEG", cols, rows));
    if (restartValue < 0 || restartValue > 65535)
        throw zn::RunAborted(zn::Format("JpegEncoder - Restart interval %d out of range", restartValue));

    zn::FilePtr file;
    if (!countOnly) {
        file.reset(std::fopen(streamPath.c_str(), "wb"));
        if (!file)
            throw zn::RunAborted("JpegEncoder - Could not create the compressed JPEG file:\n" + streamPath);
    }
    std::vector<JSAMPLE> row(static_cast<size_t>(cols));
    EncodeJob job{};
    job.samples = image.Data();
    job.rows = rows;
    job.cols = cols;
    job.quality = std::clamp(quality, 1, 100);
    job.table = table;
    job.huffman = huffman;
    job.restartValue = restartValue;
    job.restartUnit = restartUnit;
    job.row = row.data();
    job.dest.file = file.get();

    const bool ok = CompressCore(&job);
    jpeg_destroy_compress(&job.cinfo);
    if (!ok) {
        if (job.dest.writeFailed)
            throw zn::RunAborted("JpegEncoder - Could not write the compressed JPEG file:\n" + streamPath);
        throw zn::RunAborted(std::string("JpegEncoder - ") + job.err.message);
    }
    if (file && std::fclose(file.release()) != 0)
        throw zn::RunAborted("JpegEncoder - Could not write the compressed JPEG file:\n" + streamPath);
    return static_cast<float>(8.0 * static_cast<double>(job.dest.bytes) /
                              (static_cast<double>(rows) * static_cast<double>(cols)));
}

int JpegFindQuality(float target, const ZnImage &image, int table, int huffman, int restartValue,
                    int restartUnit)
{
    // The ends are never coded: quality 1 stands for 0 bpp and 100 for 8 bpp.
    int lo = 1, hi = 100, m = 50;
    float rateLo = 0.0f, rateHi = 8.0f, r = 1000.0f;
    while (m < hi && std::fabs(r - target) > 0.005f) {
        r = JpegEncoder(image, m, table, huffman, restartValue, restartUnit, true, std::string());
        if (r > target) {
            hi = m;
            rateHi = r;
        } else {
            lo = m;
            rateLo = r;
        }
        m = (lo + hi) / 2;
        if (m <= lo)
            break;
    }
    return std::fabs(rateLo - target) < std::fabs(rateHi - target) ? lo : hi;
}
