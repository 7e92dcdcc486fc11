// A decoder dialog stand-in for run tests: it keeps the choices the test sets, records the text, every
// document display and every request to show or close a window, and owns the document image and the
// work images the run fills.
#pragma once

#include "h264dec/decoder_host.h"
#include "image/cdib.h"
#include "image/yuv_writer.h"

#include <memory>
#include <string>
#include <vector>

namespace h264test {

struct DocumentDisplay
{
    int number, target;
    std::string type;
    bool operator==(const DocumentDisplay &) const = default;
};

struct WindowRequest
{
    bool chain, a, b, d;
    std::string captionChain, captionA, captionB, captionD;
};

class RecordingHost : public H264DecoderHost
{
public:
    H264ViewChoices choices;
    std::string text;
    int counter = 1;
    std::string title = "clip";
    CDib document, a, b, chain, d, legend;
    std::unique_ptr<CYuvFileWriter> save;
    std::vector<DocumentDisplay> displays;
    std::vector<WindowRequest> windows; // one per picture with views (D filled in by the second call)
    int legendShown = -1;               // the last legend request: 1 shown, 0 closed
    std::string legendCaption;

    RecordingHost() { choices.intra_colored = false; }
    const H264ViewChoices &ViewChoices() const override { return choices; }
    void h264dec_append_text(const std::string &t) override { text += t; }
    int &FrameCounter() override { return counter; }
    std::string DocumentTitle() const override { return title; }
    CDib *DocumentImage() override { return &document; }
    void OnApplyH264Decoding(int number, int target, const std::string &type) override
    {
        displays.push_back({number, target, type});
    }
    CYuvFileWriter *SaveFile() override { return save.get(); }
    CDib *WorkImage(H264Window w) override;
    void ShowSequenceResultImages(bool chainShown, bool aShown, bool bShown, const std::string &cc,
                                  const std::string &ca, const std::string &cb) override
    {
        windows.push_back({chainShown, aShown, bShown, false, cc, ca, cb, ""});
    }
    void ShowResultImageD(bool shown, const std::string &caption, bool, bool, bool) override
    {
        if (!windows.empty()) {
            windows.back().d = shown;
            windows.back().captionD = caption;
        }
    }
    void ShowLegendImage(bool shown, const std::string &caption, bool, bool, bool, bool) override
    {
        legendShown = shown ? 1 : 0;
        legendCaption = caption;
    }
};

// The stored pixel rows of a 24-bit image.
std::vector<uint8_t> Pixels(const CDib &dib);
// A 24-bit image of the given 4:2:0 (full = false) or 4:4:4 planes.
std::vector<uint8_t> ConvertedPixels(int width, int height, const uint8_t *y, const uint8_t *u,
                                     const uint8_t *v, bool full);

} // namespace h264test
