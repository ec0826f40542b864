// A series as pixel points, and the reduction that keeps the picture while
// dropping the points that cannot show.
#pragma once

#include <vector>

#include "plot/PlotCanvas.h"

class CAltimeter;

// One point per sample: sample i at (MapX(i / 10), MapY(series[i])).
void MapSeries(const CAltimeter& plot, const std::vector<double>& series, std::vector<PlotPoint>& points);

// Each run of consecutive points in one pixel column becomes its first, its
// lowest, its highest and its last point, in their order (M4 aggregation).
// Lines within a column are vertical, so the kept ones cover the same pixels
// as all of them; the lines between columns are kept as they are.
void ReduceToColumns(const std::vector<PlotPoint>& points, std::vector<PlotPoint>& reduced);

// One line from each point to the next.
void DrawSegments(PlotCanvas& canvas, const PlotPen& pen, const std::vector<PlotPoint>& points);

// The same picture from reduced points with fewer lines: a column's vertical
// lines all lie within its lowest-to-highest line, so that one line stands for
// them, and each column is joined to the next as before. At most two lines a
// column.
void DrawColumns(PlotCanvas& canvas, const PlotPen& pen, const std::vector<PlotPoint>& reduced);
