#include "Ring.h"

#include <algorithm>
#include <cmath>

namespace {

// Every channel of premultiplied `pixel` times `weight` / 255, two channels to a multiply.
QRgb scaled(QRgb pixel, uint weight) {
    const auto pair = [weight](uint channels) {
        uint t = (channels & 0xff00ffU) * weight;
        t = (t + ((t >> 8) & 0xff00ffU) + 0x800080U) >> 8;
        return t & 0xff00ffU;
    };
    return pair(pixel) | (pair(pixel >> 8) << 8);
}

// `source` (premultiplied) at `weight` (0…255) over `destination`.
QRgb over(QRgb source, uint weight, QRgb destination) {
    const QRgb top = scaled(source, weight);
    return top + scaled(destination, 255 - qAlpha(top));
}

} // namespace

void drawRing(QImage& image, QPointF centre, qreal radius, qreal width, const QColor& color) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied || width <= 0)
        return;
    const QRgb source = qPremultiply(color.rgba());
    const float half = float(width / 2);
    const float edge = half + 0.5F;
    const float middle = float(radius);
    const float cx = float(centre.x());
    // A pixel whose centre lies within half a pixel of the ring's edge is partly covered.
    const qreal outer = radius + half + 1;
    const qreal inner = std::max<qreal>(0, radius - half - 1);
    const int top = std::max(0, int(std::floor(centre.y() - outer)));
    const int bottom = std::min(image.height() - 1, int(std::ceil(centre.y() + outer)));
    for (int y = top; y <= bottom; ++y) {
        const qreal dy = y + 0.5 - centre.y();
        const float dy2 = float(dy * dy);
        const qreal across = std::sqrt(std::max<qreal>(0, outer * outer - dy * dy));
        const qreal hole = std::abs(dy) < inner ? std::sqrt(inner * inner - dy * dy) : 0;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto blendRun = [&](qreal from, qreal to) {
            const int first = std::max(0, int(std::floor(from)));
            const int last = std::min(image.width() - 1, int(std::ceil(to)));
            for (int x = first; x <= last; ++x) {
                const float dx = float(x) + 0.5F - cx;
                const float cover =
                    std::clamp(edge - std::abs(std::sqrt(dx * dx + dy2) - middle), 0.0F, 1.0F);
                const auto weight = uint(qRound(cover * 255));
                if (weight > 0)
                    line[x] = over(source, weight, line[x]);
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
