#pragma once
// The standard and test headers that nearly every test file needs, and the
// row-pointer tables the library takes for owned rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace velmora_test {

template <class T>
std::vector<T*> Pointers(std::vector<std::vector<T>>& rows)
{
    std::vector<T*> table;
    for (auto& row : rows)
        table.push_back(row.data());
    return table;
}

} // namespace velmora_test
