// The encoder dialog: its pages' messages and the limits one page sets for another, the Apply that
// writes the settings file and runs the encoder, and the result text and source frames the run's
// reports produce.
#include "h264enc/ui/h264enc_dlg.h"

#include "h264enc/ui/h264enc_pages.h"
#include "image/cdib.h"
#include "image/yuv_frame.h"
#include "modules/common/module_apply.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/dib_doc.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <utility>

namespace {

H264EncoderRun &RunHook()
{
    static H264EncoderRun run;
    return run;
}

// The copy of a sequence that is not plain 4:2:0, which the encoder reads instead.
const char *const kConvertedInputName = "H264EncoderInput.yuv";

} // namespace

H264EncoderRun SetH264EncoderRun(H264EncoderRun run)
{
    return std::exchange(RunHook(), std::move(run));
}

CH264encDlg::CH264encDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("H.264 Encoder: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Set H.264 Encoder Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

// The sequence reader goes with the dialog.
CH264encDlg::~CH264encDlg() = default;

void CH264encDlg::CreatePages()
{
    // Made in template order, shown in tab order. The SP frames page is never made: its values keep
    // their starting ones.
    m_pFilePage = new CH264encFileDlg(
        [this] {
            return m_pStartDibDoc && m_pStartDibDoc->m_pDib
                       ? QString::fromStdString(m_pStartDibDoc->m_pDib->m_title)
                       : QString();
        },
        TabCtrl());
    m_pSearchModesPage = new CH264encSearchModesDlg(TabCtrl());
    m_pSearchPage = new CH264encSearchDlg(TabCtrl());
    m_pBFramesPage = new CH264encBFramesDlg([this] { return m_nFrameSkipMirror; }, TabCtrl());
    m_pEntropyPage = new CH264encEntropyDlg(TabCtrl());
    m_pIntraPage = new CH264encIntraDlg([this] { return m_nPicturesToCode; }, TabCtrl());
    m_pIntraContPage = new CH264encIntraContDlg(TabCtrl());
    m_pInterPage = new CH264encInterDlg([this] { return m_values.sequence_frames; },
                                        [this] { return m_nMacroblocks; }, TabCtrl());
    AddPage(m_pFilePage, QStringLiteral("File"));
    AddPage(m_pIntraPage, QStringLiteral("IntraFrame"));
    AddPage(m_pIntraContPage, QStringLiteral("IntraFrame cont"));
    AddPage(m_pInterPage, QStringLiteral("InterFrame"));
    AddPage(m_pSearchPage, QStringLiteral("Inter Search"));
    AddPage(m_pSearchModesPage, QStringLiteral("Inter Search Modes"));
    AddPage(m_pBFramesPage, QStringLiteral("B-Frames"));
    AddPage(m_pEntropyPage, QStringLiteral("Entropy Coding"));
}

bool CH264encDlg::OnInitDialog()
{
    m_values = h264enc::SettingsDialogValues{};
    m_nBitStreamOrder = 1;
    m_nMacroblocks = 0;
    m_nFrameSkipMirror = 1;
    m_nPicturesToCode = 0;
    m_pYuvReader.reset();
    if (!CModuleDialog::OnInitDialog())
        return false;
    // Only the File page can be used until the output file is named.
    ApplyButton()->setEnabled(false);
    for (int tab = kIntraTab; tab <= kEntropyTab; ++tab)
        TabCtrl()->EnableTab(tab, false);
    // Eight tabs are wider than the column: a tab bar no wider than its control shows its scroll
    // arrows, so every tab stays reachable.
    TabCtrl()->TabBar()->resize(TabCtrl()->width() - 4, TabCtrl()->TabBar()->height());
    connect(ApplyButton(), &QPushButton::clicked, this, &CH264encDlg::OnH264encApply);
    return true;
}

void CH264encDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_H264ENC_FILE_CHOSEN:
        OnH264encFileChosen();
        break;
    case WM_H264ENC_SEARCH_MODES:
        OnH264encSearchModes();
        break;
    case WM_H264ENC_SEARCH_RANGE:
        OnH264encSearchRange();
        break;
    case WM_H264ENC_BFRAMES:
        OnH264encBFrames();
        break;
    case WM_H264ENC_SPFRAMES:
        OnH264encSPFrames();
        break;
    case WM_H264ENC_ENTROPY:
        OnH264encEntropy();
        break;
    case WM_H264ENC_INTRA:
        OnH264encIntra();
        break;
    case WM_H264ENC_INTRA_CONT:
        OnH264encIntraCont();
        break;
    case WM_H264ENC_INTER_FRAME:
        OnH264encInterFrame();
        break;
    default:
        break;
    }
}

void CH264encDlg::OnH264encSearchModes()
{
    h264enc::SettingsDialogValues &v = m_values;
    const CH264encSearchModesDlg *p = m_pSearchModesPage;
    v.InterSearch16x16 = p->m_b16x16;
    v.InterSearch16x8 = p->m_b16x8;
    v.InterSearch8x16 = p->m_b8x16;
    v.InterSearch8x8 = p->m_b8x8;
    v.InterSearch8x4 = p->m_b8x4;
    v.InterSearch4x8 = p->m_b4x8;
    v.InterSearch4x4 = p->m_b4x4;
}

void CH264encDlg::OnH264encSearchRange()
{
    m_values.SearchRange = m_pSearchPage->m_nSearchRange;
}

void CH264encDlg::OnH264encBFrames()
{
    m_values.DirectModeType = m_pBFramesPage->m_bDirectSpatial;
    m_values.QPBPicture = m_pBFramesPage->m_nQP;
    m_values.NumberBFrames = m_pBFramesPage->m_nBFrames;
}

void CH264encDlg::OnH264encSPFrames()
{
    // The SP-frames page is never made, so this message never comes.
    if (!m_pSPFramesPage)
        return;
    m_values.QPSPPicture = m_pSPFramesPage->m_nQPError;
    m_values.QPSP2Picture = m_pSPFramesPage->m_nQPBlock;
    m_values.SPPicturePeriodicity = m_pSPFramesPage->m_nPeriod;
}

void CH264encDlg::OnH264encEntropy()
{
    m_values.SymbolMode = m_pEntropyPage->m_bCabac;
}

void CH264encDlg::OnH264encIntra()
{
    m_values.QPRemainingFrame = m_pIntraPage->m_nQPRemain;
    m_values.QPFirstFrame = m_pIntraPage->m_nQPFirst;
    m_values.IntraPeriod = m_pIntraPage->m_nPeriod;
}

void CH264encDlg::OnH264encIntraCont()
{
    m_values.UseHadamard = m_pIntraContPage->m_bHadamard;
    m_values.UseConstrainedIntraPred = m_pIntraContPage->m_bConstrainedIntra;
}

void CH264encDlg::OnH264encFileChosen()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    const std::string sequence = doc->m_pDib->m_path;
    if (!m_pYuvReader) {
        auto reader = std::make_unique<CYuvFrame>();
        reader->m_pData = doc->m_pDib->GetBits();
        // The reader has said what went wrong; the pages stay closed.
        if (reader->ReadHeader(sequence) != 0 || !reader->AllocateYuvFrame())
            return;
        m_pYuvReader = std::move(reader);
    }
    m_values.input_file = sequence;
    m_values.height = m_pYuvReader->Rows();
    m_values.width = m_pYuvReader->Cols();
    m_values.sequence_frames = m_pYuvReader->Frames();
    m_nMacroblocks = static_cast<int>(static_cast<unsigned>(m_values.height * m_values.width) / 256u);
    m_nPicturesToCode = h264enc::FramesToBeEncodedOf(m_values.sequence_frames, m_values.FrameSkip);
    m_sUserDir = DocUserDir();
    m_values.output_file = m_pFilePage->m_sPath.toStdString();
    ApplyButton()->setEnabled(true);
    for (int tab = kIntraTab; tab <= kEntropyTab; ++tab)
        TabCtrl()->EnableTab(tab, true);
}

void CH264encDlg::OnH264encInterFrame()
{
    h264enc::SettingsDialogValues &v = m_values;
    v.RandomIntraMBRefresh = m_pInterPage->m_nIntraMBs;
    v.FrameSkip = m_pInterPage->m_nSkip;
    m_nFrameSkipMirror = v.FrameSkip;
    // B pictures sit between coded pictures, in the frames skipped there.
    if (v.NumberBFrames > v.FrameSkip) {
        v.NumberBFrames = v.FrameSkip;
        m_pBFramesPage->SetBFrames(v.NumberBFrames);
        zn::ShowMessage("Number of B Frames Changed - Cannot exceed number of skipped frames !");
    }
    m_nPicturesToCode = h264enc::FramesToBeEncodedOf(v.sequence_frames, v.FrameSkip);
    const int lastPicture = m_nPicturesToCode - 1;
    if (lastPicture >= 0 && v.SPPicturePeriodicity > lastPicture) {
        v.SPPicturePeriodicity = lastPicture;
        zn::ShowMessage("SP-Picture Periodicity Changed");
    }
    if (lastPicture >= 0 && v.IntraPeriod > lastPicture) {
        v.IntraPeriod = lastPicture;
        m_pIntraPage->SetPeriod(v.IntraPeriod);
        zn::ShowMessage("Period of I-Frames Changed");
    }
    v.NumberReferenceFrames = m_pInterPage->m_nReferences;
}

void CH264encDlg::OnH264encApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    // One run at a time: a click between the pictures of a run is not a second run.
    if (!doc || !doc->m_pDib || !m_pYuvReader || m_bRunning)
        return;
    m_bRunning = true;
    zn::WaitCursor wait;
    doc->OnApplyH264Decoding(0, 0, QString());
    m_sResultText.clear();
    m_nBitStreamOrder = 1;
    m_bShowFrames = true;
    m_sResultText = zn::Q(
        zn::Format("Number of Frames\t\t: %d\r\nI/P frames to be Encoded\t: %d", m_values.sequence_frames,
                   h264enc::FramesToBeEncodedOf(m_values.sequence_frames, m_values.FrameSkip)));
    std::string h264_settings_path;
    const bool ready = PrepareRun(&h264_settings_path);
    SetResultText(m_sResultText);
    if (ready) {
        const H264EncoderRun &hook = RunHook();
        zn::RunModuleApply([&] {
            // This dialog receives the run's reports: it is the document's encoder dialog.
            CH264encDlg *cur_h264enc_dlg = this;
            if (hook)
                hook(h264_settings_path, cur_h264enc_dlg);
            else
                h264enc::H264Encoder(h264_settings_path, cur_h264enc_dlg);
        });
        SetResultText(m_sResultText);
    }
    m_bRunning = false;
}

bool CH264encDlg::PrepareRun(std::string *settingsPath)
{
    h264enc::SettingsDialogValues v = m_values;
    if (v.width % 16 != 0 || v.height % 16 != 0) {
        zn::ShowMessage(
            zn::Format("Unsupported image format x=%d,y=%d, must be a multiple of 16", v.width, v.height),
            zn::MsgButtons::Ok, zn::MsgIcon::Warning);
        return false;
    }
    for (const std::string &path : {v.output_file, m_sUserDir.toStdString()})
        if (!H264encPathFitsSettings(zn::Q(path)))
            return false;
    if (!InputFor420(&v.input_file) || !H264encPathFitsSettings(zn::Q(v.input_file)))
        return false;
    const std::string userDir = m_sUserDir.toStdString();
    *settingsPath = h264enc::SettingsFilePath(userDir);
    if (!zn::WriteWholeFile(*settingsPath, h264enc::SettingsFileText(v, userDir), "w")) {
        // Without the file the run would read whatever settings an earlier run left.
        m_sResultText += QStringLiteral("\r\nError creating H.263 configuration file\r\n") +
                         zn::Q(*settingsPath) + QStringLiteral("\r\n Failing ...\r\n");
        return false;
    }
    return true;
}

bool CH264encDlg::InputFor420(std::string *path)
{
    CYuvFrame &reader = *m_pYuvReader;
    if (reader.ChromaFormat() == YUV_CHROMA_420 && reader.Extra() == 0)
        return true;
    // The encoder reads planar 4:2:0 pictures back to back: other layouts go through the sequence
    // reader, which turns every picture into 4:2:0, into a copy in the user folder.
    const std::string source = *path;
    const std::string copy = m_sUserDir.toStdString() + kConvertedInputName;
    CYuvFrame converter;
    if (converter.ReadHeader(source) != 0 || !converter.AllocateYuvFrame())
        return false;
    zn::FilePtr out(std::fopen(copy.c_str(), "wb"));
    if (!out) {
        zn::ShowMessage(zn::Format("Cannot create the file %s", copy.c_str()), zn::MsgButtons::Ok,
                        zn::MsgIcon::Error);
        return false;
    }
    const size_t luma = static_cast<size_t>(converter.Width16()) * converter.Height16();
    for (int n = 1; n <= converter.Frames(); ++n) {
        if (converter.ReadPicYUV(source, n) != 0)
            return false;
        if (std::fwrite(converter.Y(), 1, luma, out.get()) != luma ||
            std::fwrite(converter.U(), 1, luma / 4, out.get()) != luma / 4 ||
            std::fwrite(converter.V(), 1, luma / 4, out.get()) != luma / 4) {
            zn::ShowMessage(zn::Format("Cannot write the file %s", copy.c_str()), zn::MsgButtons::Ok,
                            zn::MsgIcon::Error);
            return false;
        }
    }
    if (std::fclose(out.release()) != 0) {
        zn::ShowMessage(zn::Format("Cannot write the file %s", copy.c_str()), zn::MsgButtons::Ok,
                        zn::MsgIcon::Error);
        return false;
    }
    *path = copy;
    return true;
}

void CH264encDlg::h264enc_show_frame(const h264enc::H264FrameReport &r)
{
    std::string t = "\r\n";
    t += zn::Format("\r\nDisplay Order\t:  %d", r.source_frame + 1);
    t += zn::Format("\r\nBit Stream Order\t:  %d", m_nBitStreamOrder++);
    t += zn::Format("\r\nPicture Type\t:  %s", r.type_letters.c_str());
    t += zn::Format("\r\nBit Rate\t\t:  %d (bits)", r.bits);
    t += zn::Format("\r\nQuantizer Param.\t:  %d", r.qp);
    t += zn::Format("\r\nSNR (Y)\t\t:  %4.1f (dB)", r.snr_y);
    t += zn::Format("\r\nSNR (U)\t\t:  %4.1f (dB)", r.snr_u);
    t += zn::Format("\r\nSNR (V)\t\t:  %4.1f (dB)", r.snr_v);
    if (r.intra_mbs != -1)
        t += zn::Format("\r\nIntra MBs\t\t:  %d", r.intra_mbs);
    h264enc_append_text(t);
    ShowSourceFrame(r.source_frame + 1);
}

void CH264encDlg::ShowSourceFrame(int frameNumber)
{
    CDibDoc *doc = m_pStartDibDoc;
    CYuvFrame *reader = m_pYuvReader.get();
    if (!m_bShowFrames || !doc || !doc->m_pDib || !reader)
        return;
    CDib *dib = doc->m_pDib;
    // The reader writes a whole picture of its size into the document's image.
    if (!dib->GetBits() || dib->GetWidth() != reader->Width16() || dib->GetHeight() != reader->Height16() ||
        dib->GetInfoHeader()->biBitCount != 24) {
        m_bShowFrames = false;
        return;
    }
    reader->m_pData = dib->GetBits();
    // One message about an unreadable sequence is enough for a run.
    if (reader->ReadFrame(dib->m_path, frameNumber) != 0) {
        m_bShowFrames = false;
        return;
    }
    reader->ConvertYUVFrameDib();
    doc->OnApplyH264Decoding(frameNumber, 0, QString());
    raise();
}

void CH264encDlg::h264enc_show_statistics(const h264enc::H264RunStatistics &s)
{
    std::string t = "\r\n\r\nH.264 ENCODING STATISTICS";
    t += zn::Format("\r\nSequence type:\r\n   %s", s.sequence_type.c_str());
    t += zn::Format("\r\nAverage SNR (Y) \t: %4.1f (dB)", s.snr_ya);
    t += zn::Format("\r\nAverage SNR (U) \t: %4.1f (dB)", s.snr_ua);
    t += zn::Format("\r\nAverage SNR (V) \t: %4.1f (dB)", s.snr_va);
    if (s.bits_b != -1)
        t += zn::Format("\r\nTotal #bits\t: %d\r\n    (I: %d; P: %d; B: %d)", s.total_bits,
                        s.bits_first_picture, s.bits_p, s.bits_b);
    else
        t += zn::Format("\r\nTotal bits :  %d\r\n    (I: %d, P: %d)", s.total_bits, s.bits_first_picture,
                        s.bits_p);
    t += zn::Format("\r\nBit rate @ %2.1f (Hz)\t: %.1f (kbit/s)", s.picture_rate, s.kbit_per_second);
    t += "\r\n";
    h264enc_append_text(t);
}

void CH264encDlg::h264enc_append_text(const std::string &text)
{
    const QString t = zn::Q(text);
    m_sResultText += t;
    AppendResultText(t);
    if (QPlainTextEdit *box = ResultBox())
        box->repaint();
}

void RegisterH264EncoderModule()
{
    zn::RegisterModuleDialogClass<CH264encDlg>(zn::cmd::kH264Encoder);
}
