// What the image document and its windows use of the application object: the user's folder and the
// start image.
#pragma once

#include <QString>

class CDib;

// The user's folder (ends in '/', or empty when not set).
QString DocUserDir();
// The application's start image.
CDib *DocStartImage();
// "Name (*.x)|*.x|Other (*.y)|*.y||" as a Qt file-dialog filter.
QString DocQtFilter(const QString &bars);
