// Designs the codebooks a new user finds in the codebook folder: one per vector size of the design
// dialog's usual choices (4x4, and 2x2 and 8x8 for pictures the 4x4 blocks do not fit), rates 1 to
// 8, trained on all the given photographs at once so that no codebook knows only one picture.
// Usage: zn_cbkgen <output directory> <photograph.bmp>...
// The files are named as the design dialog proposes them ("samples_4x4_min1_max8.cbk"). The random
// initial codebooks come from a fixed seed, so every run writes the same files.
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/vq/vq_design.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSizes[] = {4, 2, 8};
constexpr int kMinRate = 1, kMaxRate = 8;
constexpr int kIterations = 20;
constexpr float kThreshold = 0.01f;
constexpr uint32_t kSeed = 1;

// The photographs one above the other, each cut to whole blocks and to the narrowest width, so that
// every training block lies inside one photograph.
void StackForBlocks(const std::vector<std::unique_ptr<ZnImage>> &photos, int size, ZnImage *train)
{
    int cols = 1 << 30, rows = 0;
    for (const auto &p : photos) {
        cols = std::min(cols, p->Cols() / size * size);
        rows += p->Rows() / size * size;
    }
    train->Alloc(rows, cols);
    float *out = train->Data();
    for (const auto &p : photos)
        for (int y = 0; y < p->Rows() / size * size; ++y, out += cols)
            std::copy_n(p->Data() + static_cast<size_t>(y) * p->Cols(), cols, out);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <output directory> <photograph.bmp>...\n", argv[0]);
        return 2;
    }
    const std::string outDir = zn::Format("%s/", argv[1]);
    // The engines' messages go to the terminal; there is nobody to answer them.
    zn::SetMessageHandler([](const zn::MessageRequest &r) {
        std::fprintf(stderr, "zn_cbkgen: %s\n", r.text.c_str());
        return zn::MsgAnswer::Ok;
    });
    try {
        std::vector<std::unique_ptr<ZnImage>> photos;
        for (int i = 2; i < argc; ++i) {
            CDib dib;
            if (dib.LoadDibFile(argv[i], true) < 0) {
                std::fprintf(stderr, "zn_cbkgen: cannot read %s\n", argv[i]);
                return 1;
            }
            photos.push_back(std::make_unique<ZnImage>());
            photos.back()->DibToZnImage(&dib);
        }
        zn::PinRandSeed(kSeed);
        for (int size : kSizes) {
            ZnImage train, codebook;
            StackForBlocks(photos, size, &train);
            VqCodebookDesign(train.img, &codebook, size, size, kMinRate, kMaxRate, kVqInitRandom, kThreshold,
                             kIterations, nullptr);
            CDib dib;
            codebook.ZnImageToDib(&dib);
            const std::string path =
                outDir + zn::Format("samples_%ix%i_min%i_max%i.cbk", size, size, kMinRate, kMaxRate);
            if (!dib.SaveDibFile(path)) {
                std::fprintf(stderr, "zn_cbkgen: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    } catch (const zn::RunAborted &e) {
        std::fprintf(stderr, "zn_cbkgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
