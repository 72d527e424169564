#include "platform/ui/Geometry.h"

#include <algorithm>
#include <cmath>

namespace ui {

bool NearlyEqual(double a, double b) { return std::fabs(a - b) <= kGeometryTolerance; }

bool Point::operator==(const Point& o) const { return NearlyEqual(x, o.x) && NearlyEqual(y, o.y); }

bool Size::operator==(const Size& o) const {
    return NearlyEqual(width, o.width) && NearlyEqual(height, o.height);
}

bool EdgeInsets::operator==(const EdgeInsets& o) const {
    return NearlyEqual(top, o.top) && NearlyEqual(left, o.left) && NearlyEqual(bottom, o.bottom) &&
           NearlyEqual(right, o.right);
}

double Rect::MinX() const { return std::min(origin.x, origin.x + size.width); }
double Rect::MaxX() const { return std::max(origin.x, origin.x + size.width); }
double Rect::MidX() const { return origin.x + size.width / 2; }
double Rect::MinY() const { return std::min(origin.y, origin.y + size.height); }
double Rect::MaxY() const { return std::max(origin.y, origin.y + size.height); }
double Rect::MidY() const { return origin.y + size.height / 2; }

Rect Rect::Standardized() const {
    return Rect(MinX(), MinY(), std::fabs(size.width), std::fabs(size.height));
}

bool Rect::IsEmpty() const { return NearlyEqual(size.width, 0) || NearlyEqual(size.height, 0); }

bool Rect::Contains(const Point& p) const {
    return p.x >= MinX() && p.x < MaxX() && p.y >= MinY() && p.y < MaxY();
}

bool Rect::Contains(const Rect& r) const {
    return r.MinX() >= MinX() && r.MaxX() <= MaxX() && r.MinY() >= MinY() && r.MaxY() <= MaxY();
}

bool Rect::Intersects(const Rect& r) const { return !Intersection(r).IsEmpty(); }

Rect Rect::Intersection(const Rect& r) const {
    double x0 = std::max(MinX(), r.MinX());
    double x1 = std::min(MaxX(), r.MaxX());
    double y0 = std::max(MinY(), r.MinY());
    double y1 = std::min(MaxY(), r.MaxY());
    if (x1 - x0 <= kGeometryTolerance || y1 - y0 <= kGeometryTolerance) {
        return Rect();
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::Union(const Rect& r) const {
    if (IsEmpty()) {
        return r.Standardized();
    }
    if (r.IsEmpty()) {
        return Standardized();
    }
    double x0 = std::min(MinX(), r.MinX());
    double y0 = std::min(MinY(), r.MinY());
    return Rect(x0, y0, std::max(MaxX(), r.MaxX()) - x0, std::max(MaxY(), r.MaxY()) - y0);
}

Rect Rect::Offset(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}

Rect Rect::Inset(double dx, double dy) const {
    Rect s = Standardized();
    return Rect(s.origin.x + dx, s.origin.y + dy, s.size.width - 2 * dx, s.size.height - 2 * dy);
}

Rect Rect::Inset(const EdgeInsets& e) const {
    return Rect(origin.x + e.left, origin.y + e.top, size.width - e.left - e.right,
                size.height - e.top - e.bottom);
}

Rect Rect::Integral() const {
    double x0 = std::floor(MinX());
    double y0 = std::floor(MinY());
    return Rect(x0, y0, std::ceil(MaxX()) - x0, std::ceil(MaxY()) - y0);
}

Rect Rect::Round() const {
    return Rect(std::round(origin.x), std::round(origin.y), std::round(size.width),
                std::round(size.height));
}

bool Rect::operator==(const Rect& o) const { return origin == o.origin && size == o.size; }

AffineTransform AffineTransform::MakeScale(double sx, double sy) {
    return AffineTransform(sx, 0, 0, sy, 0, 0);
}

AffineTransform AffineTransform::MakeRotation(double radians) {
    double c = std::cos(radians);
    double s = std::sin(radians);
    return AffineTransform(c, s, -s, c, 0, 0);
}

AffineTransform AffineTransform::MakeTranslation(double x, double y) {
    return AffineTransform(1, 0, 0, 1, x, y);
}

bool AffineTransform::IsIdentity() const { return *this == AffineTransform(); }

AffineTransform AffineTransform::Concat(const AffineTransform& t) const {
    return AffineTransform(a * t.a + b * t.c, a * t.b + b * t.d, c * t.a + d * t.c,
                           c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx,
                           tx * t.b + ty * t.d + t.ty);
}

AffineTransform AffineTransform::Scaled(double sx, double sy) const {
    return MakeScale(sx, sy).Concat(*this);
}

AffineTransform AffineTransform::Rotated(double radians) const {
    return MakeRotation(radians).Concat(*this);
}

AffineTransform AffineTransform::Translated(double x, double y) const {
    return MakeTranslation(x, y).Concat(*this);
}

AffineTransform AffineTransform::Inverted() const {
    double det = a * d - b * c;
    if (std::fabs(det) < 1e-12) {
        return *this;
    }
    return AffineTransform(d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det,
                           (b * tx - a * ty) / det);
}

Point AffineTransform::Apply(const Point& p) const {
    return Point(a * p.x + c * p.y + tx, b * p.x + d * p.y + ty);
}

Size AffineTransform::ApplyToSize(const Size& s) const {
    return Size(a * s.width + c * s.height, b * s.width + d * s.height);
}

Rect AffineTransform::Apply(const Rect& r) const {
    return BoundingRectOfMappedCorners(r, [this](const Point& p) { return Apply(p); });
}

bool AffineTransform::operator==(const AffineTransform& o) const {
    return NearlyEqual(a, o.a) && NearlyEqual(b, o.b) && NearlyEqual(c, o.c) &&
           NearlyEqual(d, o.d) && NearlyEqual(tx, o.tx) && NearlyEqual(ty, o.ty);
}

Transform3D Transform3D::MakeScale(double sx, double sy, double sz) {
    Transform3D t;
    t.m[0][0] = sx;
    t.m[1][1] = sy;
    t.m[2][2] = sz;
    return t;
}

Transform3D Transform3D::MakeTranslation(double tx, double ty, double tz) {
    Transform3D t;
    t.m[3][0] = tx;
    t.m[3][1] = ty;
    t.m[3][2] = tz;
    return t;
}

Transform3D Transform3D::MakeRotation(double radians, double x, double y, double z) {
    double len = std::sqrt(x * x + y * y + z * z);
    if (len < 1e-12) {
        return Transform3D();
    }
    x /= len;
    y /= len;
    z /= len;
    double c = std::cos(radians);
    double s = std::sin(radians);
    double k = 1 - c;
    // The rotation matrix of Rodrigues' formula, transposed for the row-vector form.
    Transform3D t;
    t.m[0] = {x * x * k + c, x * y * k + z * s, x * z * k - y * s, 0};
    t.m[1] = {y * x * k - z * s, y * y * k + c, y * z * k + x * s, 0};
    t.m[2] = {z * x * k + y * s, z * y * k - x * s, z * z * k + c, 0};
    return t;
}

Transform3D Transform3D::FromAffine(const AffineTransform& a) {
    Transform3D t;
    t.m[0][0] = a.a;
    t.m[0][1] = a.b;
    t.m[1][0] = a.c;
    t.m[1][1] = a.d;
    t.m[3][0] = a.tx;
    t.m[3][1] = a.ty;
    return t;
}

bool Transform3D::IsIdentity() const { return *this == Transform3D(); }

Transform3D Transform3D::Concat(const Transform3D& o) const {
    Transform3D r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) {
                sum += m[i][k] * o.m[k][j];
            }
            r.m[i][j] = sum;
        }
    }
    return r;
}

bool Transform3D::IsAffine() const {
    return NearlyEqual(m[0][2], 0) && NearlyEqual(m[0][3], 0) && NearlyEqual(m[1][2], 0) &&
           NearlyEqual(m[1][3], 0) && NearlyEqual(m[2][0], 0) && NearlyEqual(m[2][1], 0) &&
           NearlyEqual(m[2][2], 1) && NearlyEqual(m[2][3], 0) && NearlyEqual(m[3][2], 0) &&
           NearlyEqual(m[3][3], 1);
}

AffineTransform Transform3D::ToAffine() const {
    return AffineTransform(m[0][0], m[0][1], m[1][0], m[1][1], m[3][0], m[3][1]);
}

double Transform3D::RotationZ() const { return std::atan2(m[0][1], m[0][0]); }

bool Transform3D::operator==(const Transform3D& o) const {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (!NearlyEqual(m[i][j], o.m[i][j])) {
                return false;
            }
        }
    }
    return true;
}

std::ostream& operator<<(std::ostream& os, const Point& p) {
    return os << "(" << p.x << ", " << p.y << ")";
}

std::ostream& operator<<(std::ostream& os, const Size& s) {
    return os << "(" << s.width << " x " << s.height << ")";
}

std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << ", "
              << r.size.height << ")";
}

std::ostream& operator<<(std::ostream& os, const EdgeInsets& e) {
    return os << "{" << e.top << ", " << e.left << ", " << e.bottom << ", " << e.right << "}";
}

std::ostream& operator<<(std::ostream& os, const AffineTransform& t) {
    return os << "[" << t.a << " " << t.b << " " << t.c << " " << t.d << " " << t.tx << " " << t.ty
              << "]";
}

std::ostream& operator<<(std::ostream& os, const Transform3D& t) {
    os << "[";
    for (int i = 0; i < 4; ++i) {
        os << (i ? "; " : "") << t.m[i][0] << " " << t.m[i][1] << " " << t.m[i][2] << " "
           << t.m[i][3];
    }
    return os << "]";
}

}  // namespace ui
