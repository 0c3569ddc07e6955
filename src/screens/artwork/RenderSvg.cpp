// Build tool: renders an SVG to a square PNG (vemko-render-svg IN.svg OUT.png SIZE). With FROM, the
// picture is rendered at FROM and scaled down to SIZE as the app scales a large picture itself, so a
// picture made ahead looks exactly like one the app would have scaled.
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
    if (args.size() != 4 && args.size() != 5) {
        std::fprintf(stderr, "usage: vemko-render-svg IN.svg OUT.png SIZE [FROM]\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    const int size = args[3].toInt();
    const int from = args.size() == 5 ? args[4].toInt() : size;
    if (!renderer.isValid() || size <= 0 || from <= 0) {
        std::fprintf(stderr, "vemko-render-svg: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    QImage image(from, from, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, from, from));
    painter.end();
    if (from != size) // as QPixmap holds and scales a picture with transparency
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                    .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QDir().mkpath(QFileInfo(args[2]).absolutePath());
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "vemko-render-svg: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
