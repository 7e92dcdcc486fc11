// The SPIHT module's Apply, Qt-free: the stream file that lives with the dialog, encoding again only
// when the encoder rate or the smoothing changed, decoding at the decoding rate, the measures, texts,
// names and captions of the three result images.
#pragma once

#include "image/znimage.h"
#include "modules/common/module_results.h"

#include <cstdio>
#include <string>

class CDib;

// The choices of the pages.
struct SpihtParams
{
    float m_fEncRate = 0.5f;
    int m_nSmoothing = 0;
    float m_fDecRate = 0.5f;
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
    SpihtSession() = default;
    SpihtSession(const SpihtSession &) = delete;
    SpihtSession &operator=(const SpihtSession &) = delete;
    ~SpihtSession() { CloseStream(); }

    // A failure throws zn::RunAborted after removing the stream, so the next Apply encodes again.
    void Apply(const CDib &image, const std::string &title, const SpihtParams &par,
               const std::string &userDir, SpihtApplyResult *out);
    // The stream file of the last encoding; empty before the first.
    const std::string &StreamPath() const { return m_szStreamName; }
    // Closes the stream file and deletes it, if one is open.
    void CloseStream();

private:
    void Forget();

    std::FILE *m_pStream = nullptr; // the open stream file, null when none
    std::string m_szStreamName;     // its full name
    int m_nLastSmoothing = -1;      // no real choice: the first Apply encodes
    float m_fLastEncRate = -1.0f;
    float m_fLastDecRate = -1.0f; // kept, not read
    int m_nLevels = 0;
    std::string m_sEncoderText;
};
