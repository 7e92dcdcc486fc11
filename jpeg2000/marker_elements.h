// The marker element vocabulary. Every coding parameter that reaches the code-stream is a named list
// of integers; the name's first byte is the low byte of the marker segment it belongs to and its
// second byte the element's id within that segment. The rest of the name is for messages only.
#pragma once

#include <cstdint>

namespace zn::j2k {

// Marker low bytes.
inline constexpr uint8_t kSIZ = 0x51, kCOD = 0x52, kCOC = 0x53, kQCD = 0x5C, kQCC = 0x5D, kRGN = 0x5E,
                         kPOC = 0x5F;

namespace elt {
inline constexpr char XSiz[] = "\x51\x01"
                               "XSiz (width of reference grid)";
inline constexpr char YSiz[] = "\x51\x02"
                               "YSiz (height of reference grid)";
inline constexpr char XOSiz[] = "\x51\x03"
                                "XOSiz (horizontal offset of image)";
inline constexpr char YOSiz[] = "\x51\x04"
                                "YOSiz (vertical offset of image)";
inline constexpr char XTSiz[] = "\x51\x11"
                                "XTSiz (width of one reference tile)";
inline constexpr char YTSiz[] = "\x51\x12"
                                "YTSiz (height of one reference tile)";
inline constexpr char XTOSiz[] = "\x51\x13"
                                 "XTOSiz (horizontal tiling offset)";
inline constexpr char YTOSiz[] = "\x51\x14"
                                 "YTOSiz (vertical tiling offset)";
inline constexpr char CSiz[] = "\x51\x21"
                               "CSiz (number of image components)";
inline constexpr char Precision[] = "\x51\x23"
                                    "Component precision information";
inline constexpr char HorizontalSubsampling[] = "\x51\x24"
                                                "Horizontal sub-sampling factors";
inline constexpr char VerticalSubsampling[] = "\x51\x25"
                                              "Vertical sub-sampling factors";
inline constexpr char Layers[] = "\x52\x01"
                                 "Number of quality layers";
inline constexpr char Progression[] = "\x52\x02"
                                      "Progression style (default)";
inline constexpr char SopUsed[] = "\x52\x11"
                                  "Start-of-packet (SOP) markers used?";
inline constexpr char EphUsed[] = "\x52\x12"
                                  "End-of-packet-head (EPH) markers used?";
inline constexpr char Mct[] = "\x52\x22"
                              "Multiple component transform used";
inline constexpr char Levels[] = "\x53\x01"
                                 "Number of decomposition levels";
inline constexpr char DecompositionStructure[] = "\x53\x02"
                                                 "Part-2 decomposition structure";
inline constexpr char Reversible[] = "\x53\x03"
                                     "Wavelet decomposition reversible?";
inline constexpr char KernelOptions[] = "\x53\x04"
                                        "Part-2 kernel options";
inline constexpr char KernelSupports[] = "\x53\x05"
                                         "Part-2 user-defined kernel supports";
inline constexpr char KernelTaps[] = "\x53\x06"
                                     "Part-2 user-defined kernel taps";
inline constexpr char Xcb[] = "\x53\x11"
                              "XCB (Code-block width <= 2^{XCB+2})";
inline constexpr char Ycb[] = "\x53\x12"
                              "YCB (Code-block height <= 2^{YCB+2})";
inline constexpr char Ppx[] = "\x53\x13"
                              "PPX (Packet partition width = 2^PPX)";
inline constexpr char Ppy[] = "\x53\x14"
                              "PPY (Packet partition height = 2^PPY)";
inline constexpr char Xcl[] = "\x53\x21"
                              "XCL (Cell width = 2^XCL)";
inline constexpr char Ycl[] = "\x53\x22"
                              "YCL (Cell height = 2^YCL)";
inline constexpr char Xap[] = "\x53\x23"
                              "XAP (Horizontal partition anchor point)";
inline constexpr char Yap[] = "\x53\x24"
                              "YAP (Vertical partition anchor point)";
inline constexpr char RespectCells[] = "\x53\x25"
                                       "Code-blocks respect cell boundaries?";
inline constexpr char HorizontalSsoLevels[] = "\x53\x26"
                                              "Num lowest levels using hor SSO-DWT";
inline constexpr char VerticalSsoLevels[] = "\x53\x27"
                                            "Num lowest levels using vert SSO-DWT";
inline constexpr char CoderFlags[] = "\x53\x31"
                                     "Entropy coder mode flags";
inline constexpr char Overlap[] = "\x53\x34"
                                  "Tile boundary overlap flags";
inline constexpr char SsoExtension[] = "\x53\x36"
                                       "Use SSO-DWT style boundary extension";
inline constexpr char QuantizationType[] = "\x5C\x01"
                                           "Type of quantization (DZQ,MASK,TCQ,...)";
inline constexpr char GuardBits[] = "\x5D\x01"
                                    "Number of guard bits";
inline constexpr char ReversibleRanges[] = "\x5D\x11"
                                           "Reversible dynamic range params (mu)";
inline constexpr char StepParams[] = "\x5D\x12"
                                     "Quant step/range params (mu,epsilon)";
inline constexpr char RegionBoosts[] = "\x5E\x11"
                                       "Region boost values (rect rgns first)";
inline constexpr char RectRegions[] = "\x5E\x12"
                                      "Rect region coords (4 at a time)";
inline constexpr char CircularRegions[] = "\x5E\x13"
                                          "Circular region coords (3 at a time)";
inline constexpr char ProgressionChanges[] = "\x5F\x01"
                                             "Progression order change";
} // namespace elt

// Every element of the vocabulary, in table order.
extern const char *const kMarkerVocabulary[];
extern const int kMarkerVocabularySize;

inline uint8_t ElementMarker(const char *description)
{
    return static_cast<uint8_t>(description[0]);
}
inline uint8_t ElementId(const char *description)
{
    return static_cast<uint8_t>(description[1]);
}
inline const char *ElementText(const char *description)
{
    return description + 2;
}

} // namespace zn::j2k
