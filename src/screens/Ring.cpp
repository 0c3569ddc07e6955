#include "Ring.h"

#include <algorithm>
#include <cmath>

namespace {

// `source` (premultiplied) at `cover` (0…1) over `destination`.
QRgb over(QRgb source, qreal cover, QRgb destination) {
    const int weight = qRound(cover * 255);
    const auto scaled = [weight](int channel) {
        return (channel * weight + 127) / 255;
    };
    const int alpha = scaled(qAlpha(source));
    const auto blended = [&](int sourceChannel, int destinationChannel) {
        return scaled(sourceChannel) + (destinationChannel * (255 - alpha) + 127) / 255;
    };
    return qRgba(blended(qRed(source), qRed(destination)), blended(qGreen(source), qGreen(destination)),
                 blended(qBlue(source), qBlue(destination)), blended(qAlpha(source), qAlpha(destination)));
}

} // namespace

void drawRing(QImage& image, QPointF centre, qreal radius, qreal width, const QColor& color) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || width <= 0)
        return;
    const QRgb source = qPremultiply(color.rgba());
    const qreal half = width / 2;
    // A pixel whose centre lies within half a pixel of the ring's edge is partly covered.
    const qreal outer = radius + half + 1;
    const qreal inner = std::max<qreal>(0, radius - half - 1);
    const int top = std::max(0, int(std::floor(centre.y() - outer)));
    const int bottom = std::min(image.height() - 1, int(std::ceil(centre.y() + outer)));
    for (int y = top; y <= bottom; ++y) {
        const qreal dy = y + 0.5 - centre.y();
        const qreal across = std::sqrt(std::max<qreal>(0, outer * outer - dy * dy));
        const qreal hole = std::abs(dy) < inner ? std::sqrt(inner * inner - dy * dy) : 0;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto blendRun = [&](qreal from, qreal to) {
            const int first = std::max(0, int(std::floor(from)));
            const int last = std::min(image.width() - 1, int(std::ceil(to)));
            for (int x = first; x <= last; ++x) {
                const qreal dx = x + 0.5 - centre.x();
                const qreal distance = std::sqrt(dx * dx + dy * dy);
                const qreal cover = std::clamp(half + 0.5 - std::abs(distance - radius), qreal(0), qreal(1));
                if (cover > 0)
                    line[x] = over(source, cover, line[x]);
            }
        };
        if (hole > 0) {
            blendRun(centre.x() - across, centre.x() - hole);
            blendRun(centre.x() + hole, centre.x() + across);
        } else {
            blendRun(centre.x() - across, centre.x() + across);
        }
    }
}
