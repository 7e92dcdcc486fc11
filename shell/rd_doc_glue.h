// Where the R(D) dialogs meet the document and the main window: clearing the document's dialog
// pointers, finding a module's dialog by its R(D) key, and registering both dialogs with the
// document's module commands.
#pragma once

#include <string>

class CDibDoc;
class QWidget;

void RDClearStoringDlgPointer(CDibDoc *doc);
void RDClearPlotDlgPointer(CDibDoc *doc);
// The document's open dialog of the module with this R(D) key, or nullptr.
QWidget *RDModuleDialog(CDibDoc *doc, const std::string &key);
// The main window (for placing the dialogs), or nullptr.
QWidget *RDMainWindow();
// Connects "Store R(D) Points" and "Plot R(D) Points" of every document to the two dialogs.
void RegisterRDDialogs();
