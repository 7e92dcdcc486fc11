// Fuzzes the BMP reader, then the conversions a loaded image goes through.
#include "fuzz_image_file.h"
#include "image/cdib.h"
#include "image/znimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = FuzzInputPath(".bmp");
    if (!WriteFuzzInput(path, data, size))
        return 0;
    CDib dib;
    if (dib.LoadDibFile(path, false) < 0)
        return 0;
    ZnImage z;
    z.DibToZnImage(&dib);
    CDib back;
    z.ZnImageToDib(&back);
    dib.ToGrey();
    return 0;
}
