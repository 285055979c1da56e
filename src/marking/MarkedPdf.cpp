#include "marking/MarkedPdf.h"

#include "marking/PageScale.h"
#include "ui/DisplayText.h"
#include "ui/PageGlyphs.h"
#include "ui/PdfPageSurface.h"
#include "ui/Prompts.h"
#include "ui/QPainterSurface.h"
#include "ui/QtPrompts.h"

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace tallyport {
namespace {

constexpr double kMarginPoints = 36; // half an inch
constexpr double kPointsPerInch = 72;
constexpr int kPdfResolution = 1200; // device units per inch: fine enough for every position
// Far more sheets than a submission fills (50,000 lines need 737 A4 sheets). Annotations from a
// server placed far apart would otherwise each ask for a sheet, and every sheet walks all of them.
constexpr std::size_t kMaxSheets = 5000;

// Territories whose paper is Letter though their measurement system is metric.
constexpr QLocale::Territory kLetterTerritories[] = {
    QLocale::Belize,       QLocale::Canada,     QLocale::Chile,       QLocale::Colombia,
    QLocale::CostaRica,    QLocale::ElSalvador, QLocale::Guatemala,   QLocale::Mexico,
    QLocale::Nicaragua,    QLocale::Panama,     QLocale::Philippines, QLocale::PuertoRico,
    QLocale::UnitedStates, QLocale::Venezuela};

// The part of the page a sheet shows, in page pixels: its band's rows, as wide as fits across.
PixelRect BandPixels(const PageBand& band, int32_t width) {
    return {0, PageToPixelY(band.top), width, PageToPixelY(band.bottom)};
}

// The mark at the right, the file's name on the left (shortened to leave the mark room), one
// line high, in the page font's bold.
void DrawHeading(QPainter& painter, const MarkedFile& file, const QString& mark, int32_t width) {
    QFont font = PageFont();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    const int markWidth = metrics.horizontalAdvance(mark + QStringLiteral("  "));
    const QRect line(0, 0, width, PageFontPixelHeight());
    painter.drawText(line, Qt::AlignRight | Qt::AlignTop, mark);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignTop,
                     metrics.elidedText(DisplayText(file.name), Qt::ElideMiddle,
                                        std::max(0, width - markWidth)));
}

} // namespace

QPageSize MarkedPdfPageSize(const QLocale& locale) {
    const bool letter =
        locale.measurementSystem() == QLocale::ImperialUSSystem ||
        std::ranges::find(kLetterTerritories, locale.territory()) != std::end(kLetterTerritories);
    return QPageSize(letter ? QPageSize::Letter : QPageSize::A4);
}

double MarkedPdfLayout::PointX(int32_t x) const {
    return margin + pointsPerPixel * x;
}

double MarkedPdfLayout::PointY(std::size_t sheet, int32_t y) const {
    const double top = margin + (sheet == 0 ? heading : 0);
    return top + pointsPerPixel * (double(y) - PageToPixelY(bands.at(sheet).top));
}

std::optional<MarkedPdfLayout> LayoutMarkedPdf(const MarkedFile& file, const QPageSize& pageSize) {
    if (ScaleX() <= 0 || ScaleY() <= 0)
        return std::nullopt;
    const QSizeF sheet = pageSize.size(QPageSize::Point);
    const double across = sheet.width() - 2 * kMarginPoints;
    const double down = sheet.height() - 2 * kMarginPoints;
    // ScaleY is the screen's dots per inch times 10 / 6.
    const double screenPoints = kPointsPerInch * 10 / 6 / ScaleY();
    FontMeasureSurface measure(PageFont());
    const int64_t marginLine = int64_t(MarginLinePixelX()) + 1;
    const int64_t widest = PageToPixelX(file.PageExtent(measure).width);
    const int64_t fitted = std::clamp(widest, marginLine, 2 * marginLine);

    MarkedPdfLayout layout;
    layout.margin = kMarginPoints;
    layout.pointsPerPixel = std::min(screenPoints, across / double(fitted));
    layout.heading = 2 * PageFontPixelHeight() * layout.pointsPerPixel; // the heading, a blank line
    layout.bands =
        PageBreaks(file, int64_t(std::floor((down - layout.heading) / layout.pointsPerPixel)),
                   int64_t(std::floor(down / layout.pointsPerPixel)));
    return layout;
}

std::optional<std::string> WriteMarkedPdf(const std::filesystem::path& path,
                                          const MarkedSubmission& submission, int32_t maxMark,
                                          const QPageSize& pageSize) {
    const QString mark =
        submission.marking
            ? FromBytes(FormatMessage("Mark: %d/%d", submission.marking->mark, maxMark))
            : QString();
    std::vector<MarkedPdfLayout> layouts;
    std::size_t sheets = 0;
    for (const MarkedFile& file : submission.files) {
        auto layout = LayoutMarkedPdf(file, pageSize);
        if (!layout)
            return std::string("the page scale is not known yet");
        sheets += layout->bands.size();
        if (sheets > kMaxSheets)
            return FormatMessage("it would need more than %zu pages", kMaxSheets);
        layouts.push_back(std::move(*layout));
    }

    QSaveFile out(QFile::decodeName(path.c_str()));
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString().toStdString();
    {
        QPdfWriter writer(&out);
        writer.setPageSize(pageSize);
        writer.setPageMargins(QMarginsF());
        writer.setResolution(kPdfResolution);
        writer.setCreator(QStringLiteral("Tallyport Submit"));
        writer.setTitle(QStringLiteral("Marked work"));
        QPainter painter;
        if (!painter.begin(&writer))
            return std::string("the PDF could not be started");
        const double device = kPdfResolution / kPointsPerInch;
        PageGlyphs glyphs(PageFont());
        bool firstSheet = true;
        for (std::size_t f = 0; f < layouts.size(); ++f) {
            const MarkedFile& file = submission.files[f];
            const MarkedPdfLayout& layout = layouts[f];
            const int32_t width =
                int32_t((pageSize.size(QPageSize::Point).width() - 2 * layout.margin) /
                        layout.pointsPerPixel);
            for (std::size_t s = 0; s < layout.bands.size(); ++s) {
                if (!firstSheet && !writer.newPage())
                    return std::string("the PDF could not be continued");
                firstSheet = false;
                painter.save();
                painter.scale(device, device); // points
                painter.translate(layout.margin, layout.margin);
                painter.scale(layout.pointsPerPixel, layout.pointsPerPixel); // page pixels
                if (s == 0) {
                    DrawHeading(painter, file, mark, width);
                    painter.translate(0, 2 * PageFontPixelHeight());
                }
                const PixelRect band = BandPixels(layout.bands[s], width);
                painter.translate(0, -band.top);
                painter.setFont(PageFont());
                PdfPageSurface surface(painter, band, kRed, glyphs); // red: the stroke pen
                DrawViewedPage(surface, file);
                if (file.kind != ContentKind::NonAscii) { // the margin line, as on screen
                    surface.SelectPen(kBlue);
                    surface.MoveTo(MarginLinePixelX(), band.top);
                    surface.LineTo(MarginLinePixelX(), band.bottom);
                }
                surface.Flush();
                painter.restore();
            }
        }
        if (!painter.end())
            return std::string("the PDF could not be completed");
    }
    if (!out.commit())
        return out.errorString().toStdString();
    return std::nullopt;
}

} // namespace tallyport
