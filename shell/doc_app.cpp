// The document's link to the application object.
#include "shell/doc_app.h"

#include "image/cdib.h"

#include <QStringList>

#include "shell/compression_app.h"

QString DocUserDir()
{
    return theApp.m_sUserDir;
}

CDib *DocStartImage()
{
    if (!theApp.m_pStartDib)
        theApp.m_pStartDib = new CDib;
    return theApp.m_pStartDib;
}

QString DocQtFilter(const QString &bars)
{
    const QStringList parts = bars.split('|', Qt::SkipEmptyParts);
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.join(";;");
}
