#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <string>
#include <vector>

// Finds the texts a window cuts off: a label, check box, option button,
// push button, group title or drop-down entry whose text needs more room
// than its control has, and any control reaching past the edge of the
// control it sits in. Fixed-position forms set every size by hand, so a
// longer text or another font can clip a caption without anyone noticing;
// a test that renders each window and lists these keeps it from coming back.
namespace vts::test {

namespace windowfit {

inline QString plain(QString text) {
    text.remove(QLatin1Char('&'));  // mnemonic marks take no room
    return text;
}

inline QString describe(const QWidget* w, const QString& text, int need, int have) {
    return QStringLiteral("%1 \"%2\" needs %3 px, has %4")
        .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                       : w->objectName(),
             text)
        .arg(need)
        .arg(have);
}

}  // namespace windowfit

// One line per clipped text or control of `window` and its children, shown
// or hidden (every page of a paged window counts). Empty when all fits.
// Drop-down lists named in `machineLists` hold the machine's own entries
// (drives, mount points): only their size is checked, not their entries.
inline QStringList clippedTexts(QWidget* window, const QStringList& machineLists = {}) {
    using namespace windowfit;
    QStringList found;
    window->ensurePolished();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window) continue;  // a dialog of its own is checked on its own
        w->ensurePolished();
        // A child of a combo box, scroll area or similar is laid out by it.
        QWidget* parent = w->parentWidget();
        if (!parent) continue;
        const bool placedByHand =
            parent == window || qobject_cast<QGroupBox*>(parent) ||
            QString::fromLatin1(parent->metaObject()->className()) == QLatin1String("QFrame") ||
            QString::fromLatin1(parent->metaObject()->className()) == QLatin1String("QWidget");
        if (!placedByHand) continue;
        // What a scroll area shows is scrolled, not cut off.
        if (auto* area = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
            area && area->viewport() == parent)
            continue;
        // Hidden pages count: only a control hidden on its own is skipped.
        if (w->isHidden()) continue;
        const QRect r = w->geometry();
        if (r.right() >= parent->width() || r.bottom() >= parent->height())
            found << QStringLiteral("%1 reaches %2,%3 past the edge %4,%5 of %6")
                         .arg(w->objectName())
                         .arg(r.right() + 1)
                         .arg(r.bottom() + 1)
                         .arg(parent->width())
                         .arg(parent->height())
                         .arg(parent->objectName());
        const QFontMetrics fm(w->font());
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->text().isEmpty() || l->textFormat() == Qt::RichText) continue;
            const QSize hint = l->sizeHint();
            if (l->wordWrap()) {
                const int need = l->heightForWidth(l->width());
                if (need > l->height())
                    found << describe(l, l->text(), need, l->height()) + " (height)";
            } else if (hint.width() > l->width()) {
                found << describe(l, l->text(), hint.width(), l->width());
            } else if (fm.height() > l->height()) {
                found << describe(l, l->text(), fm.height(), l->height()) + " (height)";
            }
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            const int need = fm.horizontalAdvance(plain(g->title())) + 16;
            if (!g->title().isEmpty() && need > g->width())
                found << describe(g, g->title(), need, g->width());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* b = static_cast<QAbstractButton*>(w);
            const int need = b->sizeHint().width();
            if (need > b->width()) found << describe(b, b->text(), need, b->width());
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            // Room for the frame and a little padding on each side.
            const int need = fm.horizontalAdvance(plain(b->text())) + 12;
            if (!b->text().isEmpty() && need > b->width())
                found << describe(b, b->text(), need, b->width());
        } else if (auto* c = qobject_cast<QComboBox*>(w);
                   c && !machineLists.contains(c->objectName())) {
            // The entry's text plus the drop-down arrow and the frame.
            for (int i = 0; i < c->count(); ++i) {
                const int need = fm.horizontalAdvance(c->itemText(i)) + 34;
                if (need > c->width()) found << describe(c, c->itemText(i), need, c->width());
            }
        }
    }
    return found;
}

// Fails the test unless the font is a real one: with no font, every text
// would measure nothing and every window would pass.
inline bool measuresText(QWidget* w) {
    return QFontMetrics(w->font()).horizontalAdvance(QStringLiteral("MMMMMMMMMM")) > 40;
}

// A desktop's font: a point size at a screen scale. A screen at 125 % or
// 150 % shows each point with that many more pixels, so a case is the font
// at points x scale on the 96-dpi offscreen screen.
struct DesktopFont {
    double points;
    double scale;

    std::string name() const {
        return "Pt" + std::to_string(static_cast<int>(points)) + "At" +
               std::to_string(static_cast<int>(scale * 100)) + "Percent";
    }
};

// 9 (the forms' design font) to 12 points, each at 100 %, 125 % and 150 %.
inline std::vector<DesktopFont> desktopFonts() {
    std::vector<DesktopFont> out;
    for (double points : {9.0, 10.0, 11.0, 12.0})
        for (double scale : {1.0, 1.25, 1.5}) out.push_back({points, scale});
    return out;
}

// Makes a desktop font the application's font while it lives; windows built
// meanwhile take it, as they take the desktop's font in the programs.
class ScopedDesktopFont {
public:
    explicit ScopedDesktopFont(const DesktopFont& f) : m_saved(QApplication::font()) {
        QFont font = m_saved;
        font.setPointSizeF(f.points * f.scale);
        QApplication::setFont(font);
    }
    ~ScopedDesktopFont() { QApplication::setFont(m_saved); }
    ScopedDesktopFont(const ScopedDesktopFont&) = delete;
    ScopedDesktopFont& operator=(const ScopedDesktopFont&) = delete;

private:
    QFont m_saved;
};

}  // namespace vts::test
