// The EZW module's Apply, Qt-free: the stream file that lives with the dialog, encoding again only
// when the levels or the encoder rate changed, decoding at the decoder rate, the measures, texts,
// names and captions of the three result images.
#pragma once

#include "image/znimage.h"
#include "modules/common/module_results.h"
#include "platform/tempfile.h"

#include <string>

class CDib;

struct EzwParams
{
    float fEncRate = 0.5f;
    int nWaveletLevels = 3;
    float fDecRate = 0.5f;
};

struct EzwApplyResult
{
    bool encoded = false; // this Apply encoded: image A was made
    std::string results;  // the result box
    float decRate = 0;    // the rate decoded: the rate asked, or less when the stream ended first
    zn::Measures measures;
    ZnImage decoded, originalBands, decodedBands;
    std::string nameChain, captionChain, descChain;
    std::string nameA, captionA, descA;
    std::string nameB, captionB, descB;
};

class EzwSession
{
public:
    // Codes the image (its luminance) with the parameters; the stream goes to a new temporary file
    // in userDir when the levels or the encoder rate changed. A failure throws zn::RunAborted after
    // removing the stream, so the next Apply encodes again.
    void Apply(const CDib &image, const std::string &title, const EzwParams &par, const std::string &userDir,
               EzwApplyResult *out);
    // The stream file of the last encoding; empty before the first.
    const std::string &StreamPath() const { return m_stream.Path(); }
    void Close() { Forget(); }

private:
    void Forget();

    zn::OwnedTempFile m_stream;
    float m_fLastEncRate = 10.9f; // no real choice: the first Apply encodes
    int m_nLastWaveletLevels = 0;
    std::string m_sEncoderText;
};
