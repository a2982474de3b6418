#pragma once
// What the window shows where one of its widgets is (its backing store on the
// screen, where partial repaints and scrolls have left their pixels), and the
// window drawn afresh there (the widget over what lies under it): the two
// must agree after any update.
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

inline QImage OnScreen(QWidget* part)
{
    QWidget* window = part->window();
    const QPoint at = part->mapTo(window, QPoint(0, 0));
    return window->screen()->grabWindow(window->winId(), at.x(), at.y(), part->width(), part->height()).toImage().convertToFormat(QImage::Format_RGB32);
}

inline QImage DrawnAfresh(QWidget* part)
{
    QWidget* window = part->window();
    return window->grab(QRect(part->mapTo(window, QPoint(0, 0)), part->size())).toImage().convertToFormat(QImage::Format_RGB32);
}
