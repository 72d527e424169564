#include "platform/ui/Font.h"

#include <cmath>

#include "platform/ui/Geometry.h"
#include "platform/ui/TextMeasure.h"

namespace ui {

Font::Font() : Font("System", 17) {}

Font::Font(std::string name, double pointSize)
    : name_(std::move(name)), pointSize_(pointSize > 0 ? pointSize : 0) {}

Font Font::SystemFont(double pointSize) { return Font("System", pointSize); }

Font Font::BoldSystemFont(double pointSize) { return Font("System-Bold", pointSize); }

Font Font::Named(std::string name, double pointSize) { return Font(std::move(name), pointSize); }

bool Font::IsBold() const { return name_.find("Bold") != std::string::npos; }

double Font::LineHeight() const { return TextMeasure::LineHeight(*this); }

bool Font::operator==(const Font& o) const {
    return name_ == o.name_ && NearlyEqual(pointSize_, o.pointSize_);
}

std::ostream& operator<<(std::ostream& os, const Font& f) {
    return os << f.Name() << " " << f.PointSize();
}

}  // namespace ui
