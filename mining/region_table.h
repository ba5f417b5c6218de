#pragma once

#include <array>
#include <string_view>

namespace morvane {

// The regions of the region list, in list order; an entry's area id is its position. Names are UTF-8.
inline constexpr std::array<std::string_view, 31> RegionTable = {
    "不限", "北京", "上海", "天津", "广东", "福建", "海南",   "安徽", "贵州", "甘肃", "广西",
    "河北", "河南", "吉林", "江苏", "江西", "辽宁", "内蒙古", "宁夏", "青海", "山东", "山西",
    "陕西", "四川", "西藏", "新疆", "云南", "浙江", "重庆",   "香港", "台湾"};

// The area id of the entry at position; -1 for a position outside the table.
constexpr int AreaIdAt(int position) {
    return position >= 0 && position < static_cast<int>(RegionTable.size()) ? position : -1;
}

} // namespace morvane
