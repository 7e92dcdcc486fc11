// What a decoding run asks of the decoder dialog that started it: the view choices, the result text,
// the running frame counter, the save file and the document with its result windows. The dialog
// implements it; the engine builds every plane and image itself and only hands them over to be shown.
#pragma once

#include <string>

class CDib;
class CYuvFileWriter;

// The choices of the decoder dialog's pages.
struct H264ViewChoices
{
    bool frame_by_frame = false;
    bool vectors = false, vectors_on_picture = false;      // Motion Vectors page
    bool bdiv = false, bdiv_on_picture = false;            // Block Division page
    bool bits = false, bits_bdiv = false, bits_mv = false; // MB Bits Usage page and its two overlays
    bool stream = false;                                   // Input Stream page (the processing stream)
    bool intra = false, intra_colored = true;              // Intra Prediction page

    bool VectorsOrIntra() const { return vectors || intra; }
    // The bits view's overlays count only while that view is shown.
    bool BitsBdivOverlay() const { return bits && bits_bdiv; }
    bool BitsMvOverlay() const { return bits && bits_mv; }
    bool AnyView() const { return vectors || intra || bdiv || bits || stream; }
    // The legend explains the block-division colours, the vector colours and the bits ramp.
    bool LegendShown() const { return bdiv || vectors || bits; }
};

// The document's work images of the views.
enum class H264Window { A, B, Chain, D, Legend };

class H264DecoderHost
{
public:
    virtual ~H264DecoderHost() = default;

    virtual const H264ViewChoices &ViewChoices() const = 0;
    // Appends to the result text, shows the whole text and scrolls to its last line.
    virtual void h264dec_append_text(const std::string &text) = 0;
    // The running frame counter of the current run (1 at its start); the views advance it.
    virtual int &FrameCounter() = 0;

    // The document: its title, its own image (the decoded picture goes into it) and the display of that
    // image under the title "%s - Frame #%d(%s) --> #%d".
    virtual std::string DocumentTitle() const = 0;
    virtual CDib *DocumentImage() = 0;
    virtual void OnApplyH264Decoding(int frameNumber, int targetNumber, const std::string &typeText) = 0;
    // The save file, or nullptr while saving is off.
    virtual CYuvFileWriter *SaveFile() = 0;

    // A work image of the document (created on first use) and the windows that show them.
    virtual CDib *WorkImage(H264Window window) = 0;
    virtual void ShowSequenceResultImages(bool chain, bool a, bool b, const std::string &captionChain,
                                          const std::string &captionA, const std::string &captionB) = 0;
    virtual void ShowResultImageD(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra,
                                  bool bdiv) = 0;
    virtual void ShowLegendImage(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra,
                                 bool bdiv, bool bits) = 0;
};

// The current dialog's frame counter.
inline int h264dec_frame_number(H264DecoderHost &host)
{
    return host.FrameCounter();
}
