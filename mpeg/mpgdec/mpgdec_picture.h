// Picture data: the per-picture state shared by the macroblock reader, the block readers and
// motion-compensated prediction.
#pragma once

#include "mpeg/mpgdec/mpeg_decoder.h"

namespace zn {

namespace mpgvlc {
struct Table;
struct CompactTable;
} // namespace mpgvlc

enum MacroblockFlags { kMbIntra = 1, kMbPattern = 2, kMbBackward = 4, kMbForward = 8, kMbQuant = 16 };

struct MpegPictureDecoder
{
    explicit MpegPictureDecoder(CMpegDecoder &decoder) : d(decoder), ld(*decoder.current_layer) {}
    void Run();

    // macroblock layer (mpgdec_picture.cpp)
    bool Resync(int &mba, int &mbaInc);
    void ReadSliceHeader();
    int ReadAddressIncrement();
    void ReadMacroblockModes();
    void ReadQuantiserScale();
    void ReadMotionVectors(int s);
    void ReadMotionVector(int *pmv, int hRSize, int vRSize, bool dmv, bool mvscale, bool fullPel);
    int ReadMotionCode();
    void UpdateVector(int &pred, int rSize, int code, int residual, bool fullPel);
    void RecordOverlay(int mba);
    // blocks (mpgdec_blocks.cpp)
    enum class CoefficientRead { Coefficient, EndOfBlock, Fault };
    CoefficientRead ReadRunLevel(const mpgvlc::Table &table, int i, const char *reader, int &pos, int &level,
                                 bool &negative);
    CoefficientRead ReadRunLevelFast(const mpgvlc::CompactTable &table, int i, const char *reader, int &pos,
                                     int &level, bool &negative);
    // With the full tables (the plain reader) or their compact forms (the fast one).
    template <typename TableType, typename Dequant>
    void ReadAcCoefficients(short *bp, int i, const TableType &firstTable, const TableType &table,
                            const uint8_t *scan, const char *reader, Dequant dequant);
    template <typename Dequant>
    void ReadBlockCoefficients(short *bp, int i, bool firstForm, bool tableOne, const uint8_t *scan,
                               const char *reader, Dequant dequant);
    int ReadIntraDc(int comp);
    const int *IntraMatrix(int cc) const;
    const int *NonIntraMatrix(int comp) const;
    // The block readers of MPEG-1 and of MPEG-2.
    void getintrablock(int comp);
    void getinterblock(int comp);
    void getmpg2intrablock(int comp);
    void getmpg2interblock(int comp);
    void Reconstruct(int mba, bool skipped, int cbp);
    // prediction (mpgdec_predict.cpp)
    void mpgdec_mcpredict(int bx, int by);
    // output (mpgdec_output.cpp)
    void mpgdec_blocktoframe(int comp, int bx, int by, bool nonIntra);

    CMpegDecoder &d;
    MpegLayer &ld; // the layer the picture is read from
    bool fault = false;
    int mbaMax = 0;
    int dcPred[3] = {};
    int PMV[2][2][2] = {};
    int field_select[2][2] = {};
    int dmvector[2] = {};
    int macroblock_type = 0, motion_type = 0, dct_type = 0;
    int mvCount = 1, mvFormatField = 0, dualPrime = 0, mvScale = 0;
};

} // namespace zn
