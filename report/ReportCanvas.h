#pragma once

#include <QString>

class QPainter;

// What a report page is drawn on. The page layout (ReportDocument) decides
// every position, face and size once; a canvas only puts text and rules
// where it is told, so the preview, the printer and the PDF file show the
// same page. Coordinates are points (1/72 inch) from the top left corner;
// a text position is the left end of its base line.
namespace vts::report {

class PageCanvas {
public:
    // Title and Filter are proportional faces; Mono and MonoBold are the
    // monospaced body faces, whose every character advances
    // kMonoAdvance times the size (so the layout can place columns).
    enum class Face { Title, Filter, Mono, MonoBold };

    virtual ~PageCanvas() = default;
    virtual void setFont(Face face, double size) = 0;
    virtual void text(double x, double baseline, const QString& text) = 0;
    virtual void line(double x1, double y1, double x2, double y2) = 0;
};

// The advance of one character of the monospaced faces, of the font size.
inline constexpr double kMonoAdvance = 0.602;

// Draws through a QPainter whose coordinates are points: the preview window
// and the printer.
class PainterCanvas final : public PageCanvas {
public:
    explicit PainterCanvas(QPainter& painter) : m_p(painter) {}
    void setFont(Face face, double size) override;
    void text(double x, double baseline, const QString& text) override;
    void line(double x1, double y1, double x2, double y2) override;

private:
    QPainter& m_p;
    Face m_face = Face::Mono;
    double m_size = 0;
};

}  // namespace vts::report
