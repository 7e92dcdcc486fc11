// The JPEG2000 module's Apply, Qt-free: the encoder's argument vector and byte budget, the encoding
// of a document's image into the code-stream file (only when an encoder parameter changed), the
// decoding of that file at the decoding rate into the document's work image, the measures, and the
// report, description, name and caption of the result.
#pragma once

#include "modules/common/module_results.h"

#include <cstdint>
#include <string>
#include <vector>

class CDib;

// The coding parameters the pages set (defaults as the dialog starts), under the dialog's member names.
struct Jpeg2000Params
{
    static constexpr float kLossless = 100.0f; // encoding rate that stands for lossless coding

    float m_fEncRate = 0.5f; // bits per pixel
    int m_nLevels = 4;       // decomposition levels
    int m_bReversible = 0;
    int m_bSnrLayers = 0;
    int m_nCodeBlock = 32;
    int m_bTiling = 0;
    int m_nTileSize = 64;
    int m_bVisWeight = 0;
    float m_fVisExponent = 0.5f;
    int m_bRoi = 0;
    int m_nRoiBoost = 5;
    float m_fRoiRadius = 0.5f;
    float m_fDecRate = 0.5f;   // rate asked of the decoder; it names the results
    float m_fTruncRate = 0.5f; // where the decoder cuts the stream; -1: nowhere
    int m_nDiscardLevels = 0;  // resolution levels the decoder leaves out

    bool Lossless() const { return m_fEncRate == kLossless; }
};

// What an Apply leaves for the next one: whether the stream must be written again, and the report
// of the last encoding, which a decoding-only Apply repeats.
struct Jpeg2000Session
{
    int m_bReencode = 1;
    std::string m_sEncoderText;
    int32_t nGeneratedBytes = 0; // of the last encoding
};

// The encoder's words: "Jpeg2000Encoder" "-Flev" n ... "-Bresync" "N".
std::vector<std::string> Jpeg2000EncoderVector(const Jpeg2000Params &p);
// Bytes of columns x rows at rate bits per pixel, truncated; computed wide and kept below 2^31.
int32_t Jpeg2000ByteBudget(int cols, int rows, float rate);
// userDir + title + "_BitStream.jp2".
std::string Jpeg2000StreamPath(const std::string &userDir, const std::string &title);

struct Jpeg2000Encoding
{
    int32_t budget = 0;
    int32_t generated = 0; // bytes written before the end marker
};
// Encodes the image into path. The stream goes to a temporary file beside it that replaces path only
// when the encoding finished: a failed run (zn::RunAborted) leaves the previous stream. The
// encoder's report lines are appended to text.
Jpeg2000Encoding Jpeg2000Encode(const Jpeg2000Params &p, const CDib &source, const std::string &path,
                                std::string *text);

struct Jpeg2000Decoding
{
    int32_t bytesRead = 0; // what the block decoder took of the stream
    int tiles = 0;
    int rows = 0, cols = 0; // of the decoded (possibly reduced) image
    int32_t truncBytes = 0; // where the stream was cut; 0 when it was not
};
// What the decoder really took, in bits per pixel of the decoded image: below the rate asked when
// the stream ends first. The report and the R(D) point give this rate.
double Jpeg2000DecodedBitrate(const Jpeg2000Decoding &d);
// Decodes path into target at the parameters' truncation rate and discarded levels.
Jpeg2000Decoding Jpeg2000Decode(const Jpeg2000Params &p, const std::string &path, CDib *target);

struct Jpeg2000ApplyResult
{
    bool encoded = false;  // this Apply wrote the stream
    bool measured = false; // measures exist (no level was discarded)
    zn::Measures measures;
    Jpeg2000Decoding decoding;
    std::string result; // the result box
    std::string description, name, caption;
};

// One Apply: encodes when the session asks for it, always decodes, measures against the source and
// writes the texts. finalDib (the document's work image) receives the decoded picture, with the
// result name as title and the caption as window caption. A failed run leaves the session asking
// for a new encoding and throws zn::RunAborted.
Jpeg2000ApplyResult Jpeg2000ApplyRun(Jpeg2000Session &session, const Jpeg2000Params &p, const CDib &source,
                                     CDib *finalDib, const std::string &title, const std::string &userDir);

// The texts of a run, for the Apply and its tests.
std::string Jpeg2000Description(const Jpeg2000Params &p, const std::string &title, int32_t generatedBytes,
                                const Jpeg2000Decoding &d, bool measured, const zn::Measures &m);
std::string Jpeg2000ResultText(const std::string &encoderText, const Jpeg2000Decoding &d, bool measured,
                               const zn::Measures &m);
std::string Jpeg2000ResultName(const Jpeg2000Params &p, const std::string &title);
std::string Jpeg2000ResultCaption(const Jpeg2000Params &p, const std::string &title);

inline constexpr const char *kJpeg2000DecoderText = "JPEG2000 DECODING RESULTS:\r\n";
