// The document image reader and writer. Rows are addressed as stored bottom-up: codec row 0, the top
// of the picture, is the last row in memory. A 24-bit picture gives its first (blue) byte, which is
// the grey level of a grey image; an 8-bit one gives the grey of its palette entry.
#include "jpeg2000/module/jp2_image_io.h"

#include "image/cdib.h"
#include "jpeg2000/local_services.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>

namespace zn::j2k {

namespace {

const CDib *g_source = nullptr;
CDib *g_target = nullptr;

const char *const kReaderUsage[] = {"(Error from Jp2_zantho_image_reader_interface)",
                                    "This message should never appear.",
                                    "Image reader has been replaced by internal interface to Zantho",
                                    "Report this error to author of Zantho ", nullptr};
const char *const kWriterUsage[] = {"(Error from Jp2_zantho_image_writer_interface)",
                                    "This message should never appear.",
                                    "Image writer has been replaced by internal interface to Zantho",
                                    "Report this error to author of Zantho ", nullptr};

// The grey level a palette entry stands for, with the luminance weights every measure uses, so an
// 8-bit document is coded as the picture it is measured against.
int PaletteGrey(const RGBQUAD &q)
{
    const double y = 0.3008 * q.rgbRed + 0.5859 * q.rgbGreen + 0.1133 * q.rgbBlue;
    return std::clamp(static_cast<int>(std::lround(y)), 0, 255);
}

bool Readable(const CDib *image)
{
    if (!image || !image->GetBits() || image->GetWidth() <= 0 || image->GetHeight() <= 0)
        return false;
    const int bits = image->GetInfoHeader()->biBitCount;
    return bits == 24 || (bits == 8 && image->GetPalette());
}

} // namespace

// ---- reader -------------------------------------------------------------------------------------

std::unique_ptr<Jp2_zantho_image_reader_interface> Jp2_zantho_image_reader_interface::create()
{
    return std::make_unique<Jp2_zantho_image_reader_interface>();
}

void Jp2_zantho_image_reader_interface::set_source(const CDib *image)
{
    g_source = image;
}

void Jp2_zantho_image_reader_interface::initialize(int *num_components, command_line *)
{
    m_image = g_source;
    if (!Readable(m_image))
        local_error("The image to encode holds no 8-bit or 24-bit picture!");
    m_num_components = 1;
    if (num_components)
        *num_components = 1;
    m_component = std::make_unique<image_io_component>();
    image_io_component &c = *m_component;
    c.rows = m_image->GetHeight();
    c.cols = m_image->GetWidth();
    c.rows_left = c.rows;
    c.line_bytes = c.cols;
}

usage_table Jp2_zantho_image_reader_interface::get_usage() const
{
    return kReaderUsage;
}

void Jp2_zantho_image_reader_interface::get_dims(int, int *dims) const
{
    dims[0] = m_component->rows;
    dims[1] = m_component->cols;
}

int Jp2_zantho_image_reader_interface::get_precision(int) const
{
    return 8;
}

int Jp2_zantho_image_reader_interface::get_line(int32_t *line, int, int width)
{
    image_io_component &c = *m_component;
    if (c.rows_left <= 0)
        local_error("The image reader was asked for more rows than the image has!");
    const int r = c.rows - c.rows_left;
    const uint8_t *p = m_image->StoredRow(c.rows - 1 - r);
    // The whole row, as long as the caller's buffer holds it.
    const int n = std::min(c.cols, width);
    if (m_image->GetInfoHeader()->biBitCount == 24) {
        for (int i = 0; i < n; ++i)
            line[i] = p[3 * i];
    } else {
        const RGBQUAD *palette = m_image->GetPalette(); // 256 entries: any index is inside
        for (int i = 0; i < n; ++i)
            line[i] = PaletteGrey(palette[p[i]]);
    }
    return --c.rows_left;
}

void Jp2_zantho_image_reader_interface::terminate()
{
    m_component.reset();
    m_image = nullptr;
}

// ---- writer -------------------------------------------------------------------------------------

std::unique_ptr<Jp2_zantho_image_writer_interface> Jp2_zantho_image_writer_interface::create()
{
    return std::make_unique<Jp2_zantho_image_writer_interface>();
}

void Jp2_zantho_image_writer_interface::set_target(CDib *image)
{
    g_target = image;
}

void Jp2_zantho_image_writer_interface::initialize(int num_components, const int *precisions, const int *dims,
                                                   command_line *)
{
    m_image = g_target;
    if (!m_image)
        local_error("The decoded image has no place to go!");
    if (num_components != 1) {
        ShowMessage("Warning: JPEG2000 decoder will handle only one component");
        num_components = 1;
    }
    m_num_components = num_components;
    m_component = std::make_unique<image_io_component>();
    image_io_component &c = *m_component;
    c.rows = dims[0];
    c.cols = dims[1];
    c.rows_left = c.rows;
    c.line_bytes = c.cols;
    c.bit_depth = precisions[0];
    // The pixel rows keep their storage when they are large enough for the new picture.
    if (!m_image->Create24(c.cols, c.rows))
        local_error("The decoded image of %d x %d pixels cannot be held!", c.cols, c.rows);
    // The image-size field by the pixel-count convention of the image object: padded bytes / 3.
    const int64_t stride = m_image->RowBytes();
    m_image->GetInfoHeader()->biSizeImage = static_cast<uint32_t>(stride * c.rows / 3);
}

usage_table Jp2_zantho_image_writer_interface::get_usage() const
{
    return kWriterUsage;
}

void Jp2_zantho_image_writer_interface::put_line(const int32_t *line, int, int width)
{
    image_io_component &c = *m_component;
    if (c.rows_left <= 0)
        local_error("The image writer was given more rows than the image has!");
    uint8_t *p = m_image->StoredRow(c.rows_left - 1);
    const int n = std::min(c.cols, width);
    for (int i = 0; i < n; ++i) {
        const uint8_t v = static_cast<uint8_t>(std::clamp<int32_t>(line[i], 0, 255));
        p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = v;
    }
    --c.rows_left;
}

void Jp2_zantho_image_writer_interface::terminate()
{
    m_component.reset();
    m_image = nullptr;
}

// ---- bindings -----------------------------------------------------------------------------------

image_bindings::image_bindings(const CDib *source, CDib *target)
{
    g_source = source;
    g_target = target;
}

image_bindings::~image_bindings()
{
    g_source = nullptr;
    g_target = nullptr;
}

} // namespace zn::j2k
