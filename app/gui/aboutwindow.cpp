// About window: one read-only page of help.
#include "aboutwindow.h"

#include "version.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const char* const helpText = R"(
<h2>knnbench %1</h2>
<p>A test bench for k-nearest-neighbour search: name a data file and a query file, choose the options
and press <b>OK</b>. The run loads both files, writes a report (the statistics of the data columns and
every option), builds the chosen structure, answers every query and shows the data, the queries with
their neighbours and distances, and a chart. <b>Cancel</b> or Esc stops a run in any phase.</p>

<h3>Options</h3>
<p>Each option with an <b>Auto</b> box keeps its default while the box is ticked; untick it to set the
value. <b>Enable all options</b> unticks them all at once.</p>
<ul>
<li><b>NN Amount</b>: the number k of nearest data points found for each query (at most the number of
data points).</li>
<li><b>Dimensions</b>: how many coordinates of each line are used; Auto takes the file's column
count.</li>
<li><b>Error bound</b> (eps): approximate search. A reported neighbour may be up to (1 + eps) times
farther than the true one; 0 finds the exact neighbours.</li>
<li><b>Max data</b>: shows the number of data lines of the last load.</li>
<li><b>Distance metric</b>: Manhattan (sum of absolute differences), Euclidean (straight-line
distance), Chebyshev (largest coordinate difference) or Custom, the L<sub>p</sub> metric with the power
P.</li>
<li><b>Search mode</b>: <i>brute force</i> compares each query with every data point; the
<i>unbalanced tree (kd)</i> cuts space by planes into buckets; the <i>balanced tree (bd)</i> also
shrinks boxes around clusters, which keeps it shallow on clustered data.</li>
<li><b>Search range</b>: <i>standard</i> searches the tree depth first; <i>fixed radius</i> reports only
neighbours within the radius R (the bound is R squared in the metric's own units, whatever the metric);
<i>priority</i> visits the cells in order of their distance to the query (trees only).</li>
<li><b>Tree bucket size</b>: the most points a leaf of the tree holds.</li>
<li><b>Splitting rule</b>: where a tree cuts a cell. <i>Standard kd</i> cuts the widest spread at the
median; <i>midpoint</i> cuts the longest side in the middle; <i>fair</i> keeps cells from getting too
thin; the <i>sliding</i> rules move a cut that would leave a side empty to the nearest point;
<i>default</i> is sliding midpoint.</li>
<li><b>Shrinking rule</b> (bd-tree): <i>none</i>, <i>simple</i> (shrink to the points' bounding box when
it is much smaller), <i>centroid</i> (shrink around the points' centre) or <i>default</i> (simple).</li>
<li><b>Early termination</b>: a tree search stops after visiting <b>Max</b> data points (0: no limit);
the answers may then be approximate.</li>
<li><b>Display search statistics</b>: writes the statistics of each data column into the report.
<b>Show graph</b>: draws the chart. Zoom it with the mouse wheel or by dragging a rectangle, pan it
with the right button, and double-click to see everything again.</li>
</ul>

<h3>Point files</h3>
<p>Plain text, one point per line; the coordinates are separated by blanks, tabs or other control
characters. Either "." or "," may be the decimal mark. The data and query files must have the same
number of columns. For example:</p>
<pre>1.5 2.25
-0,5 3
</pre>
)";

} // namespace

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("AboutWindow"));
    setWindowTitle(QStringLiteral("About knnbench"));
    text = new QTextBrowser(this);
    text->setObjectName(QStringLiteral("AboutText"));
    text->setHtml(QString::fromUtf8(helpText).arg(QString::fromUtf8(knn::ProgramVersion)));
    auto* column = new QVBoxLayout(this);
    column->addWidget(text);
    resize(560, 600);
}
