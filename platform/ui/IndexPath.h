#ifndef PLATFORM_UI_INDEX_PATH_H
#define PLATFORM_UI_INDEX_PATH_H
// The place of a row in a table: its section and its row within that section. Index paths
// order by section, then by row, which is the order of the rows down the table.

#include <cstddef>
#include <functional>
#include <ostream>

namespace ui {

struct IndexPath {
    int section = 0;
    int row = 0;

    IndexPath() = default;
    IndexPath(int s, int r) : section(s), row(r) {}

    bool operator==(const IndexPath& o) const { return section == o.section && row == o.row; }
    bool operator!=(const IndexPath& o) const { return !(*this == o); }
    bool operator<(const IndexPath& o) const {
        return section != o.section ? section < o.section : row < o.row;
    }
    bool operator>(const IndexPath& o) const { return o < *this; }
    bool operator<=(const IndexPath& o) const { return !(o < *this); }
    bool operator>=(const IndexPath& o) const { return !(*this < o); }
};

// "[section, row]", for test failure messages and logs.
std::ostream& operator<<(std::ostream& os, const IndexPath& p);

}  // namespace ui

namespace std {
template <>
struct hash<ui::IndexPath> {
    size_t operator()(const ui::IndexPath& p) const noexcept;
};
}  // namespace std

#endif  // PLATFORM_UI_INDEX_PATH_H
