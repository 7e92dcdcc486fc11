// The EZW module's Apply, Qt-free: the stream file that lives with the dialog, encoding again only
// when the levels or the encoder rate changed, decoding at the decoder rate, the measures, texts,
// names and captions of the three result images.
#pragma once

#include "image/znimage.h"
#include "modules/common/module_results.h"

#include <cstdio>
#include <string>

class CDib;

// The choices of the pages.
struct EzwParams
{
    float m_fEncRate = 0.5f;
    int m_nWaveletLevels = 3; // L, the wavelet decompositions ("4" resolution levels)
    float m_fDecRate = 0.5f;
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
    EzwSession() = default;
    EzwSession(const EzwSession &) = delete;
    EzwSession &operator=(const EzwSession &) = delete;
    ~EzwSession() { Forget(); }

    // Codes the image (its luminance) with the parameters; the stream goes to a new temporary file
    // in userDir when the levels or the encoder rate changed. A failure throws zn::RunAborted after
    // removing the stream, so the next Apply encodes again.
    void Apply(const CDib &image, const std::string &title, const EzwParams &par, const std::string &userDir,
               EzwApplyResult *out);
    // The stream file of the last encoding; empty before the first.
    const std::string &StreamPath() const { return m_szStreamName; }
    void Close() { Forget(); }

private:
    // Closes and deletes the stream file; the next Apply encodes again.
    void Forget();

    std::FILE *m_pStream = nullptr; // the open stream file, null until the first encoding
    std::string m_szStreamName;     // its full name
    float m_fLastEncRate = 10.9f;   // no real choice: the first Apply encodes
    int m_nLastWaveletLevels = 0;
    float m_fLastDecRate = 10.9f; // kept, not read
    std::string m_sEncoderText;
};
