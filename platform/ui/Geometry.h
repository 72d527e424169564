#ifndef PLATFORM_UI_GEOMETRY_H
#define PLATFORM_UI_GEOMETRY_H
// Points, sizes, rectangles, edge insets and the two transforms of the view models. Coordinates
// are points as doubles, y growing downwards. Comparisons allow kGeometryTolerance, so values
// reached through different arithmetic (a rotation and back, a sum of thirds) still compare
// equal.

#include <array>
#include <ostream>

namespace ui {

constexpr double kGeometryTolerance = 1e-6;

// |a - b| within kGeometryTolerance.
bool NearlyEqual(double a, double b);

struct Point {
    double x = 0;
    double y = 0;

    Point() = default;
    Point(double px, double py) : x(px), y(py) {}
    bool operator==(const Point& o) const;
    bool operator!=(const Point& o) const { return !(*this == o); }
};

struct Size {
    double width = 0;
    double height = 0;

    Size() = default;
    Size(double w, double h) : width(w), height(h) {}
    bool operator==(const Size& o) const;
    bool operator!=(const Size& o) const { return !(*this == o); }
};

// Insets from each edge, as the platform orders them: top, left, bottom, right.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    EdgeInsets() = default;
    EdgeInsets(double t, double l, double b, double r) : top(t), left(l), bottom(b), right(r) {}
    bool operator==(const EdgeInsets& o) const;
    bool operator!=(const EdgeInsets& o) const { return !(*this == o); }
};

// A rectangle may carry a negative width or height; the Min/Max accessors and the operations
// below work on its standardised form (the same rectangle with a non-negative size), as the
// platform's rectangle functions do.
struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double w, double h) : origin(x, y), size(w, h) {}
    Rect(Point o, Size s) : origin(o), size(s) {}

    double X() const { return origin.x; }
    double Y() const { return origin.y; }
    double Width() const { return size.width; }
    double Height() const { return size.height; }
    double MinX() const;
    double MidX() const;
    double MaxX() const;
    double MinY() const;
    double MidY() const;
    double MaxY() const;
    Point Center() const { return Point(MidX(), MidY()); }

    // The same rectangle with a non-negative width and height.
    Rect Standardized() const;
    // A zero (within tolerance) width or height.
    bool IsEmpty() const;
    // Half-open: the minimum edges belong to the rectangle, the maximum edges do not.
    bool Contains(const Point& p) const;
    bool Contains(const Rect& r) const;
    // Whether the two share an area of non-zero size.
    bool Intersects(const Rect& r) const;
    // The shared area; an empty rectangle at the origin when there is none.
    Rect Intersection(const Rect& r) const;
    // The smallest rectangle holding both; an empty one counts as absent.
    Rect Union(const Rect& r) const;
    Rect Offset(double dx, double dy) const;
    // Shrinks by dx on the left and right and dy on the top and bottom (grows when negative).
    Rect Inset(double dx, double dy) const;
    Rect Inset(const EdgeInsets& insets) const;
    // Floors the origin and ceils the far edges: the smallest whole-point rectangle holding it.
    Rect Integral() const;
    // Each of x, y, width and height rounded to the nearest whole point (halves away from zero).
    Rect Round() const;

    bool operator==(const Rect& o) const;
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

// The 2-D affine transform of a view, in the platform's row-vector form:
//     [x' y' 1] = [x y 1] * | a  b  0 |
//                           | c  d  0 |
//                           | tx ty 1 |
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    AffineTransform() = default;
    AffineTransform(double pa, double pb, double pc, double pd, double ptx, double pty)
        : a(pa), b(pb), c(pc), d(pd), tx(ptx), ty(pty) {}

    static AffineTransform Identity() { return AffineTransform(); }
    static AffineTransform MakeScale(double sx, double sy);
    // Counter-clockwise in the maths sense, which is clockwise on a y-down screen.
    static AffineTransform MakeRotation(double radians);
    static AffineTransform MakeTranslation(double tx, double ty);

    bool IsIdentity() const;
    // This transform followed by `then`.
    AffineTransform Concat(const AffineTransform& then) const;
    AffineTransform Scaled(double sx, double sy) const;      // scale first, then this
    AffineTransform Rotated(double radians) const;           // rotation first, then this
    AffineTransform Translated(double tx, double ty) const;  // translation first, then this
    // The inverse; the transform itself when it cannot be inverted (a zero determinant).
    AffineTransform Inverted() const;
    Point Apply(const Point& p) const;
    // The transformed size vector (no translation).
    Size ApplyToSize(const Size& s) const;
    // The bounding box of the transformed corners.
    Rect Apply(const Rect& r) const;

    bool operator==(const AffineTransform& o) const;
    bool operator!=(const AffineTransform& o) const { return !(*this == o); }
};

// The bounding box of the four corners of r, each taken through map (a Point -> Point
// function): how a rectangle crosses a transform or a change of coordinates.
template <class Map>
Rect BoundingRectOfMappedCorners(const Rect& r, Map&& map) {
    const Point p[4] = {map(Point(r.MinX(), r.MinY())), map(Point(r.MaxX(), r.MinY())),
                        map(Point(r.MinX(), r.MaxY())), map(Point(r.MaxX(), r.MaxY()))};
    double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
    for (const Point& q : p) {
        x0 = q.x < x0 ? q.x : x0;
        x1 = q.x > x1 ? q.x : x1;
        y0 = q.y < y0 ? q.y : y0;
        y1 = q.y > y1 ? q.y : y1;
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

// The 4x4 transform of a layer, row-vector form like AffineTransform: m[row][column], with the
// translation in row 3. Used by layer transform animations ("transform", "transform.rotation",
// "transform.scale").
struct Transform3D {
    std::array<std::array<double, 4>, 4> m{
        {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

    static Transform3D Identity() { return Transform3D(); }
    static Transform3D MakeScale(double sx, double sy, double sz);
    static Transform3D MakeTranslation(double tx, double ty, double tz);
    // Rotation by `radians` about the axis (x, y, z) (need not be of unit length; a zero axis
    // gives the identity). About (0, 0, 1) it equals AffineTransform::MakeRotation.
    static Transform3D MakeRotation(double radians, double x, double y, double z);
    // The 2-D transform embedded (z untouched).
    static Transform3D FromAffine(const AffineTransform& t);

    bool IsIdentity() const;
    // This transform followed by `then`.
    Transform3D Concat(const Transform3D& then) const;
    // Whether only the 2-D part is used, and that part.
    bool IsAffine() const;
    AffineTransform ToAffine() const;
    // The rotation about z of the 2-D part (atan2 of its first row), in (-pi, pi].
    double RotationZ() const;

    bool operator==(const Transform3D& o) const;
    bool operator!=(const Transform3D& o) const { return !(*this == o); }
};

// For test failure messages.
std::ostream& operator<<(std::ostream& os, const Point& p);
std::ostream& operator<<(std::ostream& os, const Size& s);
std::ostream& operator<<(std::ostream& os, const Rect& r);
std::ostream& operator<<(std::ostream& os, const EdgeInsets& e);
std::ostream& operator<<(std::ostream& os, const AffineTransform& t);
std::ostream& operator<<(std::ostream& os, const Transform3D& t);

}  // namespace ui

#endif  // PLATFORM_UI_GEOMETRY_H
