// The document side of a still-image module's Apply, shared by every module dialog: running the
// engine so that a fatal error ends only this run, recording the R(D) point while the store records,
// showing the reconstruction as the next chain window, and registering the dialog with the
// document's command.
//
// How a module is built (modules/pcm is the example to copy):
//  - modules/<name>/<name>_coder.{h,cpp}: the engine, Qt-free (zn_engine_library), taking the
//    parameter record and the document's CDib and returning the rate, zn::Measures and the texts
//    (result text, description, name and caption via ResultImageName/ResultCaption/FindValueTag).
//  - <name>_pages.{h,cpp} (CModulePage per tab; controls by id; NotifyOwner(WM_APP+n)) and
//    <name>_dlg.{h,cpp} (CModuleDialog: CreatePages, OnInitDialog, OnPageMessage, Apply through
//    RunModuleApply, StoreRDPointIfRecording, ShowChainResult; TablesDirOrPreferences when the
//    engine reads tables; zn::IsChecked/CheckedValue of module_controls.h to read the pages'
//    buttons by id), a zn_gui_library.
//  - A `void Register<Name>Module()` calling RegisterModuleDialogClass<Dlg>(command id), declared in
//    CMake with zn_register_module(<gui lib> Register<Name>Module): the program then calls it at
//    start-up and links the library, and tests/modules links it for the tests.
//  - tests/modules/<name>_test.cpp drives the dialog with zntest::ModuleHarness (module_harness.h).
#pragma once

#include "modules/common/module_results.h"
#include "shell/dib_doc.h"
#include "shell/module_dialog.h"

#include <QString>
#include <functional>
#include <string>

class CDib;
class ZnImage;

namespace zn {

// Runs one Apply. A zn::RunAborted (or an exhausted memory) ends the run with its message; the
// program and the document carry on. Returns false when the run was aborted.
bool RunModuleApply(const std::function<void()> &run);

// Stores (rate, SNR, PSNR, MSE) under key while the document's store records that module; the store
// itself drops points of other modules. A document without a store shows nullStoreMessage instead.
void StoreRDPointIfRecording(CDibDoc *doc, const std::string &key, float rate, const Measures &m,
                             const std::string &nullStoreMessage);

// Fills one of the document's work images (m_pFinalDib, m_pResultDibA or B) with a result, its name
// as the title and its caption as the window title.
void PutResultImage(const ZnImage &image, CDib *dib, const std::string &name, const std::string &caption);

// The reconstruction goes into the document's work image m_pFinalDib, which takes the result name
// as its title and the caption as its window title, and a new chain window shows a copy of it.
void ShowChainResult(CDibDoc *doc, const ZnImage &decoded, const std::string &name,
                     const std::string &caption, const std::string &description);
// The same for a work image the module has filled itself.
void ShowChainResult(CDibDoc *doc, const std::string &description);

// The tables directory. An unset one is never guessed: the user gets kNoTablesDirMessage and the
// Preferences, and the empty string comes back (this Apply ends; the user applies again).
std::string TablesDirOrPreferences();

inline QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

// Connects a module dialog class to its document command: the command builds the dialog, creates
// it modeless in the right-hand column and sets its m_pStartDibDoc; the document then appends the
// image title to the caption, registers an R(D) module as active and keeps the pointer.
template <class Dlg> void RegisterModuleDialogClass(int commandId)
{
    CDibDoc::RegisterModuleDialog(commandId, [](CDibDoc *doc) -> QDialog * {
        auto *dlg = new Dlg;
        if (!dlg->Create()) {
            delete dlg;
            return nullptr;
        }
        dlg->m_pStartDibDoc = doc;
        return dlg;
    });
}

} // namespace zn
