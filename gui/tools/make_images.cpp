// Draws the application's images into a folder: the icon in several sizes (PNG), the window
// icon as a multi-size ICO and the tall logo of the about box. Run at build time.
#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

#include <cstdio>

namespace {

const QColor kLeft(0x1f, 0x4e, 0x9c);
const QColor kRight(0xe8, 0x7a, 0x1d);

// Two halves of a picture split by a line, with a play mark: a comparison of two streams.
void DrawIcon(QPainter& p, QRectF const& r)
{
    p.setRenderHint(QPainter::Antialiasing);
    qreal const radius = r.width() * 0.18;
    QPainterPath frame;
    frame.addRoundedRect(r, radius, radius);
    p.setClipPath(frame);
    p.fillRect(QRectF(r.left(), r.top(), r.width() / 2, r.height()), kLeft);
    p.fillRect(QRectF(r.center().x(), r.top(), r.width() / 2, r.height()), kRight);
    p.setClipping(false);

    p.setPen(QPen(Qt::white, std::max<qreal>(1.0, r.width() / 16)));
    p.drawLine(QPointF(r.center().x(), r.top() + r.height() * 0.08),
               QPointF(r.center().x(), r.bottom() - r.height() * 0.08));

    qreal const s = r.width() * 0.22;
    QPointF const c = r.center();
    QPolygonF play;
    play << QPointF(c.x() - s * 0.6, c.y() - s) << QPointF(c.x() + s, c.y()) << QPointF(c.x() - s * 0.6, c.y() + s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawPolygon(play);
}

QImage Icon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    DrawIcon(p, QRectF(0, 0, size, size));
    return img;
}

QImage Logo(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0xf4, 0xf6, 0xfa));
    g.setColorAt(1, QColor(0xd8, 0xe0, 0xee));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, w, h), 12, 12);

    qreal const side = w * 0.7;
    DrawIcon(p, QRectF((w - side) / 2, h * 0.1, side, side));

    // Two metric curves under the icon.
    QRectF const chart(w * 0.12, h * 0.58, w * 0.76, h * 0.3);
    p.setPen(QPen(QColor(0x80, 0x88, 0x99), 1.5));
    p.drawLine(chart.bottomLeft(), chart.bottomRight());
    p.drawLine(chart.bottomLeft(), chart.topLeft());
    auto curve = [&](QColor const& color, qreal lift) {
        QPainterPath path;
        for (int i = 0; i <= 20; ++i) {
            qreal const x = chart.left() + chart.width() * i / 20.0;
            qreal const t = i / 20.0;
            qreal const y = chart.bottom() - chart.height() * (lift + (0.9 - lift) * (1 - (1 - t) * (1 - t)));
            if (i == 0)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        p.setPen(QPen(color, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    curve(kLeft, 0.15);
    curve(kRight, 0.05);
    return img;
}

// An ICO of 32-bit images with alpha, each stored as a bottom-up BGRA bitmap with its mask.
bool WriteIco(QString const& path, QVector<QImage> const& images)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint16(0) << quint16(1) << quint16(images.size());

    QVector<QByteArray> entries;
    for (QImage const& src : images) {
        QImage const img = src.convertToFormat(QImage::Format_ARGB32);
        int const w = img.width();
        int const h = img.height();
        int const maskStride = ((w + 31) / 32) * 4;
        QByteArray e;
        QDataStream d(&e, QIODevice::WriteOnly);
        d.setByteOrder(QDataStream::LittleEndian);
        d << quint32(40) << qint32(w) << qint32(2 * h) << quint16(1) << quint16(32) << quint32(0)
          << quint32(w * h * 4 + maskStride * h) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
        for (int y = h - 1; y >= 0; --y) {
            QRgb const* line = reinterpret_cast<QRgb const*>(img.constScanLine(y));
            for (int x = 0; x < w; ++x)
                d << quint8(qBlue(line[x])) << quint8(qGreen(line[x])) << quint8(qRed(line[x]))
                  << quint8(qAlpha(line[x]));
        }
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row(maskStride, '\0');
            QRgb const* line = reinterpret_cast<QRgb const*>(img.constScanLine(y));
            for (int x = 0; x < w; ++x)
                if (qAlpha(line[x]) == 0)
                    row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
            d.writeRawData(row.constData(), row.size());
        }
        entries.append(e);
    }
    quint32 offset = 6 + 16 * images.size();
    for (int i = 0; i < images.size(); ++i) {
        int const w = images[i].width();
        int const h = images[i].height();
        s << quint8(w >= 256 ? 0 : w) << quint8(h >= 256 ? 0 : h) << quint8(0) << quint8(0) << quint16(1) << quint16(32)
          << quint32(entries[i].size()) << offset;
        offset += entries[i].size();
    }
    for (QByteArray const& e : entries)
        s.writeRawData(e.constData(), e.size());

    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QDir const dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    bool ok = true;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        ok = Icon(size).save(dir.filePath(QStringLiteral("icon_%1.png").arg(size)), "PNG") && ok;
    ok = WriteIco(dir.filePath(QStringLiteral("icon.ico")), {Icon(16), Icon(32), Icon(48), Icon(256)}) && ok;
    ok = Logo(158, 265).save(dir.filePath(QStringLiteral("logo_big.png")), "PNG") && ok;
    return ok ? 0 : 1;
}
