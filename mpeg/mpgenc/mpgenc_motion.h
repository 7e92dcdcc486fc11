// Motion estimation of the MPEG-1/2 encoder: per macroblock the prediction mode and vectors. Frame
// pictures search a pyramid (quarter, half and full size, then half-pel on the reconstruction).
#pragma once

#include "mpeg/mpgenc/mpgenc_types.h"

#include <cstdint>
#include <vector>

// Distortion measures between a 16-wide reference area at half-pel position and a current block.
int SadBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit);
int SseBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy);
int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy);
int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy);
int BlockVariance16(const uint8_t *p, int stride);
// 2:1 reduction with a 3 x 3 binomial filter; rows x cols source, target (rows/2) x (cols/2).
void Downsample2(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride);

struct SearchResult
{
    int x = 0, y = 0; // half-pel absolute position
    int dist = 0;
};

class MpegMotionEstimator
{
public:
    void SetPicture(int height, int width, int height2, int width2, int mbWidth, int mbHeight, int pictStruct,
                    int pictType, int M, int framePredDct, int topFirst);
    void EstimatePicture(const uint8_t *oldorg, const uint8_t *neworg, const uint8_t *oldref,
                         const uint8_t *newref, const uint8_t *cur, int sxf, int syf, int sxb, int syb,
                         std::vector<MacroblockRecord> &mbs);

    // One pyramid search over the whole picture: results per macroblock in raster order.
    std::vector<SearchResult> HierarchicalSearch(const uint8_t *refOrg, const uint8_t *refRec,
                                                 const uint8_t *cur, int sx, int sy, int rows, int cols,
                                                 int w, int h, int stride) const;

private:
    void EstimateFrameMacroblock(int i, int j, int k, const uint8_t *oldref, const uint8_t *newref,
                                 const uint8_t *cur, MacroblockRecord &mb) const;

    int m_height = 0, m_width = 0, m_height2 = 0, m_width2 = 0, m_mbWidth = 0, m_mbHeight = 0;
    int m_pictStruct = FRAME_PICTURE, m_pictType = I_TYPE, m_M = 1, m_framePredDct = 1, m_topFirst = 0;
    std::vector<SearchResult> m_forward, m_backward;
};
