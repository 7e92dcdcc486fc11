// Motion estimation of the MPEG-1/2 encoder: per macroblock the prediction mode and vectors. Frame
// pictures search a pyramid (quarter, half and full size, then half-pel on the reconstruction), for
// the frame and for each field pair; field pictures search a spiral around the macroblock.
#pragma once

#include "mpeg/mpgenc/mpgenc_distortion.h"
#include "mpeg/mpgenc/mpgenc_types.h"

#include <cstdint>
#include <vector>

// Below this squared prediction error (9 per sample of a macroblock) intra coding is never worth it.
inline constexpr int kIntraThreshold = 9 * 256;

// 2:1 reduction with a 3 x 3 binomial filter; rows x cols source, target (rows/2) x (cols/2).
void Downsample2(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride);
void Downsample2Plain(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride);

// Best full-pel position (outX, outY) of the w x h block at (bx, by) of cur among the positions
// x0..x1, y0..y1 of ref, scanned in raster order; the first of equal sums wins, and an empty window
// gives (0, 0). The fast form may read kWindowReadPast bytes beyond the last block of a line of ref.
inline constexpr int kWindowReadPast = 12;
void SadWindowSearch(const uint8_t *ref, const uint8_t *cur, int refStride, int curStride, int w, int h,
                     int bx, int by, int x0, int x1, int y0, int y1, int &outX, int &outY);
void SadWindowSearchPlain(const uint8_t *ref, const uint8_t *cur, int refStride, int curStride, int w, int h,
                          int bx, int by, int x0, int x1, int y0, int y1, int &outX, int &outY);

struct SearchResult
{
    int x = 0, y = 0; // half-pel absolute position
    int dist = 0;
};

// The field predictions a frame macroblock can use in one direction: for each of its fields the
// better reference field (the other parity only when strictly better) and the summed distortion.
struct FieldPair
{
    const SearchResult *r[2];
    int sel[2];
    int dist;
};

// One reference field (or frame) as the searches see it: source samples for full-pel steps, the
// reconstruction for half-pel steps and decisions; both share the line stride of the search.
struct RefPlane
{
    const uint8_t *org = nullptr;
    const uint8_t *rec = nullptr;
};

// What a field picture's search found for one macroblock and one direction: the best 16 x 16 field
// prediction and the best pair of 16 x 8 halves, each with its reference field (0 top, 1 bottom).
struct FieldSearch
{
    SearchResult whole[2]; // 16 x 16 in the top and in the bottom reference field
    SearchResult field;
    int fieldSel = 0;
    SearchResult half[2];
    int halfSel[2] = {0, 0};
    int dmc8 = 0;
};

class MpegMotionEstimator
{
public:
    void SetPicture(int height, int width, int height2, int width2, int mbWidth, int mbHeight, int pictStruct,
                    int pictType, int M, int framePredDct, int topFirst);
    // All planes are luminance frames of width x height; the current picture is the frame being coded
    // (a field picture reads its own lines of it). secondField marks the second field of a frame,
    // ipflag the P field that follows an I field.
    void EstimatePicture(const uint8_t *oldorg, const uint8_t *neworg, const uint8_t *oldref,
                         const uint8_t *newref, const uint8_t *cur, int sxf, int syf, int sxb, int syb,
                         std::vector<MacroblockRecord> &mbs, int secondField = 0, int ipflag = 0);

    // One pyramid search over the whole picture: results per macroblock in raster order.
    std::vector<SearchResult> HierarchicalSearch(const uint8_t *refOrg, const uint8_t *refRec,
                                                 const uint8_t *cur, int sx, int sy, int rows, int cols,
                                                 int w, int h, int stride) const;
    // Spiral full-pel search around (i0, j0), then half-pel refinement on the reconstruction; block
    // 16 x h, picture width x height, all with one line stride.
    static SearchResult FullSearch(const RefPlane &ref, const uint8_t *blk, int i0, int j0, int sx, int sy,
                                   int h, int width, int height, int stride);

private:
    // A frame macroblock's search results in one direction: the frame result and, unless frame
    // prediction is forced, the better field pair.
    struct DirectionResults
    {
        SearchResult frame;
        FieldPair fields;
    };
    DirectionResults FetchForwardResults(int k) const;
    DirectionResults FetchBackwardResults(int k) const;
    void EstimateFrameMacroblock(int i, int j, int k, const uint8_t *oldref, const uint8_t *newref,
                                 const uint8_t *cur, MacroblockRecord &mb) const;
    void EstimateFieldMacroblock(int i, int j, const RefPlane fwd[2], const RefPlane bwd[2],
                                 const RefPlane dpOpposite, const uint8_t *cur, int sxf, int syf, int sxb,
                                 int syb, int ipflag, MacroblockRecord &mb) const;
    FieldSearch FieldEstimate(const RefPlane refs[2], const uint8_t *cur, int i, int j, int sx, int sy,
                              int ipflag) const;
    // Dual prime: the best same-parity vector with its differential; dmc 2^30 when none fits.
    struct DualPrime
    {
        int mx = 0, my = 0, dx = 0, dy = 0; // field units, half-pel
        int vmc = 0, dmc = 1 << 30;
    };
    DualPrime DualPrimeFrameEstimate(int k, int i, int j, const uint8_t *oldref, const uint8_t *cur) const;
    DualPrime DualPrimeFieldEstimate(const SearchResult &same, int i, int j, const uint8_t *sameRef,
                                     const uint8_t *oppositeRef, const uint8_t *cur) const;

    int m_height = 0, m_width = 0, m_height2 = 0, m_width2 = 0, m_mbWidth = 0, m_mbHeight = 0;
    int m_pictStruct = FRAME_PICTURE, m_pictType = I_TYPE, m_M = 1, m_framePredDct = 1, m_topFirst = 0;
    // Frame pictures: frame results, and field results [predicted field][reference field].
    std::vector<SearchResult> m_forward, m_backward;
    std::vector<SearchResult> m_fwdField[2][2], m_bwdField[2][2];
};
