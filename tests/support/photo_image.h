// A sample photograph (scripts/photos) as the float luminance image a module codes.
#pragma once

#include "image/cdib.h"
#include "image/znimage.h"
#include "support/test_support.h"

#include <string>

namespace zntest {

// False when the photograph is missing or cannot be read; use ZN_REQUIRE_PHOTO first.
inline bool LoadPhotoImage(const std::string &name, ZnImage *out)
{
    CDib dib;
    const std::string path = PhotoPath(name);
    if (path.empty() || dib.LoadDibFile(path, true) <= 0)
        return false;
    out->DibToZnImage(&dib);
    return true;
}

} // namespace zntest
