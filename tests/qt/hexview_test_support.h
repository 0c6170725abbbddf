// Shared helpers of the hex view tests: byte buffers fenced by inaccessible
// pages, renders of the view, pixel checks and reference text renders.
#pragma once

#include "hexview/MCWndHexEditor.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QScrollBar>
#include <QString>
#include <QTest>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace hexview_test {

// A byte buffer that ends exactly where an inaccessible page begins and starts
// right after another one, so that any read outside it faults at once, with
// or without a sanitizer. Anonymous and MAP_NORESERVE: pages that are never
// written cost nothing and read as zero, so buffers of many GiB are cheap.
class FencedBuffer {
public:
    explicit FencedBuffer(quint64 size) : m_size(size) {
        const quint64 page = static_cast<quint64>(sysconf(_SC_PAGESIZE));
        const quint64 body = (size + page - 1) / page * page;
        m_mapSize = body + 2 * page;
        void* base = mmap(nullptr, m_mapSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) return;
        m_base = static_cast<std::uint8_t*>(base);
        if (body != 0 && mprotect(m_base + page, body, PROT_READ | PROT_WRITE) != 0) {
            munmap(m_base, m_mapSize);
            m_base = nullptr;
            return;
        }
        m_data = m_base + page + (body - size);
    }
    ~FencedBuffer() {
        if (m_base) munmap(m_base, m_mapSize);
    }
    FencedBuffer(const FencedBuffer&) = delete;
    FencedBuffer& operator=(const FencedBuffer&) = delete;

    bool ok() const { return m_base != nullptr; }
    std::uint8_t* data() const { return m_data; }
    quint64 size() const { return m_size; }

private:
    std::uint8_t* m_base = nullptr;
    std::uint8_t* m_data = nullptr;
    quint64 m_mapSize = 0;
    quint64 m_size = 0;
};

inline const QColor kWhite(0xFF, 0xFF, 0xFF);
inline const QColor kGrey(0xE0, 0xE0, 0xE0);
inline const QColor kBlue(0x00, 0x00, 0xE0);
inline const QColor kCyan(0xA4, 0xFF, 0xFF);
inline const QColor kHeader(0xEE, 0xD8, 0x80);
inline const QColor kBlack(0, 0, 0);

// Widget height that gives exactly `rows` full rows plus `extra` pixels.
inline int HeightForRows(const MCWndHexEditor& view, int rows, int extra = 0) {
    return view.GetLineHeight() + 3 + rows * view.GetLineHeight() + extra;
}

// Render of the whole widget, as 32-bit RGB.
inline QImage Render(MCWndHexEditor& view) { return view.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The client part of a render.
inline QImage ClientImage(MCWndHexEditor& view) { return Render(view).copy(view.ClientRect()); }

inline QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

// True when every pixel of `rect` has `colour`.
inline bool Uniform(const QImage& img, const QRect& rect, const QColor& colour) {
    if (rect.isEmpty()) return false;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (QColor(img.pixel(x, y)) != colour) return false;
    return true;
}

// Number of pixels of `rect` with `colour`.
inline int Count(const QImage& img, const QRect& rect, const QColor& colour) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) n += QColor(img.pixel(x, y)) == colour;
    return n;
}

// Text drawn on its own, as the view should draw it: `size` is the box, the
// text goes into (0, top, width, height - top) with `align`.
inline QImage Reference(const QFont& font, QSize size, int top, Qt::Alignment align, const QString& text,
                        const QColor& fg, const QColor& bg) {
    QImage img(size, QImage::Format_RGB32);
    // Same logical resolution as the screen the widget renders for.
    img.setDotsPerMeterX(3780);
    img.setDotsPerMeterY(3780);
    img.fill(bg);
    QPainter p(&img);
    p.setFont(font);
    p.setPen(fg);
    p.drawText(QRect(0, top, size.width(), size.height() - top), align, text);
    p.end();
    return img;
}

inline bool SameImage(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// Compares a crop of a render with a reference, leaving out the crop's first
// column (where a grid line may fall).
inline bool SameText(const QImage& render, const QRect& rect, const QImage& reference) {
    return SameImage(render.copy(rect.adjusted(1, 0, 0, 0)),
                     reference.copy(QRect(1, 0, reference.width() - 1, reference.height())));
}

// Client-coordinate rectangles of the cells of row `row`: full row height.
inline QRect HexCellRect(const MCWndHexEditor& view, int row, int k) {
    const auto c = view.GetHexCell(k);
    return QRect(c.first, row * view.GetLineHeight(), c.second - c.first, view.GetLineHeight());
}

inline QRect TextCellRect(const MCWndHexEditor& view, int row, int k) {
    const auto c = view.GetTextCell(k);
    return QRect(c.first, row * view.GetLineHeight(), c.second - c.first, view.GetLineHeight());
}

inline QRect LabelRect(const MCWndHexEditor& view, int row) {
    return QRect(0, row * view.GetLineHeight(), view.GetOffsetColumnRight(), view.GetLineHeight());
}

// The bottom pixel row of a cell, clear of text and of the grid line that
// falls on the left edge of cells 4, 8 and 12: shows the cell's fill.
inline QRect FillProbe(const QRect& cell) { return QRect(cell.left() + 1, cell.bottom(), cell.width() - 1, 1); }

// Reference of the offset label of a row.
inline QImage LabelReference(const MCWndHexEditor& view, quint64 offset) {
    return Reference(view.GetFont(), QSize(view.GetOffsetColumnRight(), view.GetLineHeight()), 2,
                     Qt::AlignLeft | Qt::AlignTop,
                     QString::asprintf("%08llXH:", static_cast<unsigned long long>(offset)), kBlack, kGrey);
}

// Reference of a cell's text on its fill.
inline QImage CellReference(const MCWndHexEditor& view, int width, const QString& text, const QColor& fg,
                            const QColor& bg) {
    return Reference(view.GetFont(), QSize(width, view.GetLineHeight()), 2, Qt::AlignHCenter | Qt::AlignTop, text, fg,
                     bg);
}

}  // namespace hexview_test
