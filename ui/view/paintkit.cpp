#include "ui/view/paintkit.h"

#include <QFontMetrics>
#include <QHash>
#include <QStaticText>
#include <QSvgRenderer>
#include <map>
#include <memory>

static void InitViewResources() { Q_INIT_RESOURCE(view); }

namespace orv::view {

namespace {

struct FontEntry {
    QFont font;
    QFontMetrics metrics;
};

FontEntry& CachedFont(int pixels, int weight) {
    static std::map<std::pair<int, int>, std::unique_ptr<FontEntry>> cache;
    auto& slot = cache[{pixels, weight}];
    if (!slot) {
        QFont f(QStringLiteral("Arial"));
        f.setStyleHint(QFont::SansSerif);
        f.setPixelSize(pixels);
        f.setWeight(static_cast<QFont::Weight>(weight));
        slot = std::make_unique<FontEntry>(FontEntry{f, QFontMetrics(f)});
    }
    return *slot;
}

// A text laid out for a font and a width.
struct LaidKey {
    int pixels, weight, width;
    QString text;
    bool operator==(const LaidKey&) const = default;
};

size_t qHash(const LaidKey& k, size_t seed = 0) {
    return qHashMulti(seed, k.pixels, k.weight, k.width, k.text);
}

// The stated sizes of the bitmaps; the images are drawn as SVG and rendered once at that size.
int BitmapSize(std::uint32_t id) {
    switch (id) {
    case 142: case 143: case 144: case 157: return 32;
    case 151: case 155: case 166: case 167: case 173: return 9;
    case 153: case 154: case 159: case 160: case 161: return 48;
    case 164: return 15;
    default: return 0;
    }
}

QImage RenderBitmap(std::uint32_t id, int size) {
    // The bitmaps are compiled into the static library: registered once, before the first is read.
    static const bool registered = (InitViewResources(), true);
    (void)registered;
    QSvgRenderer svg(QStringLiteral(":/bitmaps/%1.svg").arg(id));
    if (!svg.isValid()) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    return image;
}

}  // namespace

const QFont& ArialPx(int pixels, int weight) { return CachedFont(pixels, weight).font; }

const QFont& NameFont() { return ArialPx(13, 700); }

void DrawTextInRect(QPainter& p, const QRect& rect, const QString& text, const QFont& font, const QColor& colour,
                    Qt::Alignment alignment) {
    if (text.isEmpty() || rect.width() <= 0) return;
    // The same texts come back every second: each is measured, cut and laid out once, then only drawn.
    struct Laid {
        QStaticText text;
        int width;
    };
    static QHash<LaidKey, Laid> cache;
    static constexpr qsizetype kCacheLimit = 50000;
    const FontEntry& entry = CachedFont(font.pixelSize(), font.weight());
    const LaidKey key{font.pixelSize(), font.weight(), rect.width(), text};
    auto it = cache.constFind(key);
    if (it == cache.constEnd()) {
        if (cache.size() >= kCacheLimit) cache.clear();
        QString shown = text;
        if (entry.metrics.horizontalAdvance(text) > rect.width())
            shown = entry.metrics.elidedText(text, Qt::ElideRight, rect.width());
        Laid laid{QStaticText(shown), entry.metrics.horizontalAdvance(shown)};
        laid.text.setTextFormat(Qt::PlainText);
        laid.text.setPerformanceHint(QStaticText::AggressiveCaching);
        laid.text.prepare(QTransform(), entry.font);
        it = cache.insert(key, std::move(laid));
    }
    const int height = entry.metrics.height();
    int x = rect.left(), y = rect.top();
    if (alignment & Qt::AlignHCenter) x += (rect.width() - it->width) / 2;
    else if (alignment & Qt::AlignRight) x = rect.right() + 1 - it->width;
    if (alignment & Qt::AlignVCenter) y += (rect.height() - height) / 2;
    else if (alignment & Qt::AlignBottom) y = rect.bottom() + 1 - height;
    p.setFont(entry.font);
    p.setPen(colour);
    p.drawStaticText(x, y, it->text);
}

void PaintGauge(QPainter& p, const QRect& rect, int fill, const QColor& colour) {
    static const QColor kGrey(170, 170, 170);
    p.fillRect(rect, kGrey);
    const int height = std::clamp(fill, 0, rect.height());
    if (height > 0) p.fillRect(QRect(rect.left(), rect.bottom() + 1 - height, rect.width(), height), colour);
}

void DrawFrame(QPainter& p, const QRect& rect, int width, const QColor& colour) {
    if (rect.isEmpty()) return;
    const int w = std::min({width, rect.width(), rect.height()});
    p.fillRect(QRect(rect.left(), rect.top(), rect.width(), w), colour);
    p.fillRect(QRect(rect.left(), rect.bottom() + 1 - w, rect.width(), w), colour);
    p.fillRect(QRect(rect.left(), rect.top(), w, rect.height()), colour);
    p.fillRect(QRect(rect.right() + 1 - w, rect.top(), w, rect.height()), colour);
}

const QImage& Bitmap(std::uint32_t id) {
    static QHash<std::uint32_t, QImage> cache;
    auto it = cache.find(id);
    if (it == cache.end()) {
        const int size = BitmapSize(id);
        it = cache.insert(id, size ? RenderBitmap(id, size) : QImage());
    }
    return *it;
}

void DrawBitmap(QPainter& p, std::uint32_t id, int x, int y, int size) {
    const QImage& image = Bitmap(id);
    if (image.isNull()) return;
    if (size == 0) size = image.width();
    // Drawn at the pixels the bitmap takes on the device (the screen's pixel ratio times the zoom or the
    // printer's scale), rendered from the drawing and kept, so that it stays sharp at every density.
    const qreal ratio = std::abs(p.combinedTransform().m11());  // holds the device's pixel ratio too
    const int pixels = std::clamp(qRound(size * ratio), 1, 512);
    if (pixels == size && size == image.width()) {
        p.drawImage(x, y, image);
        return;
    }
    static QHash<quint64, QImage> rendered;
    const quint64 key = (static_cast<quint64>(id) << 32) | static_cast<quint32>(pixels);
    auto it = rendered.find(key);
    if (it == rendered.end()) it = rendered.insert(key, RenderBitmap(id, pixels));
    p.drawImage(QRect(x, y, size, size), *it);
}

}  // namespace orv::view
