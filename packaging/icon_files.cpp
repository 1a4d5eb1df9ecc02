// Writes the installed icon files, drawn by the same code as the window's icon:
//   icon_files DIR  ->  DIR/hicolor/scalable/apps/melofon.svg, DIR/hicolor/NxN/apps/melofon.png
#include "ui/icons.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

namespace {

bool drawTo(QPaintDevice& device, qreal scale) {
    QPainter p(&device);
    if (!p.isActive())
        return false;
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    melofon::app::drawMelofonIcon(p);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor"));
    const auto file = [&](const QString& sizeDir, const char* suffix) {
        out.mkpath(sizeDir + QStringLiteral("/apps"));
        return out.filePath(sizeDir + QStringLiteral("/apps/melofon.") + QLatin1String(suffix));
    };

    QSvgGenerator svg;
    svg.setFileName(file(QStringLiteral("scalable"), "svg"));
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Melofon"));
    if (!drawTo(svg, 1.0)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }

    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        const QString path = file(QStringLiteral("%1x%1").arg(size), "png");
        if (!drawTo(image, size / 32.0) || !image.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
