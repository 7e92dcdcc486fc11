// Menu 129 of the document windows and context menu 133 of an image window.
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

using namespace zn::cmd;

namespace {

struct Item
{
    int id; // 0: separator
    const char *text;
};

void AddItems(QMenu *menu, std::initializer_list<Item> items, const CDibDoc::ActionFactory &action)
{
    for (const Item &item : items) {
        if (item.id == 0)
            menu->addSeparator();
        else if (QAction *a = action(item.id, QString::fromLatin1(item.text)))
            menu->addAction(a);
    }
}

} // namespace

void CDibDoc::BuildMenu129(QMenuBar *bar, const ActionFactory &action,
                           const std::function<void(QMenu *)> &addRecentFiles)
{
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    AddItems(file,
             {{kOpenImage, "Open &Image"},
              {kOpenSequence, "Open &Sequence"},
              {0, nullptr},
              {kOpenMpegStream, "Open &Mpeg Stream"},
              {kOpenH264Stream, "Open &H.264 Stream"},
              {0, nullptr},
              {kFileClose, "&Close"},
              {kSaveImageAs, "&Save image As..."},
              {0, nullptr}},
             action);
    if (addRecentFiles)
        addRecentFiles(file);
    AddItems(file, {{0, nullptr}, {kAppExit, "E&xit"}}, action);

    AddItems(bar->addMenu(QStringLiteral("Basic Operations")),
             {{kImageInfo, "Display Image Information"},
              {0, nullptr},
              {kPutOnStack, "Put Selected Image on Stack"},
              {kSubtractFromStack, "Subtract from Image on Stack"},
              {0, nullptr},
              {kStoreRD, "Store R(D) Points"},
              {kPlotRD, "Plot R(D) Points"},
              {0, nullptr},
              {kTemplate, "(&Developer's Example)"}},
             action);
    AddItems(bar->addMenu(QStringLiteral("&Basic Compression")),
             {{0, nullptr}, {kSubsampling, "S&ubsampling"}, {0, nullptr}, {kPcm, "&PCM"}, {kDpcm, "&DPCM"}},
             action);
    AddItems(bar->addMenu(QStringLiteral("&Vector Quantization")),
             {{kVq, "&Vector Quantization"}, {kFractal, "&Fractal Image Coding"}}, action);
    AddItems(bar->addMenu(QStringLiteral("Linear &Transforms")),
             {{kDct, "&Discrete Cosine Transform"},
              {kJpeg, "DCT Coding: &JPEG"},
              {0, nullptr},
              {kSubband, "&Subband Coding"},
              {kSpiht, "Wavelet Coding: SPI&HT"},
              {kEzw, "Wavelet Coding: &EZW"},
              {kJpeg2000, "Wavelet Coding: JPEG&2000"}},
             action);
    AddItems(bar->addMenu(QStringLiteral("&Video Compression")),
             {{kVideoPlayer, "Video &Player"},
              {kMotionEstimation, "Motion &Estimation"},
              {0, nullptr},
              {kMpegEncoder, "Mpeg-1/2 &Encoder"},
              {kMpegDecoder, "Mpeg-1/2 &Decoder"},
              {0, nullptr},
              {kH264Encoder, "H.264 Video Encoder"},
              {kH264Decoder, "H.264 Video Decoder"}},
             action);
    AddItems(bar->addMenu(QStringLiteral("&Window")),
             {{kWindowCascade, "&Cascade"}, {kWindowTile, "&Tile"}, {kWindowArrange, "&Arrange Icons"}},
             action);
    AddItems(bar->addMenu(QStringLiteral("&Help")),
             {{kAppHelp, "Zantho Help (F1)"}, {kSettings, "&Settings"}, {kAppAbout, "&About Zantho ..."}},
             action);
}

void CDibDoc::BuildContextMenu(QMenu *menu, const ActionFactory &action)
{
    AddItems(menu, {{kImageInfo, "Image Information"}}, action);
    AddItems(menu->addMenu(QStringLiteral("Subtract Images")),
             {{kPutOnStack, "Put Image on Stack"}, {kSubtractFromStack, "Subtract from Image on Stack"}},
             action);
    AddItems(menu->addMenu(QStringLiteral("Create R(D) Graph")),
             {{kStoreRD, "Store R(D) Points"}, {kPlotRD, "Plot R(D) Points"}}, action);
    menu->addSeparator();
    AddItems(menu->addMenu(QStringLiteral("Basic Compression")),
             {{kSubsampling, "Subsampling"}, {kPcm, "PCM Coding"}, {kDpcm, "DPCM Coding"}}, action);
    AddItems(menu->addMenu(QStringLiteral("Vector Quantization")),
             {{kVq, "Vector Quantization"}, {kFractal, "Fractal Coding"}}, action);
    AddItems(menu->addMenu(QStringLiteral("Linear Transforms")),
             {{kDct, "Discrete Cosine Transform"},
              {kJpeg, "JPEG (DCT) Compression"},
              {0, nullptr},
              {kSubband, "Subband Coding"},
              {kSpiht, "Wavelet Coding: SPIHT"},
              {kEzw, "Wavelet Coding: EZW"},
              {kJpeg2000, "Wavelet Coding: JPEG2000"}},
             action);
    menu->addSeparator();
    AddItems(menu->addMenu(QStringLiteral("Video Compression")),
             {{kVideoPlayer, "Play Image Sequence"},
              {kMotionEstimation, "Motion Estimation"},
              {0, nullptr},
              {kMpegEncoder, "Mpeg Video Encoder"},
              {kMpegDecoder, "Mpeg Video Decoder"},
              {0, nullptr},
              {kH264Encoder, "H.264 Video Encoder"},
              {kH264Decoder, "H.264 Video Decoder"}},
             action);
    menu->addSeparator();
    AddItems(menu,
             {{kSetAsStartImage, "Set as Start Image"},
              {kSaveImageAs, "Save Image &As..."},
              {0, nullptr},
              {kDeleteResultImages, "Delete Result Images"}},
             action);
}
