#include "gui/icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vardane::gui {
namespace {

enum class Shape {
    Arrow,
    Folder,
    Disc,
    Square,
    Play,
    Stop,
    Pause,
    Hourglass,
    Cross,
    Up,
    Down,
    Gear,
    Lines
};

struct Look {
    Shape shape;
    QColor colour;
};

Look LookOf(int image) {
    switch (image) {
        case 0:
            return {Shape::Arrow, QColor(30, 110, 200)};  // the program
        case 1:
            return {Shape::Folder, QColor(40, 120, 210)};  // Downloading
        case 2:
            return {Shape::Folder, QColor(40, 160, 70)};  // Completed
        case 3:
            return {Shape::Folder, QColor(140, 140, 140)};  // Deleted
        case 4:
            return {Shape::Disc, QColor(40, 160, 70)};  // completed task
        case 5:
            return {Shape::Play, QColor(30, 110, 200)};  // downloading task
        case 6:
            return {Shape::Cross, QColor(200, 40, 40)};  // failed task
        case 7:
            // Waiting and stopped differ in shape, not only in colour.
            return {Shape::Pause, QColor(120, 120, 120)};  // stopped task
        case 8:
            return {Shape::Hourglass, QColor(220, 160, 30)};  // waiting task
        case 9:
            return {Shape::Arrow, QColor(30, 110, 200)};  // new
        case 10:
            return {Shape::Play, QColor(40, 160, 70)};  // start
        case 11:
            return {Shape::Stop, QColor(200, 40, 40)};  // stop
        case 12:
            return {Shape::Cross, QColor(120, 120, 120)};  // delete
        case 13:
            return {Shape::Down, QColor(60, 60, 60)};  // move down
        case 14:
            return {Shape::Up, QColor(60, 60, 60)};  // move up
        case 15:
            return {Shape::Gear, QColor(60, 60, 60)};  // properties
        case 16:
            return {Shape::Lines, QColor(30, 110, 200)};  // log root
        case 17:
            return {Shape::Disc, QColor(30, 110, 200)};  // thread
        case 19:
            return {Shape::Up, QColor(0, 0, 139)};  // line sent
        case 20:
            return {Shape::Down, QColor(0, 0, 139)};  // line received
        case 21:
            return {Shape::Disc, QColor(0, 147, 0)};  // information
        case 22:
            return {Shape::Cross, QColor(139, 0, 0)};  // error
        default:
            return {Shape::Square, Qt::transparent};
    }
}

QPainterPath PathOf(Shape shape) {
    QPainterPath p;
    switch (shape) {
        case Shape::Arrow:
            p.addPolygon(QPolygonF({{6, 1}, {10, 1}, {10, 7}, {14, 7}, {8, 14}, {2, 7}, {6, 7}}));
            break;
        case Shape::Folder:
            p.addPolygon(QPolygonF({{1, 3}, {6, 3}, {7, 5}, {15, 5}, {15, 14}, {1, 14}}));
            break;
        case Shape::Disc:
            p.addEllipse(QRectF(2, 2, 12, 12));
            break;
        case Shape::Square:
            p.addRoundedRect(QRectF(2, 2, 12, 12), 3, 3);
            break;
        case Shape::Play:
            p.addPolygon(QPolygonF({{3, 2}, {14, 8}, {3, 14}}));
            break;
        case Shape::Stop:
            p.addRect(QRectF(3, 3, 10, 10));
            break;
        case Shape::Pause:
            p.addRect(QRectF(3, 2, 3.5, 12));
            p.addRect(QRectF(9.5, 2, 3.5, 12));
            break;
        case Shape::Hourglass:
            p.addPolygon(QPolygonF({{3, 1},
                                    {13, 1},
                                    {13, 3},
                                    {9, 8},
                                    {13, 13},
                                    {13, 15},
                                    {3, 15},
                                    {3, 13},
                                    {7, 8},
                                    {3, 3}}));
            break;
        case Shape::Cross:
            p.addPolygon(QPolygonF({{2, 4},
                                    {4, 2},
                                    {8, 6},
                                    {12, 2},
                                    {14, 4},
                                    {10, 8},
                                    {14, 12},
                                    {12, 14},
                                    {8, 10},
                                    {4, 14},
                                    {2, 12},
                                    {6, 8}}));
            break;
        case Shape::Up:
            p.addPolygon(QPolygonF({{8, 2}, {14, 9}, {10, 9}, {10, 14}, {6, 14}, {6, 9}, {2, 9}}));
            break;
        case Shape::Down:
            p.addPolygon(QPolygonF({{8, 14}, {14, 7}, {10, 7}, {10, 2}, {6, 2}, {6, 7}, {2, 7}}));
            break;
        case Shape::Gear:
            p.addEllipse(QRectF(2, 2, 12, 12));
            p.addEllipse(QRectF(5.5, 5.5, 5, 5));
            break;
        case Shape::Lines:
            for (int y : {3, 7, 11}) {
                p.addRect(QRectF(2, y, 12, 2));
            }
            break;
    }
    return p;
}

QIcon Draw(const Look& look) {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        painter.setPen(QPen(look.colour.darker(140), 0.8));
        painter.setBrush(look.colour);
        QPainterPath path = PathOf(look.shape);
        path.setFillRule(Qt::OddEvenFill);
        painter.drawPath(path);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon ImageIcon(int image) {
    static QHash<int, QIcon> cache;
    auto it = cache.find(image);
    if (it == cache.end()) {
        it = cache.insert(image, Draw(LookOf(image)));
    }
    return *it;
}

QIcon ProgramIcon() {
    return QIcon::fromTheme(QStringLiteral("vardane"), ImageIcon(0));
}

}  // namespace vardane::gui
