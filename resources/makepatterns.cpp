// Draws the pattern images the built-in themes name (house, person, snowflake and game pad
// motifs, dark strokes on transparency) into the folder given as the first argument. Run at
// build time; the images become application resources.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kSide = 512;
constexpr int kCell = 128;

void house(QPainter& p)
{
    p.drawPolyline(QPolygonF({{-26, -2}, {0, -26}, {26, -2}}));
    p.drawRect(QRectF(-18, -4, 36, 28));
    p.drawRect(QRectF(-6, 8, 12, 16));
}

void person(QPainter& p)
{
    p.drawEllipse(QPointF(0, -14), 10, 10);
    QPainterPath body(QPointF(-20, 26));
    body.cubicTo(-20, 0, 20, 0, 20, 26);
    p.drawPath(body);
}

void snowflake(QPainter& p)
{
    for (int arm = 0; arm < 6; ++arm) {
        p.save();
        p.rotate(arm * 60.0);
        p.drawLine(QPointF(0, 0), QPointF(0, -26));
        p.drawLine(QPointF(0, -16), QPointF(-7, -23));
        p.drawLine(QPointF(0, -16), QPointF(7, -23));
        p.restore();
    }
}

void gamePad(QPainter& p)
{
    p.drawRoundedRect(QRectF(-28, -14, 56, 28), 12, 12);
    p.drawLine(QPointF(-16, -6), QPointF(-16, 6));
    p.drawLine(QPointF(-22, 0), QPointF(-10, 0));
    p.drawEllipse(QPointF(12, -4), 3, 3);
    p.drawEllipse(QPointF(19, 3), 3, 3);
}

bool draw(const QString& path, const std::function<void(QPainter&)>& motif)
{
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 110), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    for (int row = 0; row < kSide / kCell; ++row) {
        for (int column = 0; column < kSide / kCell; ++column) {
            painter.save();
            // Every other row shifts by half a cell and turns a little, so the tile does not look
            // like a grid.
            painter.translate(column * kCell + kCell / 2 + (row % 2) * kCell / 2, row * kCell + kCell / 2);
            painter.rotate(row % 2 ? -12 : 8);
            motif(painter);
            painter.restore();
        }
    }
    painter.end();
    return image.save(path, "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: makepatterns <folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;
    const bool ok = draw(out.filePath(QStringLiteral("home.png")), house) &&
                    draw(out.filePath(QStringLiteral("person.png")), person) &&
                    draw(out.filePath(QStringLiteral("snow.png")), snowflake) &&
                    draw(out.filePath(QStringLiteral("game.png")), gamePad);
    return ok ? 0 : 1;
}
