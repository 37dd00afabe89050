// A nanoflann KD-tree over the x/y of a point set (ground or sub-image
// coordinates, as the set holds them): the plain library the grid index and
// the neighbour searches are measured against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nanoflann.hpp>

#include "TIN/TINPoints.h"

namespace bench {

// nanoflann's view of every record of a set, deleted ones included.
struct PointsXYAdaptor {
    const CTINPoints* set;
    size_t kdtree_get_point_count() const { return size_t(set->GetCount()); }
    double kdtree_get_pt(size_t i, size_t dim) const {
        const TINPoint* p = set->GetPoint(int(i));
        return dim == 0 ? double(p->x) : double(p->y);
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

using PointsKDTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, PointsXYAdaptor>,
                                        PointsXYAdaptor, 2, uint32_t>;

}  // namespace bench
