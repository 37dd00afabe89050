// The overview dock: the whole left photograph reduced to fit the dock, with
// the rectangle the active stereo view shows, the points as a density shading
// and marked positions as dots. A click or a drag scrolls the stereo view so
// that the place is at its centre.
//
// Coordinates: sub-image pixels of the left photograph (column, row down from
// the top; the stereo view's logical coordinates) and widget pixels of the
// overview; the photograph is drawn into ImageRect(), scaled alike in x and y.
#pragma once

#include <QDockWidget>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <cstdint>
#include <vector>

class COrvaneView;
class COrvaneDoc;

class COverviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit COverviewWidget(QWidget* parent = nullptr);

    // The stereo view whose photograph and rectangle are shown (null: none).
    void SetView(COrvaneView* view);
    COrvaneView* GetView() const { return m_pView; }

    // Positions to show as dots (sub-image pixels of the left photograph),
    // e.g. points still to be checked; an empty list removes them.
    void SetMarkedPositions(std::vector<QPointF> positions);
    const std::vector<QPointF>& GetMarkedPositions() const { return m_marked; }

    // Counts the live ground points again at their left image positions.
    void RefreshDensity();

    // Where the photograph is drawn in the widget (empty without a photograph).
    QRectF ImageRect() const;
    // The stereo view's visible rectangle in sub-image pixels (empty without one).
    QRectF ViewRect() const;
    QPointF ToImage(QPointF widget) const;
    QPointF ToWidget(QPointF subImage) const;
    // Scrolls the stereo view so that the sub-image position is at its centre.
    void CentreViewOn(QPointF subImage);
    // The pyramid level shown now is ready (the build finished).
    bool HasPicture() const { return !m_picture.isNull(); }

    QSize sizeHint() const override { return QSize(280, 280); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    COrvaneDoc* Document() const;
    // The grey picture and the density shading for the current size and pyramid.
    void UpdatePicture();
    void ComputeDensity();

    QPointer<COrvaneView> m_pView;
    std::vector<QMetaObject::Connection> m_connections;
    QImage m_picture;        // the pyramid level through the photograph's grey map
    QImage m_density;        // the points near each widget pixel, as a translucent shading
    int m_nShift = -1;       // the level shown: 2^shift sub-image pixels per level pixel
    int m_nGeneration = -1;  // the builder's generation it was made from
    int m_nColumns = 0, m_nRows = 0;
    std::vector<QPointF> m_marked;
    // The project's edit generation the shading was counted at: a picture
    // drawn after any change of the points counts them again.
    std::uint64_t m_nDensityEdits = 0;
};

class COverviewDock : public QDockWidget {
    Q_OBJECT
public:
    explicit COverviewDock(QWidget* parent = nullptr);
    COverviewWidget* GetOverview() const { return m_pOverview; }

private:
    COverviewWidget* m_pOverview;
};
