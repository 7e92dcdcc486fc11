// The R(D) storing and plotting dialogs, offscreen, driven through their controls by id.
#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/rd_database.h"
#include "shell/rd_doc_glue.h"
#include "shell/rd_plot_dlg.h"
#include "shell/rd_storing_dlg.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace rd_dialogs_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

namespace {

// The document as the store sees it, pointing at the real dialogs.
struct FakeDoc : RDDocumentLink
{
    CRDStoringDlg *storing = nullptr;
    CRDPlotDlg *plot = nullptr;
    std::string userDir = "/tmp/";
    std::string savePath;
    std::vector<RDSaveRequest> requests;
    RDStoringLink *StoringDlg() override { return storing; }
    RDPlotLink *PlotDlg() override { return plot; }
    std::string ImageTitle() override { return "moon"; }
    std::string UserDir() override { return userDir; }
    bool AskSaveFile(const RDSaveRequest &r, std::string *path) override
    {
        requests.push_back(r);
        *path = savePath;
        return !savePath.empty();
    }
};

class RDDialogs : public ::testing::Test
{
protected:
    RDDialogs() : db(std::make_unique<CRDDataBase>())
    {
        db->m_pDoc = &doc;
        storing = std::make_unique<CRDStoringDlg>(nullptr, db.get());
        doc.storing = storing.get();
        storing->UpdateModuleList();
    }
    void OpenPlot()
    {
        plot = std::make_unique<CRDPlotDlg>(nullptr, db.get());
        doc.plot = plot.get();
        plot->UpdateProfileList();
    }
    template <typename T = QWidget> T *S(int id) { return storing->Item<T>(id); }
    template <typename T = QWidget> T *P(int id) { return plot->Item<T>(id); }
    void Click(QAbstractButton *b)
    {
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    QStringList Items(QComboBox *c)
    {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    }
    // One recorded curve of the selected module (the module's Apply stores the points).
    void Record(const std::vector<std::pair<float, float>> &pts)
    {
        Click(S<QPushButton>(CRDStoringDlg::IDC_RD_START));
        std::string key = S<QComboBox>(CRDStoringDlg::IDC_RD_MODULES)->currentText().toStdString();
        for (auto [r, s] : pts)
            db->StoreRDPoint(key, r, s, s + 10, 1);
        Click(S<QPushButton>(CRDStoringDlg::IDC_RD_STOP));
    }

    MessageRecorder boxes;
    FakeDoc doc;
    std::unique_ptr<CRDDataBase> db;
    std::unique_ptr<CRDStoringDlg> storing;
    std::unique_ptr<CRDPlotDlg> plot;
};

TEST_F(RDDialogs, ModuleListFollowsTheOpenModules)
{
    using D = CRDStoringDlg;
    EXPECT_TRUE(S<QPushButton>(D::IDC_RD_STOP)->isChecked());
    EXPECT_FALSE(S<QPushButton>(D::IDC_RD_START)->isChecked());
    EXPECT_EQ(S<QLabel>(D::IDC_RD_LAST_MESSAGE)->text(), "No messages");
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_PROFILES)->currentText(), "Use Default Names");
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_PROFILES)), QStringList{"Profile List Empty"});
    EXPECT_TRUE(storing->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_MODULES)), QStringList{" "});
    EXPECT_FALSE(S(D::IDC_RD_START)->isEnabled());
    EXPECT_FALSE(S(D::IDC_RD_MODULES)->isEnabled());
    EXPECT_FALSE(S(D::IDC_RD_DELETE_ALL)->isEnabled());

    db->SetModuleIsActive("DPCM", true);
    db->SetModuleIsActive("PCM", true);
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_MODULES)), (QStringList{"PCM", "DPCM"}));
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_MODULES)->currentText(), "PCM");
    EXPECT_FALSE(storing->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(S(D::IDC_RD_START)->isEnabled());
    EXPECT_TRUE(S(D::IDC_RD_DELETE_PROFILE)->isEnabled());
    storing->DisplayModuleActivated("DPCM");
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_MODULES)->currentText(), "DPCM");
    storing->DisplayModuleActivated("SPIHT"); // not open: nothing changes
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_MODULES)->currentText(), "DPCM");

    db->SetModuleIsActive("PCM", false);
    db->SetModuleIsActive("DPCM", false);
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_MODULES)), QStringList{" "});
    EXPECT_TRUE(storing->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(RDDialogs, RecordingDisablesCancelAndClosingTheModuleStopsIt)
{
    using D = CRDStoringDlg;
    db->SetModuleIsActive("PCM", true);
    db->SetModuleIsActive("JPEG", true);
    Click(S<QPushButton>(D::IDC_RD_START));
    ASSERT_TRUE(db->IsStoring());
    // No document here, so no module dialog to bring forward.
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"(OnRdStoringStart) Error in ShowWindow() for PCM"});
    EXPECT_EQ(S<QLabel>(D::IDC_RD_LAST_MESSAGE)->text(), "Start storing R(D) for PCM");
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_PROFILES)->itemText(0), "PCM_0001");
    for (int id : {int(IDCANCEL), int(D::IDC_RD_MODULES), int(D::IDC_RD_PROFILES),
                   int(D::IDC_RD_DELETE_PROFILE), int(D::IDC_RD_DELETE_ALL)})
        EXPECT_FALSE(S(id)->isEnabled()) << id;
    EXPECT_TRUE(S(D::IDC_RD_LAST_MESSAGE)->isEnabled());

    // Neither Cancel, Escape nor a close request ends the dialog while it records.
    storing->close();
    QTest::keyClick(storing.get(), Qt::Key_Escape);
    EXPECT_TRUE(storing->isVisible());
    // Another module opening or closing changes nothing of that.
    db->SetModuleIsActive("DPCM", true);
    db->SetModuleIsActive("JPEG", false);
    EXPECT_FALSE(S(D::IDC_RD_DELETE_ALL)->isEnabled());
    EXPECT_FALSE(S(IDCANCEL)->isEnabled());
    EXPECT_EQ(S<QComboBox>(D::IDC_RD_MODULES)->currentText(), "PCM");

    db->StoreRDPoint("PCM", 1.0f, 20, 30, 5);
    EXPECT_EQ(S<QLabel>(D::IDC_RD_LAST_MESSAGE)->text(), "(PCM) Store R=1.0 bpp; SNR=20.0 dB");
    // The PCM dialog's Cancel deactivates PCM: the store stops and the dialog shows its stopped state.
    db->SetModuleIsActive("PCM", false);
    EXPECT_FALSE(db->IsStoring());
    EXPECT_EQ(S<QLabel>(D::IDC_RD_LAST_MESSAGE)->text(), "(PCM) 1 R(D) points stored");
    EXPECT_TRUE(S<QPushButton>(D::IDC_RD_STOP)->isChecked());
    EXPECT_FALSE(S<QPushButton>(D::IDC_RD_START)->isChecked());
    for (int id : {int(IDCANCEL), int(D::IDC_RD_MODULES), int(D::IDC_RD_PROFILES),
                   int(D::IDC_RD_DELETE_PROFILE), int(D::IDC_RD_DELETE_ALL)})
        EXPECT_TRUE(S(id)->isEnabled()) << id;
    EXPECT_FALSE(S(D::IDC_RD_LAST_MESSAGE)->isEnabled());
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_PROFILES)), QStringList{"PCM_0001"});
    EXPECT_EQ(Items(S<QComboBox>(D::IDC_RD_MODULES)), QStringList{"DPCM"});

    Click(S<QPushButton>(IDCANCEL));
    EXPECT_FALSE(storing->isVisible());
    EXPECT_EQ(db->GetNumberOfCurves(), 1); // the store keeps its curves
}

TEST_F(RDDialogs, ProfileNamesChosenForStartAndDelete)
{
    using D = CRDStoringDlg;
    db->SetModuleIsActive("PCM", true);
    auto *profiles = S<QComboBox>(D::IDC_RD_PROFILES);
    Record({{1, 10}});
    EXPECT_EQ(Items(profiles), QStringList{"PCM_0001"});
    // Picking the stored PCM_0001 and starting again records PCM_0002.
    profiles->setCurrentIndex(0);
    emit profiles->activated(0);
    Record({{2, 20}});
    // A typed new name is used; a typed existing name gives the default name.
    profiles->setEditText("mine");
    Record({{3, 30}});
    profiles->setEditText("PCM_0001");
    Record({{4, 40}});
    EXPECT_EQ(Items(profiles), (QStringList{"mine", "PCM_0001", "PCM_0002", "PCM_0004"}));
    // Recording nothing drops the curve and its name again.
    Record({});
    EXPECT_EQ(profiles->count(), 4);

    boxes.Clear();
    profiles->setEditText("nonsense");
    Click(S<QPushButton>(D::IDC_RD_DELETE_PROFILE));
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Not a valid stored profile\r\nname. No profile deleted"});
    OpenPlot();
    profiles->setCurrentIndex(1);
    emit profiles->activated(1);
    Click(S<QPushButton>(D::IDC_RD_DELETE_PROFILE));
    EXPECT_EQ(Items(profiles), (QStringList{"mine", "PCM_0002", "PCM_0004"}));
    EXPECT_EQ(Items(P<QComboBox>(CRDPlotDlg::IDC_RDPLOT_PROFILES)),
              (QStringList{"mine", "PCM_0002", "PCM_0004"}));
    // The freed number is not handed out while a later one is stored.
    Click(S<QPushButton>(D::IDC_RD_START));
    EXPECT_EQ(profiles->itemText(0), "PCM_0005");
    Click(S<QPushButton>(D::IDC_RD_STOP));
    Click(S<QPushButton>(D::IDC_RD_DELETE_ALL));
    EXPECT_EQ(Items(profiles), QStringList{"Profile List Empty"});
    EXPECT_EQ(P<QComboBox>(CRDPlotDlg::IDC_RDPLOT_PROFILES)->count(), 0);
    EXPECT_FALSE(P(CRDPlotDlg::IDC_RDPLOT_PROFILES)->isEnabled());
}

TEST_F(RDDialogs, RightClickShowsTheStatus)
{
    db->SetModuleIsActive("EZW", true);
    Click(S<QPushButton>(CRDStoringDlg::IDC_RD_START));
    boxes.Clear();
    boxes.Script({MsgAnswer::No});
    QTest::mouseClick(storing.get(), Qt::RightButton, {}, QPoint(3, 3));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("Data currently being stored\t: YES"), std::string::npos);
    EXPECT_TRUE(doc.requests.empty());
}

TEST_F(RDDialogs, PlotListAndAutomaticScale)
{
    db->SetModuleIsActive("DCT", true);
    db->SetModuleIsActive("PCM", true);
    OpenPlot();
    using P_ = CRDPlotDlg;
    EXPECT_FALSE(P(P_::IDC_RDPLOT_PLOTCURVE)->isEnabled());
    EXPECT_FALSE(P(P_::IDC_RDPLOT_PROFILES)->isEnabled());
    EXPECT_TRUE(P<QCheckBox>(P_::IDC_RDPLOT_AUTOMATIC)->isChecked());
    EXPECT_FALSE(P(P_::IDC_RDPLOT_RATE_FROM)->isEnabled());
    EXPECT_TRUE(P<QPushButton>(P_::IDC_RDPLOT_SNR)->isChecked());
    EXPECT_EQ(P<QLineEdit>(P_::IDC_RDPLOT_RATE_TO)->text(), "7");
    EXPECT_EQ(P<QLineEdit>(P_::IDC_RDPLOT_RATE_FROM)->text(), "0.5");

    Record({{2.0f, 30}, {0.5f, 20}, {1.0f, 25}}); // PCM_0001, new list right after Stop
    EXPECT_TRUE(P(P_::IDC_RDPLOT_PLOTCURVE)->isEnabled());
    EXPECT_FALSE(P(P_::IDC_RDPLOT_PLOTANOTHERCURVE)->isEnabled());
    S<QComboBox>(CRDStoringDlg::IDC_RD_MODULES)->setCurrentText("DCT");
    Record({{4.0f, 35}});
    S<QComboBox>(CRDStoringDlg::IDC_RD_MODULES)->setCurrentText("PCM");
    Record({{3.0f, 33}});
    auto *list = P<QComboBox>(P_::IDC_RDPLOT_PROFILES);
    EXPECT_EQ(Items(list), (QStringList{"DCT_0001", "PCM_0001", "PCM_0002"}));
    EXPECT_EQ(list->currentText(), "PCM_0002"); // the alphabetically last
    EXPECT_TRUE(P(P_::IDC_RDPLOT_PLOTANOTHERCURVE)->isEnabled());

    list->setCurrentIndex(1);
    Click(P<QPushButton>(P_::IDC_RDPLOT_PLOTCURVE));
    const RDGraph &g = plot->View()->Graph();
    EXPECT_FLOAT_EQ(g.m_fRateMin, 0.4f); // 0.5 .. 2.0 rounded outward to steps of 0.2
    EXPECT_FLOAT_EQ(g.m_fRateMax, 2.0f);
    EXPECT_FLOAT_EQ(g.m_fValueMin, 20.0f);
    EXPECT_FLOAT_EQ(g.m_fValueMax, 30.0f);
    EXPECT_EQ(g.CurveCount(), 1);
    EXPECT_EQ(g.m_pRate[0], 0.5f);
    // On screen the curve's points carry its colour (red for the first curve).
    QImage shot = plot->View()->grab().toImage();
    for (int k = 0; k < 3; ++k) {
        QPointF at = plot->View()->LogicalToWindow(g.MapX(g.m_pRate[k]), g.MapY(g.m_pValue[k]));
        int cx = int(at.x()), cy = int(at.y());
        int red = 0;
        for (int y = cy - 4; y <= cy + 4; ++y)
            for (int x = cx - 4; x <= cx + 4; ++x)
                if (shot.valid(x, y) && shot.pixelColor(x, y) == QColor(255, 0, 0))
                    ++red;
        EXPECT_GT(red, 0) << "point " << k;
    }

    Click(P<QPushButton>(P_::IDC_RDPLOT_PSNR));
    list->setCurrentIndex(0);
    Click(P<QPushButton>(P_::IDC_RDPLOT_PLOTANOTHERCURVE)); // still the SNR graph on show
    EXPECT_EQ(g.CurveCount(), 2);
    EXPECT_EQ(g.m_pValue[3], 35.0f);
    EXPECT_FLOAT_EQ(g.m_fRateMax, 2.0f); // automatic: the first graph's scale stays
    Click(P<QPushButton>(P_::IDC_RDPLOT_PLOTCURVE));
    EXPECT_EQ(g.m_nPlotType, 1);
    EXPECT_EQ(g.m_pValue[0], 45.0f);

    // "Add Another Graph" again and again: a message once the graph is full, never an overrun.
    boxes.Clear();
    for (int i = 0; i < 110; ++i)
        Click(P<QPushButton>(P_::IDC_RDPLOT_PLOTANOTHERCURVE));
    EXPECT_EQ(g.CurveCount(), 99);
    EXPECT_EQ(boxes.Count(), 12u);
    plot->View()->repaint();
}

// Leaving an edit is what runs its check.
void Leave(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
}

TEST_F(RDDialogs, ScaleEditsCheckRangeAndOrder)
{
    OpenPlot();
    using P_ = CRDPlotDlg;
    Click(P<QCheckBox>(P_::IDC_RDPLOT_AUTOMATIC));
    EXPECT_FALSE(plot->m_bAutomaticScale);
    auto *rateFrom = P<QLineEdit>(P_::IDC_RDPLOT_RATE_FROM);
    auto *rateTo = P<QLineEdit>(P_::IDC_RDPLOT_RATE_TO);
    auto *valueFrom = P<QLineEdit>(P_::IDC_RDPLOT_VALUE_FROM);
    auto *valueTo = P<QLineEdit>(P_::IDC_RDPLOT_VALUE_TO);
    ASSERT_TRUE(rateTo->isEnabled());
    struct Case
    {
        QLineEdit *edit;
        const char *typed;
        const char *message; // "" for none
        const char *shown;   // the edit's text afterwards
    } cases[] = {
        {rateTo, "9", "Please enter a number between 1 and 8.", "7"},
        {rateTo, "abc", "Please enter a number.", "7"},
        {rateTo, "nan", "Please enter a number.", "7"},
        {rateFrom, "-1", "Please enter a number between 0 and 7.", "0.5"},
        {valueTo, "61", "Please enter a number between -20 and 60.", "40"},
        {valueFrom, "-20.5", "Please enter a number between -20 and 60.", "0"},
        {rateFrom, "7", "", "0.5"}, // from >= to: silently the old value
        {valueTo, "0", "", "40"},   // to <= from
        {rateTo, "2.5", "", "2.5"}, // accepted
        {rateFrom, "1.25", "", "1.25"},
        {valueFrom, "-12.5", "", "-12.5"},
    };
    for (const Case &c : cases) {
        boxes.Clear();
        Leave(c.edit, c.typed);
        EXPECT_EQ(c.edit->text(), c.shown) << c.typed;
        if (*c.message)
            EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message}) << c.typed;
        else
            EXPECT_EQ(boxes.Count(), 0u) << c.typed;
    }
    EXPECT_FLOAT_EQ(plot->m_fRateFrom, 1.25f);
    EXPECT_FLOAT_EQ(plot->m_fRateTo, 2.5f);
    EXPECT_FLOAT_EQ(plot->m_fValueFrom, -12.5f);
    EXPECT_FLOAT_EQ(plot->m_fValueTo, 40.0f);

    // The manual scale reaches the graph.
    db->SetModuleIsActive("SBC", true);
    Record({{1.5f, 10}});
    Click(P<QPushButton>(P_::IDC_RDPLOT_PLOTCURVE));
    EXPECT_FLOAT_EQ(plot->View()->Graph().m_fRateMin, 1.2f);
    EXPECT_FLOAT_EQ(plot->View()->Graph().m_fValueMin, -15.0f);
}

// A modal message box takes the focus from the edit that Tab moved to. That edit's check must not
// read the bad entry of the edit just left and show its message a second time.
TEST_F(RDDialogs, BadScaleEntryShowsOneMessage)
{
    OpenPlot();
    using P_ = CRDPlotDlg;
    Click(P<QCheckBox>(P_::IDC_RDPLOT_AUTOMATIC));
    auto *rateTo = P<QLineEdit>(P_::IDC_RDPLOT_RATE_TO);
    auto *valueFrom = P<QLineEdit>(P_::IDC_RDPLOT_VALUE_FROM);
    std::vector<std::string> shown;
    const MessageHandler previous = SetMessageHandler([&](const MessageRequest &r) {
        shown.push_back(r.text);
        QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(valueFrom, &out);
        return MsgAnswer::Ok;
    });
    for (const char *typed : {"999", "abc"}) {
        shown.clear();
        Leave(rateTo, typed);
        EXPECT_EQ(shown.size(), 1u) << typed;
        EXPECT_EQ(rateTo->text(), QStringLiteral("7")) << typed;
    }
    SetMessageHandler(previous);
    // Afterwards the checks run as before.
    boxes.Clear();
    Leave(valueFrom, "61");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Please enter a number between -20 and 60."});
}

TEST_F(RDDialogs, SaveKeepsTheNameAndPicksTheFormatByItsExtension)
{
    zntest::ScratchDir dir;
    doc.userDir = dir.Path();
    db->SetModuleIsActive("PCM", true);
    OpenPlot();
    Record({{1, 10}, {2, 20}});
    Click(P<QPushButton>(CRDPlotDlg::IDC_RDPLOT_PLOTCURVE));
    struct Case
    {
        const char *name;
        bool eps;
    } cases[] = {{"Graph.PS", false}, {"Graph.EPS", true}, {"plot.Eps.ps", true}, {"MyPlot", false}};
    for (const Case &c : cases) {
        doc.savePath = dir.File(c.name);
        Click(P<QPushButton>(CRDPlotDlg::IDC_RDPLOT_SAVE));
        auto bytes = zntest::ReadFileBytes(doc.savePath);
        std::string text(bytes.begin(), bytes.end());
        ASSERT_FALSE(text.empty()) << c.name;
        EXPECT_EQ(text.rfind(c.eps ? "%!PS-Adobe-3.0 EPSF-3.0 \n" : "%!PS \n", 0), 0u) << c.name;
    }
    EXPECT_FALSE(zn::FileExists(dir.File("graph.ps")));
    const RDSaveRequest &r = doc.requests.at(0);
    EXPECT_EQ(r.dir, dir.Path());
    EXPECT_EQ(r.defaultName, "moon_RDPlot");
    EXPECT_EQ(r.defaultExt, ".eps");
    EXPECT_EQ(r.filter, "Encapsulated postscript file (*.eps)|*.eps|Postscript file (*.ps)|*.ps||");
    EXPECT_EQ(r.title, "Save Graph as...");
    EXPECT_TRUE(r.confirmOverwrite); // the graph file is rewritten

    boxes.Clear();
    doc.savePath = dir.File("missing/x.eps");
    Click(P<QPushButton>(CRDPlotDlg::IDC_RDPLOT_SAVE));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"The graph could not be written to\n" + doc.savePath});
}

} // namespace

namespace {

// The report is appended to, so its save dialog must not ask to replace a file; the graph's may.
TEST(RDSaveDialog, AsksToReplaceOnlyWhenTheFileIsRewritten)
{
    zn::RDSaveRequest request;
    request.dir = "/tmp/";
    request.defaultName = "coins_RD.txt";
    request.defaultExt = ".txt";
    request.filter = "Text File (*.txt)|*.txt||";
    request.title = "Save the R(D) Data As...";
    for (bool confirm : {false, true}) {
        request.confirmOverwrite = confirm;
        QFileDialog dialog;
        RDConfigureSaveDialog(&dialog, request);
        EXPECT_EQ(dialog.testOption(QFileDialog::DontConfirmOverwrite), !confirm);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Save the R(D) Data As..."));
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("txt"));
        EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Text File (*.txt)")});
    }
}

// The graph's name takes the extension of the filter the user picks.
TEST(RDSaveDialog, PostscriptFilterGivesAPsName)
{
    zntest::ScratchDir dir;
    zn::RDSaveRequest request;
    request.dir = dir.Path();
    request.defaultName = "moon_RDPlot";
    request.defaultExt = ".eps";
    request.filter = "Encapsulated postscript file (*.eps)|*.eps|Postscript file (*.ps)|*.ps||";
    request.title = "Save Graph as...";
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    RDConfigureSaveDialog(&dialog, request);
    auto *types = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    auto chosen = [&] { return QFileInfo(dialog.selectedFiles().value(0)).fileName(); };
    EXPECT_EQ(chosen(), QStringLiteral("moon_RDPlot.eps"));
    for (int i : {1, 0, 1}) {
        types->setCurrentIndex(i);
        // What a click on an entry sends.
        emit types->activated(i);
        emit types->textActivated(types->itemText(i));
        EXPECT_EQ(chosen(), i == 1 ? QStringLiteral("moon_RDPlot.ps") : QStringLiteral("moon_RDPlot.eps"));
    }
}

} // namespace

} // namespace rd_dialogs_test
