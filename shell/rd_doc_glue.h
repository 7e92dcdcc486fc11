// Where the R(D) dialogs meet the document and the main window: clearing the document's dialog
// pointers, finding a module's dialog by its R(D) key, and registering both dialogs with the
// document's module commands.
#pragma once

#include <QPoint>
#include <QSize>
#include <string>

class CDibDoc;
class QFileDialog;
class QWidget;
namespace zn {
struct RDSaveRequest;
}

void RDClearStoringDlgPointer(CDibDoc *doc);
void RDClearPlotDlgPointer(CDibDoc *doc);
// The document's open dialog of the module with this R(D) key, or nullptr.
QWidget *RDModuleDialog(CDibDoc *doc, const std::string &key);
// The main window (the dialogs' owner), or nullptr.
QWidget *RDMainWindow();
// Where the main window stands and the size of its client area; false without a main window.
bool RDMainClientArea(QPoint *origin, QSize *client);
// Connects "Store R(D) Points" and "Plot R(D) Points" of every document to the two dialogs.
void RegisterRDDialogs();
// A save dialog for an R(D) file as the request asks: title, start file, filter, default suffix and
// whether choosing an existing file asks to replace it.
void RDConfigureSaveDialog(QFileDialog *dialog, const zn::RDSaveRequest &request);
