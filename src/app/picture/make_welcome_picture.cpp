// Draws the welcome window's picture: the branch office's Tally at the top, the head office's
// at the bottom, a curved arrow between them and the product word in the middle. Run once
// (QT_QPA_PLATFORM=offscreen make-welcome-picture welcome.png); the PNG is kept in the tree.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-welcome-picture OUTPUT.png\n");
        return 2;
    }
    QImage image(150, 227, QImage::Format_RGB32);
    image.fill(QColor(0xd4, 0xd4, 0xd4));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    auto band = [&p](int top, const QString& small, const QString& big) {
        QLinearGradient shade(0, top, 0, top + 40);
        shade.setColorAt(0, QColor(0x9a, 0x9a, 0x9a));
        shade.setColorAt(1, QColor(0x6e, 0x6e, 0x6e));
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
        p.setBrush(shade);
        p.drawRoundedRect(QRectF(8.5, top + 0.5, 133, 40), 5, 5);
        p.setPen(Qt::white);
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(10);
        p.setFont(f);
        p.drawText(QRectF(8, top + 4, 134, 14), Qt::AlignCenter, small);
        f.setPixelSize(14);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(8, top + 18, 134, 20), Qt::AlignCenter, big);
    };
    band(8, QStringLiteral("Branch Office"), QStringLiteral("TALLY"));
    band(179, QStringLiteral("Head Office"), QStringLiteral("TALLY"));

    // The curved arrow from the branch office down to the head office, around the middle.
    QPainterPath arrow;
    arrow.moveTo(34, 50);
    arrow.cubicTo(-6, 95, -6, 135, 34, 172);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(arrow);
    QPainterPath head;
    head.moveTo(40, 178);
    head.lineTo(24, 174);
    head.lineTo(36, 162);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x50, 0x50, 0x50));
    p.drawPath(head);

    // The product word and what it does.
    QFont word(QStringLiteral("Liberation Serif"));
    word.setPixelSize(22);
    word.setBold(true);
    word.setItalic(true);
    p.setFont(word);
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.drawText(QRectF(30, 88, 118, 28), Qt::AlignCenter, QStringLiteral("Ferrolin"));
    QFont line(QStringLiteral("Liberation Sans"));
    line.setPixelSize(9);
    p.setFont(line);
    p.setPen(QColor(0x45, 0x45, 0x45));
    p.drawText(QRectF(30, 116, 118, 26), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("exports a period's Tally data"));
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
