#include "Orvane/OverviewDock.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"
#include "Overview/PointDensity.h"
#include "Platform/IntConversion.h"

COverviewWidget::COverviewWidget(QWidget* parent) : QWidget(parent) {
    // A click navigates the stereo view and leaves the keyboard there.
    setFocusPolicy(Qt::NoFocus);
    setMinimumSize(64, 64);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

COrvaneDoc* COverviewWidget::Document() const {
    return m_pView ? m_pView->GetDocument() : nullptr;
}

void COverviewWidget::SetView(COrvaneView* view) {
    if (view == m_pView) return;
    for (const QMetaObject::Connection& c : m_connections) disconnect(c);
    m_connections.clear();
    if (m_pView) m_pView->viewport()->removeEventFilter(this);
    m_pView = view;
    m_picture = QImage();
    m_density = QImage();
    m_nGeneration = -1;
    m_nDensityEdits = 0;
    if (view) {
        // The rectangle follows scrolling and resizing of the stereo view.
        auto moved = [this] { update(); };
        for (QScrollBar* bar : {view->horizontalScrollBar(), view->verticalScrollBar()}) {
            m_connections.push_back(connect(bar, &QScrollBar::valueChanged, this, moved));
            m_connections.push_back(connect(bar, &QScrollBar::rangeChanged, this, moved));
        }
        view->viewport()->installEventFilter(this);
        if (COrvaneDoc* doc = Document()) {
            COverviewBuilder* builder = &doc->m_overview;
            m_connections.push_back(connect(builder, &COverviewBuilder::started, this, moved));
            m_connections.push_back(connect(builder, &COverviewBuilder::finished, this, moved));
        }
    }
    update();
}

bool COverviewWidget::eventFilter(QObject* watched, QEvent* event) {
    if (m_pView && watched == m_pView->viewport() && event->type() == QEvent::Resize) update();
    return QWidget::eventFilter(watched, event);
}

void COverviewWidget::SetMarkedPositions(std::vector<QPointF> positions) {
    m_marked = std::move(positions);
    update();
}

QRectF COverviewWidget::ImageRect() const {
    if (m_nColumns < 1 || m_nRows < 1) return QRectF();
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    const double scale = std::min(area.width() / m_nColumns, area.height() / m_nRows);
    if (!(scale > 0.0)) return QRectF();
    const QSizeF size(m_nColumns * scale, m_nRows * scale);
    return QRectF(area.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

QRectF COverviewWidget::ViewRect() const {
    if (!m_pView) return QRectF();
    // The client area's corners in left sub-image pixels.
    const CStereoFrame frame = m_pView->GetStereoFrame();
    const StereoPoint a = frame.ClientToSubImage(CStereoFrame::kLeft, {0.0, 0.0});
    const StereoPoint b = frame.ClientToSubImage(
        CStereoFrame::kLeft, {1.0 * frame.m_nClientWidth, 1.0 * frame.m_nClientHeight});
    return QRectF(QPointF(a.x, a.y), QPointF(b.x, b.y));
}

QPointF COverviewWidget::ToImage(QPointF widget) const {
    const QRectF r = ImageRect();
    if (r.isEmpty()) return QPointF();
    return QPointF((widget.x() - r.left()) * m_nColumns / r.width(),
                   (widget.y() - r.top()) * m_nRows / r.height());
}

QPointF COverviewWidget::ToWidget(QPointF subImage) const {
    const QRectF r = ImageRect();
    if (r.isEmpty()) return QPointF();
    return QPointF(r.left() + subImage.x() * r.width() / m_nColumns,
                   r.top() + subImage.y() * r.height() / m_nRows);
}

void COverviewWidget::CentreViewOn(QPointF subImage) {
    if (!m_pView || m_nColumns < 1) return;
    // Within the photograph, then to the view's centre as Go To Point does.
    const double column = std::clamp(subImage.x(), 0.0, m_nColumns - 1.0);
    const double row = std::clamp(subImage.y(), 0.0, m_nRows - 1.0);
    // With the pair fused at the height of the points there, as after n.
    if (m_pView->CentreAndFuse(column, row, m_pView->HeightNear(column, row)))
        m_pView->Invalidate();
}

void COverviewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && HasPicture()) {
        CentreViewOn(ToImage(event->position()));
        // The keys go on to the stereo view (a floating dock is a window of its own).
        if (m_pView) {
            m_pView->window()->activateWindow();
            m_pView->setFocus(Qt::MouseFocusReason);
        }
    }
    QWidget::mousePressEvent(event);
}

void COverviewWidget::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && HasPicture())
        CentreViewOn(ToImage(event->position()));
    QWidget::mouseMoveEvent(event);
}

void COverviewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    update();
}

void COverviewWidget::UpdatePicture() {
    COrvaneDoc* doc = Document();
    const COverviewBuilder* builder = doc ? &doc->m_overview : nullptr;
    if (!builder || !builder->IsReady()) {
        m_picture = QImage();
        m_density = QImage();
        m_nColumns = doc && doc->IsProjectLoaded() ? doc->m_leftPhoto.m_image.GetSize().cx : 0;
        m_nRows = doc && doc->IsProjectLoaded() ? doc->m_leftPhoto.m_image.GetSize().cy : 0;
        m_nGeneration = -1;
        return;
    }
    const CImagePyramid& pyramid = builder->GetPyramid();
    m_nColumns = pyramid.GetColumns();
    m_nRows = pyramid.GetRows();
    // The smallest level that still has a pixel for every pixel it is shown on.
    const QRectF target = ImageRect();
    const PyramidLevel* level = pyramid.LevelFor(static_cast<int>(std::ceil(target.width())),
                                                 static_cast<int>(std::ceil(target.height())));
    if (!level) return;
    if (level->shift == m_nShift && builder->GetGeneration() == m_nGeneration &&
        !m_picture.isNull()) {
        // Same picture; the shading has one cell per widget pixel it covers,
        // counted since the last change of the points.
        if (m_density.size() != QSize(static_cast<int>(std::lround(target.width())),
                                      static_cast<int>(std::lround(target.height()))) ||
            m_nDensityEdits != doc->EditGeneration())
            ComputeDensity();
        return;
    }
    m_nShift = level->shift;
    m_nGeneration = builder->GetGeneration();
    // Grey values through the photograph's own grey map, as the stereo view shows them.
    const std::array<float, 256>& map = doc->m_leftPhoto.m_greyMap;
    QImage picture(level->width, level->height, QImage::Format_RGB32);
    for (int r = 0; r < level->height; ++r) {
        const unsigned char* src = level->pixels.data() + static_cast<size_t>(r) * level->width;
        auto* dst = reinterpret_cast<QRgb*>(picture.scanLine(r));
        for (int c = 0; c < level->width; ++c) {
            const int g = std::clamp(static_cast<int>(std::lround(map[src[c]] * 255.0f)), 0, 255);
            dst[c] = qRgb(g, g, g);
        }
    }
    m_picture = picture;
    ComputeDensity();
}

void COverviewWidget::RefreshDensity() {
    ComputeDensity();
    update();
}

void COverviewWidget::ComputeDensity() {
    COrvaneDoc* doc = Document();
    const QRectF target = ImageRect();
    if (!doc || m_picture.isNull() || target.isEmpty() || !doc->m_leftPhoto.m_pImagePoints) {
        m_density = QImage();
        return;
    }
    m_nDensityEdits = doc->EditGeneration();
    // One cell per widget pixel the photograph is drawn on.
    const int w = std::max(1, static_cast<int>(std::lround(target.width())));
    const int h = std::max(1, static_cast<int>(std::lround(target.height())));
    PointDensity grid;
    if (ComputePointDensity(doc->m_points, *doc->m_leftPhoto.m_pImagePoints, m_nColumns, m_nRows, w,
                            h, grid) < 0) {
        m_density = QImage();
        return;
    }
    // Shaded in the points' colour, more opaque where more points lie
    // (logarithmically, so that a sparse area still shows).
    const RGBColor colour = m_pView ? m_pView->m_rgbPoints : RGBColor{0, 255, 255};
    QImage density(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int r = 0; r < h; ++r) {
        auto* dst = reinterpret_cast<QRgb*>(density.scanLine(r));
        for (int c = 0; c < w; ++c) {
            const int alpha = DensityAlpha(grid.counts[static_cast<size_t>(r) * w + c], grid.most);
            dst[c] = qPremultiply(qRgba(colour.r, colour.g, colour.b, alpha));
        }
    }
    m_density = density;
}

void COverviewWidget::paintEvent(QPaintEvent*) {
    UpdatePicture();
    QPainter painter(this);
    painter.fillRect(rect(), QColor(48, 48, 48));
    const QRectF target = ImageRect();
    if (target.isEmpty()) return;
    if (m_picture.isNull()) {
        painter.setPen(QColor(200, 200, 200));
        const COrvaneDoc* doc = Document();
        const bool building = doc && doc->m_overview.IsBuilding();
        painter.drawText(rect(), Qt::AlignCenter,
                         building ? QStringLiteral("Building the overview...") : QString());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, m_picture);
    if (!m_density.isNull()) painter.drawImage(target, m_density);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Marked positions as dots.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 128, 0));
    for (const QPointF& p : m_marked) painter.drawEllipse(ToWidget(p), 2.5, 2.5);
    // The stereo view's rectangle.
    const QRectF view = ViewRect();
    if (!view.isEmpty()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 0), 1.5));
        painter.drawRect(QRectF(ToWidget(view.topLeft()), ToWidget(view.bottomRight())));
    }
}

COverviewDock::COverviewDock(QWidget* parent)
    : QDockWidget(QStringLiteral("Overview"), parent), m_pOverview(new COverviewWidget(this)) {
    setObjectName(QStringLiteral("Overview"));
    setWidget(m_pOverview);
}
