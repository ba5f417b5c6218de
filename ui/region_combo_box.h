#pragma once

#include <QComboBox>

namespace morvane::ui {

// The region drop-down list: pick-only, its entries carrying their area ids, and a list that opens below the
// box so that box and list together are kOpenHeight high.
class RegionComboBox : public QComboBox {
public:
    // Height of the opened control, closed box and list together.
    static constexpr int kOpenHeight = 160;

    explicit RegionComboBox(QWidget* parent = nullptr);

    // The height of one row of the opened list: one pixel taller than the font's standard row.
    int RowHeight() const;

    void showPopup() override;
};

} // namespace morvane::ui
