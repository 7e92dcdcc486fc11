// FractalEncoder and FractalDecoder: a grey image as a set of block maps and back. Each range block
// of a quadtree is approximated by a domain block of twice its side, averaged down 2 x 2, turned by
// one of eight orientations and mapped through S * d + O. The decoder applies all maps again and
// again to an image that starts flat grey: each map shrinks a block to half its size and scales its
// contrast by |S| <= 1, so the iteration settles on a picture close to the original.
#pragma once

#include "modules/fractal/fic_geometry.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class ZnImage;

inline constexpr const char *kFicCodeFileName = "FractalCodedImageBitStream.fif";

struct FicEncodeParams
{
    int maxBlock = 16; // 2..128: larger blocks are always split
    int minBlock = 4;  // 2..maxBlock: smaller blocks are never made
    int threshold = 8; // rms error a block must meet to stay unsplit
    int sb = 4;        // bits of the scale index, 1..8
    int ob = 6;        // bits of the offset index, 1..8
};

struct FicEncodeStats
{
    long fitting = 0; // coded blocks whose rms met the threshold
    long coded = 0;   // leaves of the quadtree
    int dmin = 0, dmax = 0;
};

// Why these settings cannot code an image of rows x cols; empty when they can.
std::string FicSettingsProblem(int rows, int cols, const FicEncodeParams &p);

// The domain search the encoder runs: the fast one, or the plain one that checks it. Both give the
// same code, bit for bit.
enum class FicSearch { kFast, kPlain };

// The code of an image given as rows x cols bytes, row 0 at the top. Settings it cannot take end
// the run with zn::RunAborted carrying FicSettingsProblem's text.
std::vector<uint8_t> FicEncode(const uint8_t *pixels, int rows, int cols, const FicEncodeParams &p,
                               FicEncodeStats *stats, FicSearch search = FicSearch::kFast);

// Codes the source into the code file at path. out[0] = bits per pixel of the file, out[1] = the
// percentage of coded blocks that met the threshold. False when the file cannot be written: the
// outputs are then untouched and the reason is in *problem.
bool FractalEncoder(const ZnImage &source, const FicEncodeParams &p, const std::string &path, float out[2],
                    std::string *problem);

// One block map: the range square (x0, y0, side) takes S * (domain at dx, dy) + O, turned by
// orientation.
struct FicTransform
{
    int x0 = 0, y0 = 0, side = 0, depth = 0;
    int orientation = 0;
    int dx = 0, dy = 0;
    double S = 0, O = 0;
};
struct FicCode
{
    FicHeader header;
    std::vector<FicTransform> maps;
};

// Reads a code; empty when it describes an image of rows x cols (negative: of any size), otherwise
// what is wrong with it. Every value read is checked before it is used.
std::string FicParseCode(std::span<const uint8_t> bytes, int rows, int cols, FicCode *code);
// One iteration: every map from cur into next (both header rows x cols).
void fractal_decoder_apply_transformations(const FicCode &code, const uint8_t *cur, uint8_t *next);
// The image after `iterations` iterations from flat 128.
std::vector<uint8_t> FicDecodeImage(const FicCode &code, int iterations);

enum FicDecodeStatus { kFicDecoded = 0, kFicNoCodeFile = 1, kFicCodeDoesNotFit = 2 };
// Decodes the code file at path into output (already rows x cols). Without a file, or with one that
// does not describe an image of output's size (the file is shared by every document), every sample
// becomes 0 and *problem says why.
int FractalDecoder(ZnImage *output, int iterations, const std::string &path, std::string *problem = nullptr);
// Reads the code file at path (bounded), false when it cannot be opened.
bool FicReadCodeFile(const std::string &path, std::vector<uint8_t> *bytes);
// What FractalDecoder would make of the code file at path for an image of rows x cols, without
// decoding it.
int FicCheckCodeFile(const std::string &path, int rows, int cols, std::string *problem = nullptr);
