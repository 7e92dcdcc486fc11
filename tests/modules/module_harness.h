// Drives the real module dialogs the way a user does: an offscreen main window, a still-image
// document opened from a BMP the test generated, the module opened through its document command,
// controls found and pressed by their ids, and the result read back from the result box and the
// chain window. Every module test builds on it.
#pragma once

#include "support/test_support.h"

#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class CDib;
class CDibDoc;
class CDibFrame;
class CMainFrame;
class QDialog;
class QWidget;

namespace zntest {

// A 24-bit grey image; pixel(x, y) gives the level of column x in picture row y (0 = top).
std::unique_ptr<CDib> MakeGreyDib(int width, int height, const std::function<int(int x, int y)> &pixel);
// Level of picture pixel (x, y) of a 24-bit image (its first byte).
int GreyAt(const CDib &dib, int x, int y);

// PSNR between two image files by ImageMagick's compare; +inf for identical images, NaN when the
// tool fails. Needs ZN_REQUIRE_TOOL("compare") in the test.
double MagickPsnr(const std::string &a, const std::string &b);
// Our PSNR (a reported one, "Infinite" read as +inf, or a stored R(D) value, 60 for an error-free
// result) agrees with ImageMagick's within tol; an error-free result must be error-free for both.
::testing::AssertionResult PsnrAgrees(double ours, double magick, double tol);

// A measure of a module's result text: the number after label ("  PSNR\t\t\t:" and friends); NaN
// when the label is missing or no number follows.
double ReportedMeasure(const std::string &text, const std::string &label);
double ReportedPsnr(const std::string &text);

// The oracle runs on outside images: each BMP in $ZANTHO_CORPUS/bmp is opened as a document, its grey
// image saved as the reference file, and check(doc, reference) runs; it returns whether it checked
// the file. Prints the corpus line when there were files.
void CheckCorpusImages(const std::function<bool(CDibDoc *doc, const std::string &reference)> &check);

class ModuleHarness
{
public:
    ModuleHarness();
    ~ModuleHarness();
    ModuleHarness(const ModuleHarness &) = delete;
    ModuleHarness &operator=(const ModuleHarness &) = delete;

    ScratchDir &Dir() { return m_dir; }

    // Writes image as <title>.bmp in the scratch folder and opens it as a document (title = title).
    CDibDoc *OpenImage(const std::string &title, const CDib &image);
    // Writes bytes as fileName in the scratch folder and opens it as a document, the way File Open
    // does: its type comes from the name (".264" an H.264 stream). nullptr when the reader refused it.
    CDibDoc *OpenStream(const std::string &fileName, const std::vector<unsigned char> &bytes);
    // The path of the last file OpenImage or OpenStream wrote.
    const std::string &ImagePath() const { return m_lastPath; }

    // Runs the document's module command and returns the dialog it keeps for it.
    QDialog *OpenModule(CDibDoc *doc, int commandId);
    template <class Dlg> Dlg *Open(CDibDoc *doc, int commandId)
    {
        return dynamic_cast<Dlg *>(OpenModule(doc, commandId));
    }

    // Clicks the button (push, radio or check box) with that id; a test failure when there is none.
    static void Click(const QWidget *dialog, int id);
    static bool IsChecked(const QWidget *dialog, int id);
    static bool IsEnabled(const QWidget *dialog, int id);
    // The result box's text with "\r\n" line ends, as the module wrote it.
    static std::string ResultText(const QWidget *dialog, int id);

    // The newest chain window of a document, its title (the image caption), the name of its image,
    // its description, and its image saved as a BMP file in the scratch folder.
    static CDibFrame *LastChain(CDibDoc *doc);
    static int ChainCount(CDibDoc *doc);
    static std::string ChainCaption(CDibDoc *doc);
    static std::string ChainImageName(CDibDoc *doc);
    static std::string ChainDescription(CDibDoc *doc);
    static const CDib *ChainImage(CDibDoc *doc);
    // The grey levels of an image (none for no image) or of the newest chain image, row by row from
    // the top.
    static std::vector<int> Greys(const CDib *dib);
    static std::vector<int> ChainGreys(CDibDoc *doc);
    // Reseeds the random generator with seed, applies, and returns the new chain image's grey levels:
    // two calls with one seed give equal levels when the noise of a run comes only from the seed.
    static std::vector<int> ApplySeeded(const QWidget *dialog, int applyId, CDibDoc *doc, int seed);
    // The same of any result window: its title, the name of its image, its description and image.
    static std::string Caption(CDibFrame *frame);
    static std::string ImageName(CDibFrame *frame);
    static std::string Description(CDibFrame *frame);
    static const CDib *Image(CDibFrame *frame);
    // Apply with no tables directory set: true when the Preferences opened (they are closed again).
    static bool ApplyOpensPreferences(const QWidget *dialog, int applyId);
    std::string SaveChainImage(CDibDoc *doc, const std::string &fileName);

private:
    ScratchDir m_dir;
    CMainFrame *m_pFrame = nullptr;
    std::string m_lastPath;
};

} // namespace zntest
