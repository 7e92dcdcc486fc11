// Fuzzes the TIFF reader (libtiff's RGBA path and our checks around it).
#include "fuzz_image_file.h"
#include "image/cdib.h"
#include "image/znimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = FuzzInputPath(".tif");
    if (!WriteFuzzInput(path, data, size))
        return 0;
    CDib dib;
    if (dib.LoadTifFile(path, true) < 0)
        return 0;
    ZnImage z;
    z.DibToZnImage(&dib);
    return 0;
}
