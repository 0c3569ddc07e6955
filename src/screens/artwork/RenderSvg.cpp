// Build tool: renders an SVG to a square PNG (vemko-render-svg IN.svg OUT.png SIZE).
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: vemko-render-svg IN.svg OUT.png SIZE\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    const int size = args[3].toInt();
    if (!renderer.isValid() || size <= 0) {
        std::fprintf(stderr, "vemko-render-svg: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    QDir().mkpath(QFileInfo(args[2]).absolutePath());
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "vemko-render-svg: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
