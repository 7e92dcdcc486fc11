// The SPIHT module's Apply, Qt-free: the stream file that lives with the dialog, encoding again only
// when the encoder rate or the smoothing changed, decoding at the decoding rate, the measures, texts,
// names and captions of the three result images.
#pragma once

#include "image/znimage.h"
#include "modules/common/module_results.h"
#include "platform/tempfile.h"

#include <string>

class CDib;

struct SpihtParams
{
    float fEncRate = 0.5f;
    int nSmoothing = 0;
    float fDecRate = 0.5f;
};

struct SpihtApplyResult
{
    bool done = false;    // false: the picture was refused ("Image is too large!"), nothing to show
    bool encoded = false; // this Apply encoded: image A was made
    int levels = 0;
    float decRate = 0; // the rate decoded: the rate asked, or less when the stream ended first
    std::string results;
    zn::Measures measures;
    ZnImage decoded, originalBands, decodedBands;
    std::string nameChain, captionChain, descChain;
    std::string nameA, captionA, descA;
    std::string nameB, captionB, descB;
};

class SpihtSession
{
public:
    // A failure throws zn::RunAborted after removing the stream, so the next Apply encodes again.
    void Apply(const CDib &image, const std::string &title, const SpihtParams &par,
               const std::string &userDir, SpihtApplyResult *out);
    const std::string &StreamPath() const { return m_stream.Path(); }

private:
    void Forget();

    zn::OwnedTempFile m_stream;
    int m_nLastSmoothing = -1; // no real choice: the first Apply encodes
    float m_fLastEncRate = -1.0f;
    int m_nLevels = 0;
    std::string m_sEncoderText;
};
