// Fuzzes the codebook loader: any BMP read as a codebook, its header check, and, for a codebook that
// passes it, the coder reading the vectors of every rate.
#include "fuzz_image_file.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_coder.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = FuzzInputPath(".cbk");
    if (!WriteFuzzInput(path, data, size))
        return 0;
    CDib file;
    if (file.LoadDibFile(path, true) < 0)
        return 0;
    ZnImage codebook;
    codebook.DibToZnImage(&file);
    VqCodebookHeader header;
    if (!VqReadHeader(codebook, &header).empty())
        return 0;
    // One picture of two by two vectors, coded at every rate of the codebook and one beyond each end.
    ZnImage source, rec;
    source.Alloc(2 * header.h, 2 * header.w);
    rec.Alloc(2 * header.h, 2 * header.w);
    for (int i = 0; i < source.Rows() * source.Cols(); ++i)
        source.Data()[i] = static_cast<float>((i * 53) % 256);
    for (int bits = header.rmin - 1; bits <= header.rmax + 1; ++bits) {
        try {
            VqCodec(source.img, codebook.img, rec.img, bits, bits % 2 ? 0.01f : 0.0f);
        } catch (const zn::RunAborted &) {
        }
    }
    return 0;
}
