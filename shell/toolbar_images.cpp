// Pictograms painted at start-up, so the program carries no binary images: each tool-bar button is a
// small coloured plate with a glyph or a short label of its module.
#include "shell/toolbar_images.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

struct ButtonArt
{
    int id;
    const char *label;
    QRgb colour;
    char glyph; // 'o' open folder, 's' disk, 'g' graph, 'p' play, 0 label only
};

const ButtonArt kButtons[] = {
    {32826, "I", 0xd8a030, 'o'},  {32792, "S", 0xd8a030, 'o'},  {32796, "M", 0xd8a030, 'o'},
    {32833, "H", 0xd8a030, 'o'},  {32781, "", 0x4060a0, 's'},   {32827, "st", 0x308040, 'g'},
    {32825, "pl", 0x308040, 'g'}, {32775, "SUB", 0x5070b0, 0},  {32771, "PCM", 0x5070b0, 0},
    {32772, "DPC", 0x5070b0, 0},  {32784, "VQ", 0x8050a0, 0},   {32786, "FIC", 0x8050a0, 0},
    {32778, "DCT", 0xa05040, 0},  {32789, "JPG", 0xa05040, 0},  {32777, "SBC", 0x407878, 0},
    {32816, "EZW", 0x407878, 0},  {32815, "SPH", 0x407878, 0},  {32817, "J2K", 0x407878, 0},
    {32803, "", 0x606060, 'p'},   {32793, "ME", 0x606060, 0},   {32805, "MPE", 0x304080, 0},
    {32797, "MPD", 0x304080, 0},  {32831, "264E", 0x803040, 0}, {32832, "264D", 0x803040, 0},
};

void DrawLabel(QPainter &p, const QRect &r, const QString &text, const QColor &colour)
{
    QFont f(QStringLiteral("Sans"));
    f.setPixelSize(text.size() > 3 ? 8 : 9);
    f.setBold(true);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(r, Qt::AlignCenter, text);
}

} // namespace

QPixmap ToolBarImage(int commandId)
{
    QPixmap pm(kToolBarImageWidth, kToolBarImageHeight);
    pm.fill(Qt::transparent);
    const ButtonArt *art = nullptr;
    for (const ButtonArt &b : kButtons) {
        if (b.id == commandId)
            art = &b;
    }
    if (!art)
        return pm;
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c(art->colour);
    switch (art->glyph) {
    case 'o': { // an open folder with the kind's letter
        p.setPen(c.darker(150));
        p.setBrush(c);
        QPainterPath folder;
        folder.moveTo(2, 12);
        folder.lineTo(2, 3);
        folder.lineTo(7, 3);
        folder.lineTo(9, 5);
        folder.lineTo(18, 5);
        folder.lineTo(18, 12);
        folder.closeSubpath();
        p.drawPath(folder);
        DrawLabel(p, QRect(19, 0, 12, 14), QString::fromLatin1(art->label), Qt::black);
        break;
    }
    case 's': { // a floppy disk
        p.setPen(c.darker(150));
        p.setBrush(c);
        p.drawRect(9, 1, 12, 12);
        p.setBrush(Qt::white);
        p.drawRect(11, 2, 8, 4);
        p.setBrush(Qt::lightGray);
        p.drawRect(12, 9, 6, 4);
        break;
    }
    case 'g': { // axes and a rising curve
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(2, 1, 2, 12);
        p.drawLine(2, 12, 17, 12);
        p.setPen(QPen(c, 1.6));
        p.drawPolyline(QPolygonF({QPointF(3, 11), QPointF(7, 7), QPointF(11, 5), QPointF(16, 3)}));
        DrawLabel(p, QRect(18, 0, 13, 14), QString::fromLatin1(art->label), Qt::black);
        break;
    }
    case 'p': { // film strip with a play triangle
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRect(5, 1, 21, 12);
        p.setBrush(Qt::white);
        for (int x = 7; x < 25; x += 4) {
            p.drawRect(x, 2, 2, 1);
            p.drawRect(x, 11, 2, 1);
        }
        p.drawPolygon(QPolygonF({QPointF(13, 4), QPointF(13, 10), QPointF(19, 7)}));
        break;
    }
    default: { // a plate with the module's short name
        QLinearGradient g(0, 0, 0, kToolBarImageHeight);
        g.setColorAt(0, c.lighter(140));
        g.setColorAt(1, c);
        p.setPen(c.darker(160));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, kToolBarImageWidth - 1, kToolBarImageHeight - 1), 3, 3);
        DrawLabel(p, pm.rect(), QString::fromLatin1(art->label), Qt::white);
        break;
    }
    }
    return pm;
}

QPixmap NamedPicture(const QString &name)
{
    if (name == QLatin1String("linebmp")) {
        QPixmap pm(160, 6);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        QLinearGradient g(0, 0, 160, 0);
        g.setColorAt(0, QColor(155, 154, 153, 0));
        g.setColorAt(0.5, QColor(40, 70, 130));
        g.setColorAt(1, QColor(155, 154, 153, 0));
        p.fillRect(QRect(0, 2, 160, 2), g);
        return pm;
    }
    if (name == QLatin1String("ZanthoLogo") || name == QLatin1String("208")) {
        const int s = name == QLatin1String("208") ? 64 : 96;
        QPixmap pm(s, s);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        // Eight grey levels in a ring: a quantiser's staircase around the letter Z.
        for (int i = 0; i < 8; ++i) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor::fromHsv(215, 160, 60 + i * 24));
            p.drawPie(QRectF(2, 2, s - 4, s - 4), i * 45 * 16, 45 * 16);
        }
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56));
        QFont f(QStringLiteral("Sans"));
        f.setPixelSize(s / 2);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(30, 50, 100));
        p.drawText(QRect(0, 0, s, s), Qt::AlignCenter, QStringLiteral("Z"));
        return pm;
    }
    if (name == QLatin1String("203")) {
        QPixmap pm(240, 60);
        QPainter p(&pm);
        QLinearGradient g(0, 0, 240, 0);
        g.setColorAt(0, QColor(20, 40, 90));
        g.setColorAt(1, QColor(90, 140, 200));
        p.fillRect(pm.rect(), g);
        // 8x8 blocks fading out: a picture being coded.
        for (int by = 0; by < 60; by += 8) {
            for (int bx = 150; bx < 240; bx += 8)
                p.fillRect(bx, by, 7, 7, QColor(255, 255, 255, (bx - 150) * 2 + by));
        }
        QFont f(QStringLiteral("Sans"));
        f.setPixelSize(30);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(10, 0, 200, 60), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zantho"));
        return pm;
    }
    return {};
}
